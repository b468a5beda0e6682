#!/usr/bin/python3
"""station_play.yml against three simulated printers and the real vrq-update.

usage: simulator_test.py SOURCE_DIR WORK SIMULATOR PROGRAM PACKAGE ITEMS

simulator_play.sh prepares WORK (PROGRAM with the HID library beside it, PACKAGE made
from the files in ITEMS) and runs this. Each play runs as the one command of
`vrq-printer-sim --printers 3`; as root, as the user nobody, so that the update history
lies in WORK and not in /var/lib/vrq-update. In turn: check mode writes nothing, the
first run writes all three printers, the second none, and with block 1 of the printer
on 1-1.5 answered "ERROR" (skip_updated off) the task fails with that printer's detail
while the other two are written.
"""
import filecmp
import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written beside the sources

from harness import Controller, Failures, recap, remove, statuses, validate

PORTS = ["1-1.4", "1-1.5", "1-1.6"]
ITEMS = {"frw.bin": "firmware.bin", "boot.bin": "bootloader.bin", "sys.bin": "system.bin",
         "font.bin": "font.bin"}


class Station(object):
    def __init__(self, source, work, simulator, program, package, items):
        self.work = work
        self.simulator = simulator
        self.items = items
        self.as_nobody = os.geteuid() == 0
        self.controller = Controller(source, os.path.join(work, "ansible"),
                                     copy=self.as_nobody)
        env = self.controller.env
        env["TMPDIR"] = os.path.join(work, "tmp")
        if self.as_nobody:
            env.pop("XDG_RUNTIME_DIR", None)  # root's; the HID library keeps to its own
            subprocess.run(["chown", "-R", "nobody:", work], check=True)
        self.history = os.path.join(env["XDG_STATE_HOME"], "vrq-update", "history.jsonl")
        self.flash = os.path.join(work, "flash")
        self.vars = {"vrq_package": package, "vrq_executable": program}

    def play(self, check=False, faults=(), **extra_vars):
        shutil.rmtree(self.flash, ignore_errors=True)
        wrapper = [self.simulator, "--printers", "3", "--flash-dir", self.flash]
        for fault in faults:
            wrapper += ["--fault", fault]
        if self.as_nobody:
            wrapper += ["--user", "nobody"]
        wrapper.append("--")
        return self.controller.play("station_play.yml", dict(self.vars, **extra_vars),
                                    check=check, wrapper=wrapper)

    def written(self, port):
        """Whether the printer on port received anything of the image or a section."""
        folder = os.path.join(self.flash, port)
        return any(os.path.exists(os.path.join(folder, name)) for name in ITEMS.values())

    def holds_items(self, port):
        folder = os.path.join(self.flash, port)
        return all(os.path.exists(os.path.join(folder, flash)) and
                   filecmp.cmp(os.path.join(self.items, item), os.path.join(folder, flash),
                               shallow=False) for item, flash in ITEMS.items())

    def records(self):
        try:
            with open(self.history, encoding="utf-8") as source:
                return len([line for line in source if line.strip()])
        except FileNotFoundError:
            return 0


def main():
    if len(sys.argv) != 7:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    source = os.path.abspath(sys.argv[1])
    station = Station(source, *sys.argv[2:])
    failures = Failures()
    check = failures.check

    status, output, result = station.play(check=True)
    check(status == 0 and not result.get("failed"), "check mode failed:\n" + output[-3000:])
    check(result.get("changed") is True, "check mode: not changed")
    check(statuses(result) == dict.fromkeys(PORTS, "would_update"),
          "check mode: %s" % result.get("printers"))
    check(not any(station.written(port) for port in PORTS), "check mode wrote a printer")
    check(station.records() == 0, "check mode wrote history")

    status, output, result = station.play()
    check(status == 0 and not result.get("failed"), "first run failed:\n" + output[-3000:])
    check(result.get("changed") is True and result.get("rc") == 0,
          "first run: changed %s, rc %s" % (result.get("changed"), result.get("rc")))
    check(statuses(result) == dict.fromkeys(PORTS, "success"),
          "first run: %s" % result.get("printers"))
    for port in PORTS:
        check(station.holds_items(port), "first run: %s does not hold the package" % port)
    check(station.records() == 3, "first run: %d history records" % station.records())

    status, output, result = station.play()
    check(status == 0 and recap(output) == (0, 0),
          "second run: recap without changed=0 failed=0:\n" + output[-3000:])
    check(statuses(result) == dict.fromkeys(PORTS, "unchanged"),
          "second run: %s" % result.get("printers"))
    check(not any(station.written(port) for port in PORTS), "the second run wrote a printer")

    status, output, result = station.play(faults=["block-error:1@1-1.5"],
                                          vrq_skip_updated=False)
    entries = {entry["port_path"]: entry for entry in result.get("printers", [])}
    faulty = entries.get("1-1.5", {})
    check(status != 0 and result.get("failed"), "the fault did not fail the task")
    check(faulty.get("status") == "failed_after_image" and faulty.get("needs_rerun"),
          "1-1.5 under the fault: %s" % faulty)
    check(faulty.get("detail") and faulty["detail"] in result.get("msg", "") and
          "1-1.5" in result.get("msg", ""), "the task's message: %s" % result.get("msg"))
    check(result.get("needs_rerun") is True and result.get("changed") is True,
          "the fault: needs_rerun %s, changed %s"
          % (result.get("needs_rerun"), result.get("changed")))
    for port in ("1-1.4", "1-1.6"):
        check(entries.get(port, {}).get("status") == "success" and station.holds_items(port),
              "beside the fault, %s: %s" % (port, entries.get(port)))

    print(validate(source, [station.history], failures))
    remove(station.work, failures)
    return 1 if failures.count else 0


sys.exit(main())
