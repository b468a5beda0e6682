#!/usr/bin/env python3
"""Checks the --json output of one run: every line is one JSON object with an event and
a time, progress comes at most ten times a second, and the last line is the outcome.

usage: json_check.py FILE EXIT_STATUS [STATUS_WORD]
"""
import json
import sys


def main():
    path, exit_status = sys.argv[1], int(sys.argv[2])
    word = sys.argv[3] if len(sys.argv) > 3 else None
    events = []
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            try:
                event = json.loads(line)
            except ValueError as error:
                sys.exit(f"line {number} is no JSON: {error}: {line[:80]!r}")
            if not isinstance(event, dict) or "event" not in event or "time" not in event:
                sys.exit(f"line {number} is no event: {line[:80]!r}")
            events.append(event)
    if not events or events[-1]["event"] != "outcome":
        sys.exit("the output does not end in an outcome")
    if any(e["event"] == "outcome" for e in events[:-1]):
        sys.exit("more than one outcome")
    outcome = events[-1]
    if outcome["exit_status"] != exit_status:
        sys.exit(f"the outcome says exit status {outcome['exit_status']}, the run {exit_status}")
    if word is not None and outcome["status"] != word:
        sys.exit(f"the outcome's status is {outcome['status']!r}, expected {word!r}")
    times = [e["time"] for e in events if e["event"] == "progress"]
    for first, later in zip(times, times[10:]):
        if later - first < 0.999:
            sys.exit(f"eleven progress events within {later - first:.3f} s")


main()
