#!/usr/bin/env python3
"""Checks the JSON a run printed: with o the objects in the order printed (the elements,
for a file that holds one array), every EXPRESSION must be true.

usage: json_expect.py FILE EXPRESSION...
   e.g. json_expect.py log.out 'o[-1]["status"] == "refused"' 'len(o) == 1'
"""
import json
import sys


def main():
    path, expressions = sys.argv[1], sys.argv[2:]
    with open(path, encoding="utf-8") as source:
        text = source.read()
    try:
        if text.lstrip().startswith("["):
            objects = json.loads(text)
        else:
            objects = [json.loads(line) for line in text.splitlines() if line.strip()]
    except ValueError as error:
        sys.exit(f"not JSON: {error}: {text[:200]!r}")
    for expression in expressions:
        try:
            holds = eval(expression, {}, {"o": objects})  # the tests' own expressions
        except (LookupError, TypeError) as error:
            holds, expression = False, f"{expression} ({type(error).__name__}: {error})"
        if not holds:
            sys.exit(f"not so: {expression}; the JSON: {text[-600:]!r}")


main()
