#!/usr/bin/env python3
"""Tests of check_dialog_templates.py and of the templates in resources/dialogs.

Run: python3 scripts/test_check_dialog_templates.py
"""
import copy
import json
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_dialog_templates as checker  # noqa: E402

DIALOGS = os.path.join(os.path.dirname(HERE), "resources", "dialogs")

VALID = {
    "format": "axiscore-dialog", "version": 1, "id": 900, "caption": "Sample", "width": 300,
    "height": 200, "helpContext": 5,
    "controls": [
        {"id": 100, "kind": "group", "caption": "Box", "rect": [8, 8, 284, 80]},
        {"id": 101, "kind": "label", "caption": "Gain", "rect": [16, 28, 100, 22], "parent": 100},
        {"id": 102, "kind": "edit", "rect": [120, 28, 80, 22], "parent": 100},
        {"id": 103, "kind": "unit", "rect": [206, 28, 60, 22], "parent": 100},
        {"id": 104, "kind": "edit", "rect": [120, 28, 80, 22], "parent": 100, "visible": False},
        {"id": 200, "kind": "tab", "rect": [8, 96, 284, 60], "pages": ["One", "Two"]},
        {"id": 201, "kind": "check", "caption": "&Use", "rect": [16, 120, 100, 22], "parent": 200,
         "page": 0},
        {"id": 202, "kind": "check", "caption": "Fish && chips", "rect": [16, 120, 100, 22],
         "parent": 200, "page": 1},
        {"id": 1, "kind": "button", "caption": "OK", "rect": [120, 166, 80, 24]},
        {"id": 2, "kind": "button", "caption": "Cancel", "rect": [208, 166, 80, 24]},
    ],
}


def control(doc, cid):
    return next(c for c in doc["controls"] if c["id"] == cid)


def set_member(cid, name, value):
    def mutate(doc):
        control(doc, cid)[name] = value
    return mutate


def drop_member(cid, name):
    def mutate(doc):
        del control(doc, cid)[name]
    return mutate


def set_top(name, value):
    def mutate(doc):
        doc[name] = value
    return mutate


def append(ctl):
    def mutate(doc):
        doc["controls"].append(ctl)
    return mutate


def run_checker(doc, name="900-sample.json"):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, name)
        with open(path, "w", encoding="utf-8") as f:
            if isinstance(doc, str):
                f.write(doc)
            else:
                json.dump(doc, f)
        return checker.Checker(path).check()


