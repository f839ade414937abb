#!/usr/bin/env python3
"""Checks setup files against the setup file format (version 1).

Usage: scripts/check_setup_format.py [--strict] FILE...

Only the format is checked: required members and their JSON types, unit names from the unit
catalogue, display units of the same unit type as the base unit, names unique without regard to
case, min <= max and the value inside [min, max]. Nothing about the drive's conversions is checked.

Each problem is printed as "FILE: PLACE: MESSAGE". Warnings (suspicious but legal) are printed too;
with --strict they count as errors. Exit status: 0 clean, 1 problems found, 2 bad usage.
"""
import json
import math
import sys

FORMAT_NAME = "axiscore-setup"
FORMAT_VERSION = 1
NON_FINITE = {"NaN": math.nan, "Infinity": math.inf, "-Infinity": -math.inf}
MAX_U32 = 4294967295

# Unit catalogue: unit name -> base unit of its type. Base units map to themselves.
BASE_UNITS = [
    "", "V", "V ", "A", "s", "Hz", "1/s", "m", "rad", "m/s", "rad/s", "m/s^2", "rad/s^2", "m/s^3",
    "rad/s^3", "\u00b0C", "V/s", "A/s", "Ohm", "H", "kg", "N/A", "N", "%", "V/\u00b0C",
]
DISPLAY_UNITS = {
    "mV": "V", "mA": "A", "ms": "s", "\u00b5s": "s", "kHz": "Hz", "MHz": "Hz", "mm": "m",
    "\u00b5m": "m", "rot": "rad", "deg": "rad", "mm/s": "m/s", "rpm": "rad/s", "rot/s": "rad/s",
    "mm/s^2": "m/s^2", "rot/s^2": "rad/s^2", "mm/s^3": "m/s^3", "rot/s^3": "rad/s^3",
    "mOhm": "Ohm", "mH": "H", "\u00b5H": "H", "g": "kg", "mV/\u00b0C": "V/\u00b0C",
}
CATALOGUE = {name: name for name in BASE_UNITS}
CATALOGUE.update(DISPLAY_UNITS)

# Registers that hold a ratio rather than a count: "GEAR" is GEARSLAVE / GEARMASTER.
FRACTIONAL_REGISTERS = {"GEAR"}
PARAMETER_MEMBERS = {"name", "value", "min", "max", "unit", "display", "type", "integer"}
VARIABLE_MEMBERS = {"name", "unit", "display", "kind", "value"}
IDENTITY_MEMBERS = {"description", "productId", "firmwareId", "applicationId", "eepromWords",
                    "adcFullScale"}
REGISTER_TYPES = (5, 6)


class Report:
    def __init__(self, path):
        self.path = path
        self.errors = 0
        self.warnings = 0

    def error(self, place, message):
        self.errors += 1
        print(f"{self.path}: {place}: {message}")

    def warn(self, place, message):
        self.warnings += 1
        print(f"{self.path}: {place}: warning: {message}")


class DuplicateKey(ValueError):
    pass


def _no_duplicates(pairs):
    seen = set()
    for key, _ in pairs:
        if key in seen:
            raise DuplicateKey(f"member {key!r} appears twice in one object")
        seen.add(key)
    return dict(pairs)


def _reject_constant(name):
    # JSON has no NaN or Infinity literal; the format spells them as strings.
    raise ValueError(f"{name} is not JSON; write it as the string \"{name}\"")


def is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def as_number(value):
    """The NUMBER of the format as a float, or None when the value is not one."""
    if isinstance(value, bool):
        return None
    if isinstance(value, (int, float)):
        return float(value)
    if isinstance(value, str) and value in NON_FINITE:
        return NON_FINITE[value]
    return None


def check_text(report, obj, key, place, required=True):
    if key not in obj:
        if required:
            report.error(place, f"missing required member \"{key}\"")
        return
    if not isinstance(obj[key], str):
        report.error(f"{place}.{key}", "must be a string")


