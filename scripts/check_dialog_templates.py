#!/usr/bin/env python3
"""Checks dialog templates (resources/dialogs/<id>-<slug>.json, format version 1).

Usage: scripts/check_dialog_templates.py [FILE_OR_FOLDER...]
       (default: resources/dialogs next to this script's folder)

Checked: required members and their JSON types, no unknown members, the file name against the
template id, control kinds, unique control ids, members that only some kinds may carry, "&"
mnemonics, parents that exist and can contain controls, tab pages, every rect inside the dialog
and inside its parent, no two visible sibling controls overlapping, the conventional ids of OK,
Cancel, Help and the guideline controls.

Each problem is printed as "FILE: PLACE: MESSAGE". Exit status: 0 clean, 1 problems found,
2 bad usage.
"""
import json
import os
import re
import sys

FORMAT_NAME = "axiscore-dialog"
FORMAT_VERSION = 1
KINDS = {"group", "label", "edit", "unit", "combo", "check", "radio", "button", "bitmapButton",
         "picture", "slider", "spin", "tab", "text", "mark",
         "custom"}
CONTAINERS = {"group", "tab"}
IMAGE_KINDS = {"picture", "bitmapButton"}
BUTTON_KINDS = {"button", "bitmapButton"}

TOP_MEMBERS = {"format": str, "version": int, "id": int, "caption": str, "width": int,
               "height": int, "helpContext": int, "controls": list}
TOP_REQUIRED = {"format", "version", "id", "caption", "width", "height", "controls"}
CONTROL_MEMBERS = {"id": int, "kind": str, "caption": str, "rect": list, "parent": int,
                   "page": int, "items": list, "pages": list, "image": str, "readOnly": bool,
                   "enabled": bool, "visible": bool, "range": list}
CONTROL_REQUIRED = {"id", "kind", "rect"}
# Members that only some kinds may carry.
ONLY_FOR = {"items": {"combo"}, "pages": {"tab"}, "image": IMAGE_KINDS,
            "readOnly": {"edit", "text"}, "range": {"slider"}}
# Conventional ids: id -> kinds it must have.
FIXED_IDS = {1: BUTTON_KINDS, 2: BUTTON_KINDS, 10024: BUTTON_KINDS, 9001: {"button"},
             9002: {"button"}, 9003: {"text"}}
GUIDELINE_IDS = (9001, 9002, 9003)
FILE_NAME = re.compile(r"^(\d+)-[a-z0-9]+(?:-[a-z0-9]+)*\.json$")


def is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def type_ok(value, expected):
    if expected is int:
        return is_int(value)
    return isinstance(value, expected)


def mnemonic_problem(caption):
    """Returns a message when the "&" marks of a caption are malformed, else None."""
    marks = 0
    i = 0
    while i < len(caption):
        if caption[i] == "&":
            if i + 1 >= len(caption):
                return 'ends with a lone "&"'
            if caption[i + 1] == "&":
                i += 2
                continue
            if caption[i + 1].isspace():
                return '"&" marks a blank as the mnemonic'
            marks += 1
        i += 1
    if marks > 1:
        return 'more than one "&" mnemonic (write "&&" for a literal "&")'
    return None


def overlap(a, b):
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    return ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah


def inside(inner, outer):
    ix, iy, iw, ih = inner
    ox, oy, ow, oh = outer
    return ix >= ox and iy >= oy and ix + iw <= ox + ow and iy + ih <= oy + oh