class CheckerTest(unittest.TestCase):
    def test_valid_template_is_clean(self):
        # Hidden 104 lies on 103's neighbour 102 and two checks share a place on different tab
        # pages: neither is an overlap.
        self.assertEqual(run_checker(VALID), [])

    def test_each_fault_is_reported(self):
        rows = [
            ("wrong format", set_top("format", "other"), '"format"'),
            ("wrong version", set_top("version", 2), "unsupported version"),
            ("missing controls", lambda d: d.pop("controls"), 'missing "controls"'),
            ("string width", set_top("width", "300"), '"width" has the wrong type'),
            ("bool id", set_top("id", True), '"id" has the wrong type'),
            ("unknown top member", set_top("colour", 1), 'unknown member "colour"'),
            ("file id differs", set_top("id", 901), "differs from id 901"),
            ("unknown kind", set_member(102, "kind", "slidr"), 'unknown kind "slidr"'),
            ("duplicate id", append({"id": 102, "kind": "label", "rect": [0, 0, 5, 5]}),
             "duplicate id"),
            ("missing rect", drop_member(101, "rect"), 'missing "rect"'),
            ("short rect", set_member(101, "rect", [1, 2, 3]), "four integers"),
            ("float rect", set_member(101, "rect", [16, 28, 100.5, 22]), "four integers"),
            ("empty rect", set_member(101, "rect", [16, 28, 0, 22]), "no area"),
            ("outside the dialog", set_member(1, "rect", [250, 166, 80, 24]),
             "outside the dialog"),
            ("negative position", set_member(2, "rect", [-1, 166, 80, 24]), "outside the dialog"),
            ("outside its group", set_member(103, "rect", [240, 28, 60, 22]), "outside parent 100"),
            ("overlapping siblings", set_member(103, "rect", [190, 28, 60, 22]),
             "overlaps visible sibling"),
            ("overlaps a group it is not in", set_member(1, "rect", [120, 80, 80, 24]),
             "overlaps visible sibling"),
            ("missing parent", set_member(101, "parent", 777), "parent 777 does not exist"),
            ("label as parent", set_member(102, "parent", 101), "not a group or tab"),
            ("own parent", set_member(100, "parent", 100), "its own parent"),
            ("page out of range", set_member(201, "page", 2), "page index of tab 200"),
            ("tab child without page", drop_member(202, "page"), "page index of tab 200"),
            ("page in a group", set_member(102, "page", 0), '"page" given for a group box'),
            ("page without parent", set_member(1, "page", 0), '"page" without a tab'),
            ("tab without pages", drop_member(200, "pages"), 'needs "pages"'),
            ("items on an edit", set_member(102, "items", ["a"]), '"items" is not allowed'),
            ("image on a label", set_member(101, "image", "X"), '"image" is not allowed'),
            ("picture without image", append({"id": 300, "kind": "picture",
                                              "rect": [8, 166, 60, 24]}), 'needs an "image"'),
            ("bad slider range", append({"id": 301, "kind": "slider", "rect": [8, 166, 60, 24],
                                         "range": [5, 1]}), '"range" must be'),
            ("two mnemonics", set_member(101, "caption", "&Gain &x"), "more than one"),
            ("lone ampersand", set_member(101, "caption", "Gain&"), 'lone "&"'),
            ("OK is not a button", set_member(1, "kind", "label"), "reserved for a"),
            ("guideline incomplete", append({"id": 9001, "kind": "button", "caption": "Previous",
                                             "rect": [8, 166, 80, 24]}), "must come together"),
            ("bool as string", set_member(104, "visible", "no"), '"visible" has the wrong type'),
        ]
        for name, mutate, expected in rows:
            with self.subTest(name):
                doc = copy.deepcopy(VALID)
                mutate(doc)
                problems = run_checker(doc)
                self.assertTrue(any(expected in p for p in problems), (expected, problems))

    def test_unreadable_files_do_not_crash(self):
        rows = [("not json", "{"), ("array", "[]"), ("empty", ""), ("controls not objects",
                json.dumps(dict(VALID, controls=[1, "x", None])))]
        for name, text in rows:
            with self.subTest(name):
                self.assertNotEqual(run_checker(text), [])

    def test_bad_file_name(self):
        self.assertTrue(any("file name" in p for p in run_checker(VALID, "Sample.json")))