def check_identity(report, identity):
    place = "identity"
    if not isinstance(identity, dict):
        report.error(place, "must be an object")
        return
    for key in ("description", "productId", "firmwareId"):
        check_text(report, identity, key, place)
    check_text(report, identity, "applicationId", place, required=False)
    if "eepromWords" in identity:
        words = identity["eepromWords"]
        if not is_int(words) or words < 0:
            report.error(f"{place}.eepromWords", "must be an integer >= 0")
    if "adcFullScale" not in identity:
        report.error(place, "missing required member \"adcFullScale\"")
    else:
        full_scale = identity["adcFullScale"]
        if not is_int(full_scale) or not 1 <= full_scale <= MAX_U32:
            report.error(f"{place}.adcFullScale", f"must be an integer 1 .. {MAX_U32}")
    for key in identity:
        if key not in IDENTITY_MEMBERS:
            report.warn(f"{place}.{key}", "unknown member (ignored by the reader)")


def check_options(report, options):
    if not isinstance(options, dict):
        report.error("options", "must be an object")
        return
    folded = {}
    for name, text in options.items():
        if not isinstance(text, str):
            report.error(f"options.{name}", "option values must be strings")
        if name.lower() in folded:
            report.warn(f"options.{name}", f"differs only in case from \"{folded[name.lower()]}\"")
        folded[name.lower()] = name


def check_io_ports(report, ports):
    if not isinstance(ports, list):
        report.error("ioPorts", "must be an array")
        return
    seen = set()
    for index, entry in enumerate(ports):
        place = f"ioPorts[{index}]"
        if not isinstance(entry, dict):
            report.error(place, "must be an object {\"port\": n, \"pin\": n}")
            continue
        for key in ("port", "pin"):
            if key not in entry:
                report.error(place, f"missing required member \"{key}\"")
            elif not is_int(entry[key]) or entry[key] < 0:
                report.error(f"{place}.{key}", "must be an integer >= 0")
        if "output" in entry and entry["output"] not in ("npn", "pnp"):
            report.error(f"{place}.output", "must be \"npn\" or \"pnp\"")
        if "inverted" in entry and not isinstance(entry["inverted"], bool):
            report.error(f"{place}.inverted", "must be true or false")
        for key in entry:
            if key not in ("port", "pin", "output", "inverted"):
                report.error(f"{place}.{key}", "unknown member")
        port = entry.get("port")
        if is_int(port):
            if port in seen:
                report.error(f"{place}.port", f"port {port} appears twice")
            seen.add(port)


def check_units(report, obj, place):
    """Checks "unit" and "display"; returns the base unit name or None."""
    if "unit" not in obj:
        report.error(place, "missing required member \"unit\"")
        return None
    unit = obj["unit"]
    if not isinstance(unit, str):
        report.error(f"{place}.unit", "must be a string")
        return None
    if unit not in BASE_UNITS:
        if unit in DISPLAY_UNITS:
            report.error(f"{place}.unit", f"\"{unit}\" is a display unit; the base unit is "
                                          f"\"{DISPLAY_UNITS[unit]}\"")
        else:
            report.error(f"{place}.unit", f"\"{unit}\" is not in the unit catalogue")
        return None
    if "display" in obj:
        display = obj["display"]
        if not isinstance(display, str):
            report.error(f"{place}.display", "must be a string")
        elif display not in CATALOGUE:
            report.error(f"{place}.display", f"\"{display}\" is not in the unit catalogue")
        elif CATALOGUE[display] != unit:
            report.error(f"{place}.display",
                         f"\"{display}\" is not a unit of the same type as \"{unit}\"")
    return unit


def check_number(report, obj, key, place, required=True):
    if key not in obj:
        if required:
            report.error(place, f"missing required member \"{key}\"")
        return None
    number = as_number(obj[key])
    if number is None:
        report.error(f"{place}.{key}", "must be a number or one of \"NaN\", \"Infinity\", "
                                       "\"-Infinity\"")
    return number


def check_unique(report, names, what):
    folded = {}
    for place, name in names:
        key = name.lower()
        if key in folded:
            report.error(place, f"{what} \"{name}\" repeats \"{folded[key]}\" (names ignore case)")
        else:
            folded[key] = name


