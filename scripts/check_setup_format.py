#!/usr/bin/env python3
"""Checks setup files against the setup file format (version 1).

Usage: scripts/check_setup_format.py [--strict] FILE...

The format is docs/setup.schema.json: every file is validated against it (members, JSON types,
unit names, display units of the same type as the base unit). On top of the schema come the
rules it cannot express: no member given twice, names unique without regard to case, option
names unique without regard to case, ports and pins unique, min <= max and the value inside
[min, max]. Warnings flag what is legal but suspicious (a register without "integer": true, an
integer register holding a fraction). Nothing about the drive's conversions is checked.

Each problem is printed as "FILE: PLACE: MESSAGE". With --strict warnings count as errors.
Exit status: 0 clean, 1 problems found, 2 bad usage or no schema validator.
"""
import json
import math
import os
import sys

try:
    import jsonschema
except ImportError:  # pragma: no cover - depends on the machine
    jsonschema = None

SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs",
                      "setup.schema.json")
NON_FINITE = {"NaN": math.nan, "Infinity": math.inf, "-Infinity": -math.inf}
# Registers that hold a ratio rather than a count: "GEAR" is GEARSLAVE / GEARMASTER.
FRACTIONAL_REGISTERS = {"GEAR"}
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


def as_number(value):
    """The NUMBER of the format as a float (the schema has checked that it is one)."""
    if isinstance(value, str):
        return NON_FINITE.get(value)
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return None
    return float(value)


def pointer(path):
    """A JSON pointer for a place in the document ("/parameters/12/value")."""
    parts = [str(part).replace("~", "~0").replace("/", "~1") for part in path]
    return "/" + "/".join(parts) if parts else "top level"


def check_unique(report, places_and_names, what):
    folded = {}
    for place, name in places_and_names:
        key = name.lower()
        if key in folded:
            report.error(place, f"{what} \"{name}\" repeats \"{folded[key]}\" (names ignore case)")
        else:
            folded[key] = name


def check_parameter(report, entry, place):
    low, high, value = (as_number(entry.get(key)) for key in ("min", "max", "value"))
    if None not in (low, high) and not math.isnan(low) and not math.isnan(high):
        if low > high:
            report.error(place, f"min {low:g} is above max {high:g}")
        elif value is not None and math.isfinite(value) and not low <= value <= high:
            report.error(place, f"value {value:g} lies outside [{low:g}, {high:g}]")
    integer = entry.get("integer", False)
    if entry.get("type", 0) in REGISTER_TYPES:
        if not integer and entry["name"] not in FRACTIONAL_REGISTERS:
            report.warn(place, "register (type 5/6) without \"integer\": true")
        if entry["unit"] != "":
            report.warn(place, f"register (type 5/6) with unit \"{entry['unit']}\"")
    if integer and value is not None and math.isfinite(value) and value != math.floor(value):
        report.warn(place, f"integer register holds the fraction {value:g} (stored rounded)")


def check_beyond_schema(report, doc):
    """The rules of the format that the schema cannot express."""
    check_unique(report, [(f"/options/{name}", name) for name in doc.get("options", {})], "option")
    for member in ("port", "pin"):
        seen = set()
        for index, entry in enumerate(doc.get("ioPorts", [])):
            if entry[member] in seen:
                report.error(f"/ioPorts/{index}/{member}", f"{member} {entry[member]} listed twice")
            seen.add(entry[member])
    for section in ("parameters", "variables"):
        entries = doc.get(section, [])
        check_unique(report, [(f"/{section}/{i} \"{e['name']}\"", e["name"])
                              for i, e in enumerate(entries)], section[:-1])
    for index, entry in enumerate(doc["parameters"]):
        check_parameter(report, entry, f"/parameters/{index} \"{entry['name']}\"")


def check_file(path, validator):
    report = Report(path)
    try:
        with open(path, "rb") as handle:
            raw = handle.read()
        doc = json.loads(raw.decode("utf-8"), object_pairs_hook=_no_duplicates,
                         parse_constant=_reject_constant)
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
    problems = sorted(validator.iter_errors(doc), key=lambda e: list(map(str, e.absolute_path)))
    for problem in problems:
        report.error(pointer(problem.absolute_path), problem.message)
    if not problems:
        check_beyond_schema(report, doc)
    return report


def main(argv):
    strict = "--strict" in argv
    paths = [arg for arg in argv if arg != "--strict"]
    if not paths or any(path.startswith("-") for path in paths):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    if jsonschema is None:
        print("check_setup_format.py: needs the jsonschema module (Debian: python3-jsonschema)",
              file=sys.stderr)
        return 2
    with open(SCHEMA, encoding="utf-8") as handle:
        schema = json.load(handle)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    failed = False
    for path in paths:
        report = check_file(path, validator)
        if report.errors or (strict and report.warnings):
            failed = True
        else:
            print(f"{path}: ok ({report.warnings} warning(s))")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