# Controls the dialogs' behaviour refers to: (template, id, kind, caption or None).
NAMED = [
    (106, 3163, "edit", None), (106, 3166, "unit", None), (106, 3169, "edit", None),
    (106, 3170, "unit", None), (106, 3173, "edit", None), (106, 3176, "edit", None),
    (106, 3179, "edit", None), (106, 3180, "edit", None), (106, 3181, "edit", None),
    (106, 3182, "unit", None), (106, 3183, "edit", None), (106, 3389, "edit", None),
    (106, 3190, "edit", None), (106, 3191, "edit", None), (106, 3192, "edit", None),
    (106, 3193, "edit", None), (106, 3194, "edit", None), (106, 3195, "unit", None),
    (106, 3196, "edit", None), (106, 3197, "edit", None), (106, 1043, "edit", None),
    (106, 1044, "unit", None), (106, 3136, "combo", None), (106, 3318, "radio", None),
    (106, 3399, "label", None), (106, 3400, "label", None),
    (106, 3171, "button", "Detect"), (106, 3137, "button", "Tune && Test"),
    (106, 3178, "button", "Tune && Test"), (106, 3198, "button", "Tune && Test"),
    (106, 3370, "button", "Tune && Test"), (106, 3208, "button", "Setup"),
    (106, 3158, "button", "Advanced"), (106, 3159, "button", "Drive Info"),
    (106, 10019, "bitmapButton", "Motor setup"), (106, 10024, "button", "Help"),
    (106, 1, "button", "OK"), (106, 2, "button", "Cancel"), (106, 9001, "button", "Previous"),
    (106, 9002, "button", "Next"), (106, 9003, "text", None),
    # The drive setup dialog's groups and the controls it names by caption.
    (106, 5100, "group", "Control mode"), (106, 5101, "radio", "Position"),
    (106, 5102, "radio", "Speed"), (106, 5103, "radio", "Torque"),
    (106, 5200, "group", "Commutation method"), (106, 5201, "radio", "Trapezoidal"),
    (106, 5202, "radio", "Sinusoidal"), (106, 5300, "group", "External reference"),
    (106, 5301, "radio", "No"), (106, 5302, "radio", "Yes"),
    (106, 5303, "check", "Automatically activated after Power On"),
    (106, 3319, "radio", "Analogue"), (106, 5400, "group", "Drive operation parameters"),
    (106, 5401, "label", "Power supply"), (106, 5402, "label", "Current limit"),
    (106, 5500, "group", "Current controller"), (106, 5600, "group", "Speed controller"),
    (106, 5603, "label", "Integral limit"), (106, 5604, "label", "Feedforward"),
    (106, 5605, "label", "(Acceleration)"), (106, 5606, "label", "(Speed)"),
    (106, 5700, "group", "Position controller"), (106, 5704, "label", "Kd filter"),
    (106, 5705, "label", "Integral limit"), (106, 5706, "label", "Feedforward"),
    (106, 5707, "label", "(Speed)"), (106, 5708, "label", "(Acceleration)"),
    (106, 5709, "label", "Load speed limit"), (106, 5800, "group", "Protections"),
    (106, 5801, "check", "Over current"), (106, 5802, "label", "Motor current >"),
    (106, 5805, "label", "for more than"), (106, 5811, "check", "Control error"),
    (106, 5812, "label", "Position error >"), (106, 5815, "label", "for more than"),
    (106, 5821, "check", "Control error"), (106, 5822, "label", "Speed error >"),
    (106, 5825, "label", "for more than"), (106, 5831, "check", "Motor over temperature"),
    (106, 5841, "check", "I2t"), (106, 5842, "label", "Over current"),
    (106, 5845, "label", "for"), (106, 5900, "group", "External brake resistor"),
    (106, 5901, "check", "Connected"), (106, 5902, "label", "Activate if power supply >"),
    (106, 6000, "group", "Inputs polarity"), (106, 6010, "label", "Enable"),
    (106, 6020, "label", "Limit switch+"), (106, 6030, "label", "Limit switch-"),
    (106, 6041, "radio", "Source(NPN)"), (106, 6042, "radio", "Sink (PNP)"),
    (106, 6100, "group", "Software limit switches"),
    (106, 6101, "check", "Restrict movement between:"), (106, 6200, "group", "Start mode"),
    (106, 6201, "radio", "Move till aligned with phase A"),
    (106, 6202, "radio", "BLDC with Hall sensors"),
    (106, 6203, "radio", "Motionless start (encoder only)"),
    (106, 6204, "radio", "PMSM with Hall sensors"),
    (106, 6205, "label", "Current used (% of nominal current)"),
    (106, 6208, "label", "Time to align on phases"), (106, 6300, "group", "CANbus"),
    (106, 6301, "check", None), (106, 6303, "combo", None),
    (106, 6304, "button", "CANopen settings..."), (106, 6305, "check", None),
    (106, 6306, "label", "Set / change axis ID"), (106, 6400, "group", "Guideline assistant"),
    (120, 1201, "label", "Heartbeat producer time"), (120, 1202, "edit", None),
    (120, 1203, "unit", None), (120, 1211, "label", "Node guard time"),
    (120, 1212, "edit", None), (120, 1213, "unit", None),
    (120, 1221, "label", "Life time factor"), (120, 1222, "edit", None),
    (120, 1, "button", "OK"), (120, 2, "button", "Cancel"),
    (108, 1159, "edit", None), (108, 1160, "unit", None), (108, 1165, "edit", None),
    (108, 1176, "unit", None), (108, 1172, "edit", None), (108, 1173, "unit", None),
    (108, 3267, "label", "Motor moving part mass"),
    (108, 1178, "check", "Motor moving part mass is unknown"), (108, 1195, "radio", "Star"),
    (108, 1196, "radio", "Delta"), (108, 3352, "edit", None), (108, 3351, "unit", None),
    (108, 1182, "combo", None), (108, 3268, "label", "Hall configuration"),
    (108, 1181, "check", "Hall sensors"), (108, 1183, "check", "Temperature"),
    (108, 1184, "label", "Sensor type"), (108, 1185, "radio", "NTC"), (108, 1186, "radio", "PTC"),
    (108, 3359, "combo", None), (108, 3360, "check", None),
    (108, 3358, "check", "Reverse encoder counting"),
    (108, 1193, "radio", "Linear to linear"), (108, 1194, "radio", "Linear to rotary"),
    (108, 1163, "edit", None), (108, 1164, "unit", None), (108, 1174, "edit", None),
    (108, 1192, "unit", None), (108, 3373, "group", "Motor brake"),
    (108, 3376, "check", "Motor brake on output line :"), (108, 3377, "combo", None),
    (108, 3385, "edit", None), (108, 3386, "unit", None), (108, 3387, "edit", None),
    (108, 3388, "unit", None), (108, 3383, "label", "Brake release delay :"),
    (108, 3384, "label", "Brake apply delay :"), (108, 3381, "label", None),
    (108, 1175, "button", "Test Phase Connections"),
    (108, 1177, "button", "Identify Resistance and Inductance"),
    (108, 1187, "button", "Test Connections"), (108, 1189, "button", "Detect resolution"),
    (108, 1188, "button", "Test Connections"), (108, 1190, "button", "Detect Hall Configuration"),
    (108, 3404, "bitmapButton", "Switch h/w \nlimit switches"), (108, 3382, "picture", None),
    (108, 1, "bitmapButton", None), (108, 2, "button", "Cancel"), (108, 10024, "button", "Help"),
    (108, 10010, "combo", None), (108, 10012, "button", "Save to User Database"),
    (108, 10013, "button", "Delete"), (108, 9003, "text", None),
    (3056, 3333, "radio", "Increase total mass to match your motor mass (default)"),
    (3056, 3334, "radio", "Leave total mass unchanged and disregard motor mass"),
    (3056, 1, "button", "OK"),
    (110, 3344, "radio", "Close only position and current loop"),
    (110, 3345, "radio", "Close position, speed and current loop"),
    (110, 3347, "group", "Execute position and/or speed control in"),
    (110, 1146, "radio", "slow loop"), (110, 1147, "radio", "fast loop"),
    (110, 3355, "group", "Speed computation"),
    (110, 3356, "check", "Enable high resolution speed estimator"),
    (110, 1131, "label", "Fast loop sampling frequency divider"), (110, 1132, "edit", None),
    (110, 1134, "label", "Slow loop sampling frequency divider"), (110, 1135, "edit", None),
    (110, 1129, "edit", None), (110, 1130, "unit", None),
    (110, 1140, "label", "Fast loop sampling period"), (110, 1141, "edit", None),
    (110, 1143, "label", "Slow loop sampling period"), (110, 1144, "edit", None),
    (110, 1138, "edit", None), (110, 1139, "unit", None),
    (110, 1148, "mark", "OUTSIDE LIMITS ->"), (110, 1149, "mark", "OUTSIDE LIMITS ->"),
    (110, 3376, "group", "Apply speed feedforward to"), (110, 3374, "radio", "speed loop"),
    (110, 3375, "radio", "current loop"), (110, 3391, "group", "Freeze control"),
    (110, 3392, "check", "Set freeze control parameters"), (110, 3395, "edit", None),
    (110, 3396, "unit", None), (110, 3397, "edit", None), (110, 3398, "unit", None),
    (110, 3280, "picture", None), (110, 10024, "button", "Help"),
    (295, 3484, "group", "Filter 1"), (295, 3492, "group", "Filter 2"),
    (295, 3517, "group", "Filter 3"), (295, 3485, "check", "Off"), (295, 3493, "check", "Off"),
    (295, 3518, "check", "Off"), (295, 3503, "label", "Location"), (295, 3502, "combo", None),
    (295, 3527, "label", "Location"), (295, 3526, "combo", None), (295, 3486, "label", "Type"),
    (295, 3519, "combo", None), (295, 3520, "label", "Type"), (295, 3488, "label", "Q"),
    (295, 3489, "edit", None), (295, 3523, "edit", None), (295, 3522, "label", "Frequency"),
    (295, 3524, "edit", None), (295, 3525, "unit", None), (295, 3504, "edit", None),
    (295, 3510, "unit", None), (295, 3506, "edit", None), (295, 3512, "unit", None),
    (111, 3289, "radio", "Digital"), (111, 3290, "radio", "Analogue"),
    (111, 3291, "radio", "Pulse && Direction"), (111, 3292, "radio", "Incremental Encoder"),
    (111, 3296, "edit", None), (111, 3295, "edit", None), (111, 3294, "label", "with gear ratio"),
    (111, 1006, "edit", None), (111, 1015, "unit", None), (111, 1007, "label", None),
    (111, 1008, "edit", None), (111, 1009, "label", None),
    (111, 3116, "check", "Limit maximum speed at"), (111, 3302, "edit", None),
    (111, 3136, "unit", None), (111, 3304, "edit", None), (111, 3137, "unit", None),
    (111, 1010, "edit", None), (111, 1016, "unit", None), (111, 1012, "edit", None),
    (111, 1001, "check", "Use a filter for the analogue reference input"),
    (111, 1002, "label", "Filter bandwidth"), (111, 1003, "edit", None), (111, 1004, "unit", None),
    (111, 1014, "picture", None), (111, 3328, "label", "-10"), (111, 3327, "label", "10"),
    (111, 1000, "button", "&Test"), (111, 10024, "button", "Help"),
    (3018, 3087, "edit", None), (3018, 3088, "unit", None), (3018, 3094, "edit", None),
    (3018, 3095, "unit", None), (3018, 1179, "edit", None), (3018, 1180, "unit", None),
    (3018, 3097, "check", "Temperature sensor"), (3018, 3098, "label", "Sensor gain"),
    (3018, 3101, "label", "Output at 0\u00b0C"), (3018, 3103, "check", "Over voltage"),
    (3018, 3104, "label", "Trigger if power supply >"), (3018, 3105, "check", "Under voltage"),
    (3018, 3106, "label", "Trigger if power supply <"), (3018, 3107, "check", "I2t"),
    (3018, 3108, "label", "Support over current"), (3018, 3109, "label", "for"),
    (3018, 1173, "edit", None), (3018, 1175, "edit", None), (3018, 1176, "unit", None),
    (3018, 3325, "check", "Drive temperature"), (3018, 3326, "label", "Trigger if T > T2max"),
    (3018, 1177, "edit", None), (3018, 1178, "unit", None), (3018, 3275, "edit", None),
    (3018, 3276, "edit", None), (3018, 3277, "edit", None), (3018, 3278, "edit", None),
    (3018, 3114, "edit", None),
]

