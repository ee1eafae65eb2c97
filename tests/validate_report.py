#!/usr/bin/env python3
"""Validates zolhost JSON reports against the report schema.

usage: validate_report.py SCHEMA PATH...

Each PATH is a report file (one JSON object, as zolhost --json prints it) or
a folder, whose *.json files are all checked. Prints one line per report and
exits 1 when any report is not valid (or cannot be read), 2 on bad usage.
Needs Debian's python3-jsonschema.
"""
import json
import pathlib
import sys

import jsonschema


def reports(paths):
    for path in map(pathlib.Path, paths):
        if path.is_dir():
            yield from sorted(path.glob("*.json"))
        else:
            yield path


def problems(validator, path):
    try:
        report = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError) as error:
        return [f"cannot read: {error}"]
    return [f"{'/'.join(map(str, e.absolute_path)) or '(top)'}: {e.message}"
            for e in sorted(validator.iter_errors(report), key=lambda e: list(map(str, e.absolute_path)))]


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    schema = json.loads(pathlib.Path(argv[1]).read_text(encoding="utf-8"))
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    failed = checked = 0
    for path in reports(argv[2:]):
        checked += 1
        found = problems(validator, path)
        if found:
            failed += 1
            for problem in found:
                print(f"INVALID {path}: {problem}")
        else:
            print(f"valid {path}")
    print(f"{checked - failed} of {checked} reports valid")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
