#!/usr/bin/env python3
"""The validator's own checks: it accepts what the schema allows, in lines or in an
array, and rejects the first object that breaks it, saying where.

usage: validate_test.py PYTHON3 VALIDATE SCHEMA
"""
import os
import subprocess
import sys
import tempfile

PYTHON3, VALIDATE, SCHEMA = sys.argv[1:4]

STEP = '{"schema":1,"event":"step","time":0.5,"status":"Update..."}'
ENTRY = ('{"schema":1,"port_number":1,"id":"VRQPrinter","node":"/dev/usb/lp0",'
         '"port_path":"1-1.4","serial":"A1"}')
RECORD = ('{"schema":1,"record":"update","time_utc":"2024-05-01T09:30:00Z",'
          '"program_version":"1.0.0","printer":{"serial":"A1","port_path":"1-1.4"},'
          '"package":{"file":"u.fwp","sha256":null,"version":"V2"},"status":"success",'
          '"exit_status":0,"durations":{"total":1.5,"writing":null}}')


def run(*texts):
    paths = []
    with tempfile.TemporaryDirectory() as folder:
        for number, text in enumerate(texts):
            paths.append(os.path.join(folder, f"{number}.json"))
            with open(paths[-1], "w", encoding="utf-8") as out:
                out.write(text)
        done = subprocess.run([PYTHON3, VALIDATE, SCHEMA, *paths], capture_output=True, text=True)
    return done.returncode, done.stderr.replace(folder + "/", "")


def expect(result, status, error=""):
    if result[0] != status or error not in result[1]:
        sys.exit(f"expected exit {status} and {error!r}, got {result}")


expect(run(STEP + "\n\n" + RECORD + "\n", "[" + ENTRY + "," + ENTRY + "]"), 0)
expect(run(STEP + "\n" + RECORD.replace('"success"', '"done"') + "\n"), 1, "0.json:2: at /status")
expect(run("[" + ENTRY + "," + ENTRY.replace('"port_number":1', '"port_number":"1"') + "]"), 1,
       "0.json: element 1: at /port_number")
expect(run(RECORD + "\n{\n"), 1, "0.json:2: not JSON")
expect(run(RECORD.replace('"durations"', '"x":1,"durations"')), 1,
       "0.json:1: at /: Additional properties")
print("validator checks passed")