# Radio switches: the buttons for the values 0, 1, ... must have consecutive ids.
SWITCHES = [(106, [5101, 5102, 5103]), (106, [5201, 5202]), (106, [5301, 5302]),
            (106, [3318, 3319]), (106, [6201, 6202, 6203, 6204]), (106, [6011, 6012]),
            (106, [6021, 6022]), (106, [6031, 6032]), (106, [6041, 6042]),
            (108, [1195, 1196]), (108, [1185, 1186]), (108, [1193, 1194]),
            (3056, [3333, 3334]), (110, [3344, 3345]), (110, [1146, 1147]),
            (110, [3374, 3375]), (111, [3289, 3290]), (111, [3291, 3292])]

EXPECTED = {106: ("Drive Setup", 262406), 108: ("Brushless Motor Setup", 262407),
            3056: ("Motor mass", 262422), 110: ("Advanced", 262419), 295: ("Filters", 262421),
            111: ("External Reference Setup", 0x40101), 3018: ("Drive info", 262420)}

# The host's own dialogs.
EXPECTED[120] = ("CANopen Settings", 0)
EXPECTED[121] = ("Oscilloscope Settings", 0)
# The commissioning tests.
EXPECTED[105] = ("VDC Detection Test", 0x40105)
EXPECTED[288] = ("Motor Phase Connection Test", 0x4010B)
EXPECTED[290] = ("Total Resistance and Inductance Identification Test", 0x4010C)
EXPECTED[101] = ("Current Controller Tuning Test", 0x40108)
EXPECTED[291] = ("Encoder Connections Test", 0x4010D)
EXPECTED[292] = ("Encoder Resolution And Direction Test", 0x4010E)
EXPECTED[293] = ("Hall Signals Connection Test", 0x4010F)
EXPECTED[294] = ("Hall Configuration Detection Test", 0x40110)
EXPECTED[104] = ("Analogue Reference Test", 0x40104)
EXPECTED[3057] = ("Electric Angle Controller Tuning Test", 0x40112)
EXPECTED[3041] = ("Total mass test", 0x40111)
EXPECTED[102] = ("Speed Controller Tuning Test", 0x40102)
EXPECTED[103] = ("Position Controller Tuning Test", 0x40103)


