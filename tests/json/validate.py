#!/usr/bin/env python3
"""Checks JSON output against a JSON Schema (draft 2020-12).

usage: validate.py SCHEMA FILE...

A file holds either one JSON value per line (blank lines are skipped) or, when its text
begins with "[", one JSON array whose every element is checked. Exits 0 when everything
validates, 1 with the first error (file, line or element, and where in the object), 2 on
a wrong command line or an unreadable schema.
"""
import json
import sys

import jsonschema


def values(path):
    """Yields (where, value) for every JSON value the file holds."""
    with open(path, encoding="utf-8") as source:
        text = source.read()
    if text.lstrip().startswith("["):
        try:
            array = json.loads(text)
        except ValueError as error:
            raise ValueError(f"{path}: not one JSON array: {error}") from None
        for index, value in enumerate(array):
            yield f"{path}: element {index}", value
        return
    for number, line in enumerate(text.splitlines(), 1):
        if not line.strip():
            continue
        try:
            yield f"{path}:{number}", json.loads(line)
        except ValueError as error:
            raise ValueError(f"{path}:{number}: not JSON: {error}: {line[:80]!r}") from None


def deepest(error):
    """The error to show: for a value that matches none of a oneOf/anyOf, the error of
    the alternative that came closest (the fewest errors), followed down."""
    relevance = jsonschema.exceptions.relevance
    while error.context:
        branches = {}
        for sub in error.context:
            branches.setdefault(sub.relative_schema_path[0], []).append(sub)
        error = max(min(branches.values(), key=len), key=relevance)
    return error


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        with open(sys.argv[1], encoding="utf-8") as source:
            schema = json.load(source)
        jsonschema.Draft202012Validator.check_schema(schema)
    except (OSError, ValueError, jsonschema.SchemaError) as error:
        print(f"{sys.argv[1]}: {error}", file=sys.stderr)
        return 2
    validator = jsonschema.Draft202012Validator(schema)
    count = 0
    try:
        for path in sys.argv[2:]:
            for where, value in values(path):
                errors = list(validator.iter_errors(value))
                if errors:
                    error = deepest(max(errors, key=jsonschema.exceptions.relevance))
                    pointer = "/".join(str(part) for part in error.absolute_path)
                    print(f"{where}: at /{pointer}: {error.message}", file=sys.stderr)
                    return 1
                count += 1
    except (OSError, ValueError) as error:
        print(error, file=sys.stderr)
        return 1
    print(f"{count} JSON values valid")
    return 0


sys.exit(main())
