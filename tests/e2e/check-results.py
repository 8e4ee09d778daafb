#!/usr/bin/env python3
"""Checks the result files that the end-to-end scenarios kept.

Every file must be UTF-8 without a byte-order mark, valid JSON, valid against the result
file's JSON Schema (Debian's python3-jsonschema), made by the flavour under test, and must
hold what the scenario's entry in the expectations file says. An expectation is a part of
the document: objects need the keys given, lists the same length, element by element.
An expectation may name an updater whose `tessarvane-pack inspect --json` output the
scenarios left in the inspect folder; then the file's entries must show the same name,
size, sha256, patchCode and targets as inspect does.

Usage: check-results.py SCHEMA EXPECTATIONS FLAVOUR RESULTS_DIR [INSPECT_DIR]
"""
import json
import os
import sys

import jsonschema


def match(actual, expected, where):
    """The differences between a document and the part of it that is expected."""
    if isinstance(expected, dict):
        if not isinstance(actual, dict):
            return [f"{where}: expected an object, found {json.dumps(actual)}"]
        problems = []
        for key, value in expected.items():
            if key not in actual:
                problems.append(f"{where}.{key}: missing")
            else:
                problems += match(actual[key], value, f"{where}.{key}")
        return problems
    if isinstance(expected, list):
        if not isinstance(actual, list) or len(actual) != len(expected):
            return [f"{where}: expected {json.dumps(expected)}, found {json.dumps(actual)}"]
        problems = []
        for i, (a, e) in enumerate(zip(actual, expected)):
            problems += match(a, e, f"{where}[{i}]")
        return problems
    if actual != expected or type(actual) is not type(expected):
        return [f"{where}: expected {json.dumps(expected)}, found {json.dumps(actual)}"]
    return []


def main():
    schema_path, expectations_path, flavour, results = sys.argv[1:5]
    inspect_dir = sys.argv[5] if len(sys.argv) > 5 else None
    with open(schema_path, encoding="utf-8") as f:
        validator = jsonschema.Draft202012Validator(json.load(f))
    with open(expectations_path, encoding="utf-8") as f:
        expectations = json.load(f)

    names = sorted(n for n in os.listdir(results) if n.endswith(".json")) if os.path.isdir(results) else []
    failed = 0
    for name in names:
        scenario = name[:-5]
        with open(os.path.join(results, name), "rb") as f:
            raw = f.read()
        problems = []
        if raw.startswith(b"\xef\xbb\xbf"):
            problems.append("begins with a byte-order mark")
        try:
            document = json.loads(raw.decode("utf-8", errors="strict"))
        except (UnicodeDecodeError, ValueError) as error:
            problems.append(f"not UTF-8 JSON: {error}")
            document = None
        if document is not None:
            problems += [f"schema: {'/'.join(map(str, e.absolute_path))}: {e.message}"
                         for e in validator.iter_errors(document)]
            if document.get("flavour") != flavour:
                problems.append(f"flavour {document.get('flavour')!r}, not {flavour!r}")
            expected = expectations.get(scenario)
            if expected is None:
                problems.append("no expectation for this scenario in " + os.path.basename(expectations_path))
            else:
                expected = dict(expected)
                updater = expected.pop("inspectedAs", None)
                problems += match(document, expected, "$")
                if updater is not None:
                    problems += compare_with_inspect(document, updater, inspect_dir)
        if problems:
            failed += 1
            print(f"{name}:")
            for problem in problems:
                print(f"  {problem}")
    print(f"result files: {len(names) - failed} of {len(names)} valid and as expected ({flavour})")
    if not names:
        print("no result files were kept: this check runs after the scenarios that keep them")
    return 1 if failed or not names else 0


def compare_with_inspect(document, updater, inspect_dir):
    """inspect --json and the result file name the same facts with the same names."""
    path = os.path.join(inspect_dir or "", updater + ".inspect.json")
    try:
        with open(path, encoding="utf-8") as f:
            inspected = json.load(f)
    except OSError as error:
        return [f"inspect output for {updater}: {error}"]
    problems = []
    for key in ("productName", "productVersion"):
        if document[key] != inspected[key]:
            problems.append(f"{key}: {document[key]!r}, inspect says {inspected[key]!r}")
    facts = ("index", "name", "size", "sha256", "patchCode", "targets")
    ours = [{k: e[k] for k in facts} for e in document["entries"]]
    theirs = [{k: e[k] for k in facts} for e in inspected["entries"]]
    if ours != theirs:
        problems.append(f"entries differ from inspect's: {json.dumps(ours)} against {json.dumps(theirs)}")
    return problems


if __name__ == "__main__":
    sys.exit(main())