def load_templates():
    templates = {}
    for name in os.listdir(DIALOGS):
        if name.endswith(".json"):
            with open(os.path.join(DIALOGS, name), encoding="utf-8") as f:
                doc = json.load(f)
            templates[doc["id"]] = doc
    return templates


class TemplatesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.templates = load_templates()

    def test_every_template_passes_the_checker(self):
        for name in sorted(os.listdir(DIALOGS)):
            with self.subTest(name):
                self.assertEqual(checker.Checker(os.path.join(DIALOGS, name)).check(), [])

    def test_captions_and_help(self):
        self.assertEqual(set(self.templates), set(EXPECTED))
        for tid, (caption, help_context) in EXPECTED.items():
            with self.subTest(tid):
                doc = self.templates[tid]
                self.assertEqual(doc["caption"], caption)
                self.assertEqual(doc.get("helpContext", 0), help_context)

    def test_named_controls(self):
        for tid, cid, kind, caption in NAMED:
            with self.subTest(template=tid, id=cid):
                found = [c for c in self.templates[tid]["controls"] if c["id"] == cid]
                self.assertEqual(len(found), 1)
                self.assertEqual(found[0]["kind"], kind)
                if caption is not None:
                    self.assertEqual(found[0].get("caption", ""), caption)

    def test_switch_buttons_share_a_parent(self):
        for tid, ids in SWITCHES:
            with self.subTest(template=tid, first=ids[0]):
                controls = {c["id"]: c for c in self.templates[tid]["controls"]}
                self.assertEqual(ids, list(range(ids[0], ids[0] + len(ids))))
                for cid in ids:
                    self.assertEqual(controls[cid]["kind"], "radio")
                self.assertEqual(len({controls[cid].get("parent") for cid in ids}), 1)
                # The run of radio buttons ends with the switch, by id and in tab order: a
                # following radio button of the same container would join the group.
                parent = controls[ids[0]].get("parent")
                order = self.templates[tid]["controls"]
                index = order.index(controls[ids[-1]])
                for after in (controls.get(ids[-1] + 1), order[index + 1] if
                              index + 1 < len(order) else None):
                    if after is not None and after["kind"] == "radio":
                        self.assertNotEqual(after.get("parent"), parent)

    def test_edits_have_labels_or_units_beside_them(self):
        # Every unit combo sits on the same row right of an edit in the same container.
        for tid, doc in self.templates.items():
            controls = doc["controls"]
            for unit in (c for c in controls if c["kind"] == "unit"):
                with self.subTest(template=tid, unit=unit["id"]):
                    x, y = unit["rect"][0], unit["rect"][1]
                    self.assertTrue(any(
                        e["kind"] == "edit" and e["rect"][1] == y and e["rect"][0] < x
                        and e.get("parent") == unit.get("parent") for e in controls))


if __name__ == "__main__":
    unittest.main()