class Checker:
    def __init__(self, path):
        self.path = path
        self.problems = []

    def report(self, place, message):
        self.problems.append("%s: %s: %s" % (self.path, place, message))

    def check(self):
        try:
            with open(self.path, encoding="utf-8") as f:
                doc = json.load(f)
        except (OSError, UnicodeDecodeError, json.JSONDecodeError) as err:
            self.report("file", "cannot read: %s" % err)
            return self.problems
        if not isinstance(doc, dict):
            self.report("file", "top level is not an object")
            return self.problems
        if self.check_top(doc):
            self.check_controls(doc)
        return self.problems

    def check_top(self, doc):
        sound = True
        for name in sorted(TOP_REQUIRED - doc.keys()):
            self.report("file", 'missing "%s"' % name)
            sound = False
        for name, value in doc.items():
            if name not in TOP_MEMBERS:
                self.report("file", 'unknown member "%s"' % name)
            elif not type_ok(value, TOP_MEMBERS[name]):
                self.report("file", '"%s" has the wrong type' % name)
                sound = False
        if not sound:
            return False
        if doc["format"] != FORMAT_NAME:
            self.report("file", '"format" is not "%s"' % FORMAT_NAME)
        if doc["version"] != FORMAT_VERSION:
            self.report("file", "unsupported version %r" % doc["version"])
        if doc["width"] <= 0 or doc["height"] <= 0:
            self.report("file", "dialog size must be positive")
            return False
        if not doc["caption"].strip():
            self.report("file", "empty caption")
        match = FILE_NAME.match(os.path.basename(self.path))
        if not match:
            self.report("file", 'file name is not "<id>-<slug>.json"')
        elif int(match.group(1)) != doc["id"]:
            self.report("file", "file name id %s differs from id %d" % (match.group(1), doc["id"]))
        return True

    def check_control_members(self, index, ctl):
        """Member-level checks of one control; returns its place text, or None when unusable."""
        place = "control #%d" % index
        if not isinstance(ctl, dict):
            self.report(place, "is not an object")
            return None
        if is_int(ctl.get("id")):
            place = "control %d" % ctl["id"]
        usable = True
        for name in sorted(CONTROL_REQUIRED - ctl.keys()):
            self.report(place, 'missing "%s"' % name)
            usable = False
        for name, value in ctl.items():
            if name not in CONTROL_MEMBERS:
                self.report(place, 'unknown member "%s"' % name)
            elif not type_ok(value, CONTROL_MEMBERS[name]):
                self.report(place, '"%s" has the wrong type' % name)
                usable = False
        if not usable:
            return None
        kind = ctl["kind"]
        if kind not in KINDS:
            self.report(place, 'unknown kind "%s"' % kind)
        rect = ctl["rect"]
        if len(rect) != 4 or not all(is_int(v) for v in rect):
            self.report(place, "rect must be four integers")
            return None
        if rect[2] <= 0 or rect[3] <= 0:
            self.report(place, "rect has no area")
        for name, kinds in ONLY_FOR.items():
            if name in ctl and kind not in kinds:
                self.report(place, '"%s" is not allowed on a "%s"' % (name, kind))
        for name in ("items", "pages"):
            if name in ctl and not all(isinstance(v, str) for v in ctl[name]):
                self.report(place, '"%s" must be a list of texts' % name)
        if kind == "tab" and not ctl.get("pages"):
            self.report(place, 'a tab control needs "pages"')
        if "range" in ctl:
            r = ctl["range"]
            if len(r) != 2 or not all(is_int(v) for v in r) or r[0] > r[1]:
                self.report(place, '"range" must be [low, high] integers with low <= high')
        if kind in IMAGE_KINDS and not ctl.get("image"):
            self.report(place, 'a "%s" needs an "image"' % kind)
        problem = mnemonic_problem(ctl.get("caption", ""))
        if problem:
            self.report(place, "caption " + problem)
        if kind == "button" and not ctl.get("caption"):
            self.report(place, "push button without a caption")
        return place

    def check_controls(self, doc):
        dialog_rect = [0, 0, doc["width"], doc["height"]]
        controls = {}
        places = {}
        for index, ctl in enumerate(doc["controls"]):
            place = self.check_control_members(index, ctl)
            if place is None:
                continue
            if ctl["id"] in controls:
                self.report(place, "duplicate id")
                continue
            controls[ctl["id"]] = ctl
            places[ctl["id"]] = place
        if not doc["controls"]:
            self.report("file", "no controls")
        for cid, kinds in FIXED_IDS.items():
            if cid in controls and controls[cid]["kind"] not in kinds:
                wanted = "/".join(sorted(kinds))
                self.report(places[cid], "id %d is reserved for a %s" % (cid, wanted))
        present = [cid for cid in GUIDELINE_IDS if cid in controls]
        if present and len(present) != len(GUIDELINE_IDS):
            self.report("file", "guideline controls 9001-9003 must come together")
        if 9003 in controls and not controls[9003].get("readOnly", False):
            self.report(places[9003], "the guideline text must be read-only")
        self.check_layout(controls, places, dialog_rect)

    def check_layout(self, controls, places, dialog_rect):
        siblings = {}
        for cid, ctl in controls.items():
            place = places[cid]
            rect = ctl["rect"]
            if not inside(rect, dialog_rect):
                self.report(place, "rect %s lies outside the dialog" % rect)
            parent_id = ctl.get("parent")
            page = ctl.get("page")
            if parent_id is None:
                if page is not None:
                    self.report(place, '"page" without a tab "parent"')
            elif parent_id == cid:
                self.report(place, "is its own parent")
                continue
            elif parent_id not in controls:
                self.report(place, "parent %d does not exist" % parent_id)
                continue
            else:
                parent = controls[parent_id]
                if parent["kind"] not in CONTAINERS:
                    self.report(place, "parent %d is a %s, not a group or tab" %
                                (parent_id, parent["kind"]))
                elif parent["kind"] == "tab":
                    pages = parent.get("pages", [])
                    if page is None or not 0 <= page < len(pages):
                        self.report(place, "needs a page index of tab %d" % parent_id)
                elif page is not None:
                    self.report(place, '"page" given for a group box parent')
                if not inside(rect, parent["rect"]):
                    self.report(place, "rect %s lies outside parent %d %s" %
                                (rect, parent_id, parent["rect"]))
            if self.parent_cycle(cid, controls):
                self.report(place, "parents form a cycle")
                continue
            if ctl.get("visible", True):
                siblings.setdefault((parent_id, page), []).append(cid)
        for ids in siblings.values():
            for i, a in enumerate(ids):
                for b in ids[i + 1:]:
                    if overlap(controls[a]["rect"], controls[b]["rect"]):
                        self.report(places[a], "overlaps visible sibling %d" % b)

    @staticmethod
    def parent_cycle(cid, controls):
        seen = {cid}
        current = controls[cid].get("parent")
        while current is not None and current in controls:
            if current in seen:
                return True
            seen.add(current)
            current = controls[current].get("parent")
        return False


def template_files(arguments):
    if not arguments:
        here = os.path.dirname(os.path.abspath(__file__))
        arguments = [os.path.join(os.path.dirname(here), "resources", "dialogs")]
    files = []
    for arg in arguments:
        if os.path.isdir(arg):
            files.extend(os.path.join(arg, name) for name in sorted(os.listdir(arg))
                         if name.endswith(".json"))
        else:
            files.append(arg)
    return files


def main(argv):
    if any(arg.startswith("-") for arg in argv):
        sys.stderr.write(__doc__)
        return 2
    files = template_files(argv)
    if not files:
        sys.stderr.write("no templates found\n")
        return 2
    problems = []
    ids = {}
    for path in files:
        problems.extend(Checker(path).check())
        match = FILE_NAME.match(os.path.basename(path))
        if match:
            ids.setdefault(int(match.group(1)), []).append(path)
    for tid, paths in sorted(ids.items()):
        if len(paths) > 1:
            problems.append("%s: file: template id %d also in %s" % (paths[0], tid,
                                                                     ", ".join(paths[1:])))
    for line in problems:
        print(line)
    print("%d template(s), %d problem(s)" % (len(files), len(problems)), file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