def check_parameter(report, entry, place):
    if not isinstance(entry, dict):
        report.error(place, "must be an object")
        return None
    name = entry.get("name")
    if not isinstance(name, str) or not name:
        report.error(place, "missing or empty \"name\"")
        name = None
    else:
        place = f"{place} \"{name}\""
    value = check_number(report, entry, "value", place)
    low = check_number(report, entry, "min", place)
    high = check_number(report, entry, "max", place)
    unit = check_units(report, entry, place)
    ptype = entry.get("type", 0)
    if not is_int(ptype) or not 0 <= ptype <= 6:
        report.error(f"{place}.type", "must be an integer 0 .. 6")
        ptype = 0
    integer = entry.get("integer", False)
    if not isinstance(integer, bool):
        report.error(f"{place}.integer", "must be true or false")
        integer = False
    for key in entry:
        if key not in PARAMETER_MEMBERS:
            report.warn(f"{place}.{key}", "unknown member (ignored by the reader)")
    if low is not None and high is not None and not math.isnan(low) and not math.isnan(high):
        if low > high:
            report.error(place, f"min {low:g} is above max {high:g}")
        elif value is not None and math.isfinite(value) and not low <= value <= high:
            report.error(place, f"value {value:g} lies outside [{low:g}, {high:g}]")
    if ptype in REGISTER_TYPES:
        if not integer and name not in FRACTIONAL_REGISTERS:
            report.warn(place, "register (type 5/6) without \"integer\": true")
        if unit not in (None, ""):
            report.warn(place, f"register (type 5/6) with unit \"{unit}\"")
    if integer and value is not None and math.isfinite(value) and value != math.floor(value):
        report.warn(place, f"integer register holds the fraction {value:g} (stored rounded)")
    return name


def check_variable(report, entry, place):
    if not isinstance(entry, dict):
        report.error(place, "must be an object")
        return None
    name = entry.get("name")
    if not isinstance(name, str) or not name:
        report.error(place, "missing or empty \"name\"")
        name = None
    else:
        place = f"{place} \"{name}\""
    check_units(report, entry, place)
    check_text(report, entry, "kind", place, required=False)
    check_number(report, entry, "value", place, required=False)
    for key in entry:
        if key not in VARIABLE_MEMBERS:
            report.warn(f"{place}.{key}", "unknown member (ignored by the reader)")
    return name


def check_list(report, doc, key, checker, required):
    if key not in doc:
        if required:
            report.error("top level", f"missing required member \"{key}\"")
        return
    entries = doc[key]
    if not isinstance(entries, list):
        report.error(key, "must be an array")
        return
    names = []
    for index, entry in enumerate(entries):
        place = f"{key}[{index}]"
        name = checker(report, entry, place)
        if name is not None:
            names.append((f"{place} \"{name}\"", name))
    check_unique(report, names, key[:-1])


def check_document(report, doc):
    if not isinstance(doc, dict):
        report.error("top level", "must be an object")
        return
    if doc.get("format") != FORMAT_NAME:
        report.error("format", f"must be the string \"{FORMAT_NAME}\"")
    version = doc.get("version")
    if not is_int(version) or version != FORMAT_VERSION:
        report.error("version", f"must be the integer {FORMAT_VERSION}")
    if "identity" not in doc:
        report.error("top level", "missing required member \"identity\"")
    else:
        check_identity(report, doc["identity"])
    if "options" in doc:
        check_options(report, doc["options"])
    if "ioPorts" in doc:
        check_io_ports(report, doc["ioPorts"])
    check_list(report, doc, "parameters", check_parameter, required=True)
    check_list(report, doc, "variables", check_variable, required=False)


def check_file(path):
    report = Report(path)
    try:
        with open(path, "rb") as handle:
            raw = handle.read()
        text = raw.decode("utf-8")
        doc = json.loads(text, object_pairs_hook=_no_duplicates, parse_constant=_reject_constant)
    except OSError as failure:
        report.error("file", f"cannot be read: {failure.strerror}")
        return report
    except UnicodeDecodeError as failure:
        report.error(f"byte {failure.start}", "is not UTF-8")
        return report
    except json.JSONDecodeError as failure:
        report.error(f"line {failure.lineno} column {failure.colno}", failure.msg)
        return report
    except ValueError as failure:
        report.error("JSON", str(failure))
        return report
    check_document(report, doc)
    return report


def main(argv):
    strict = "--strict" in argv
    paths = [arg for arg in argv if arg != "--strict"]
    if not paths or any(path.startswith("-") for path in paths):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    failed = False
    for path in paths:
        report = check_file(path)
        if report.errors or (strict and report.warnings):
            failed = True
        else:
            print(f"{path}: ok ({report.warnings} warning(s))")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
