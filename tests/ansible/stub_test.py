#!/usr/bin/python3
"""The vrq_update module in real plays, against the stand-in program fake_vrq_update.py.

usage: stub_test.py SOURCE_DIR station|cases

station: station_play.yml (the README's play) on one station with three printers: check
         mode, a first run, check mode again, a second run.
cases:   stub_play.yml, every other case, each on a station of its own.
Checks the module's results, the command lines the stand-in was given (check mode never
runs --all) and every JSON value the stand-in printed or recorded against
docs/outcome.schema.json.
"""
import json
import os
import shutil
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written beside the sources
from harness import Controller, Failures, recap, remove, statuses, validate

THREE = [{"port_path": "1-1.%d" % (4 + i), "serial": "VRQSIM000%d" % (1 + i),
          "node": "/dev/usb/lp%d" % i} for i in range(3)]
UPDATE = ["--all", "--json", "--yes"]


def make_station(states, name, printers, **extra):
    folder = os.path.join(states, name)
    os.makedirs(folder)
    with open(os.path.join(folder, "station.json"), "w", encoding="utf-8") as out:
        json.dump(dict(printers=printers, version="2.4.0", **extra), out)
    return folder


def calls(folder):
    try:
        with open(os.path.join(folder, "calls.jsonl"), encoding="utf-8") as source:
            return [json.loads(line) for line in source]
    except FileNotFoundError:
        return []


def lines(path):
    try:
        with open(path, encoding="utf-8") as source:
            return len(source.readlines())
    except FileNotFoundError:
        return 0


def running(pid_file):
    """Whether the process pid_file names runs (a zombie has ended); None without one."""
    try:
        with open(pid_file, encoding="utf-8") as source:
            pid = int(source.read())
    except (OSError, ValueError):
        return None
    try:
        with open("/proc/%d/stat" % pid, encoding="utf-8") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, ValueError):
        return False


def prepare(work):
    """The stand-in as vrq-update and as an update application, the packages, and a
    station folder per case."""
    here = os.path.dirname(os.path.abspath(__file__))
    stub = os.path.join(work, "bin", "vrq-update")
    os.makedirs(os.path.dirname(stub))
    shutil.copy(os.path.join(here, "fake_vrq_update.py"), stub)
    packages = os.path.join(work, "packages")
    os.makedirs(packages)
    with open(os.path.join(packages, "VRQ-2.4.0.fwp"), "wb") as out:
        out.write(b"FWP package 2.4.0\n" * 64)
    with open(os.path.join(packages, "bad.fwp"), "wb") as out:
        out.write(b"BAD package\n")
    states = os.path.join(work, "states")
    application = os.path.join(make_station(states, "app", THREE), "VRQ-2.4.0.run")
    shutil.copy(stub, application)
    make_station(states, "station", THREE)
    make_station(states, "fault", [dict(THREE[0]), dict(THREE[1], fault="block-error"),
                                   dict(THREE[2])])
    make_station(states, "none", [])
    make_station(states, "subset", THREE + [{"port_path": "1-1.7", "serial": "",
                                             "node": "/dev/usb/lp3"}])
    make_station(states, "refused", THREE)
    make_station(states, "hang", THREE, hang=True)
    os.makedirs(os.path.join(states, "unused"))
    return {"stub": stub, "package": os.path.join(packages, "VRQ-2.4.0.fwp"),
            "bad_package": os.path.join(packages, "bad.fwp"), "states": states,
            "application": application}


def station_runs(controller, play_vars, failures):
    """station_play.yml: check mode, a first run, check mode again, a second run."""
    check = failures.check
    folder = os.path.join(play_vars["states"], "station")
    env = {"FAKE_VRQ_STATE": folder}
    station = {"vrq_package": play_vars["package"], "vrq_executable": play_vars["stub"]}
    ports = ["1-1.4", "1-1.5", "1-1.6"]

    status, output, result = controller.play("station_play.yml", station, check=True,
                                             environment=env)
    check(status == 0 and not result.get("failed"), "check mode failed: %s" % result)
    check(result.get("changed") is True, "check mode: not changed: %s" % result)
    check(statuses(result) == dict.fromkeys(ports, "would_update"),
          "check mode: %s" % result.get("printers"))
    check(not [c for c in calls(folder) if "--all" in c], "check mode ran --all")
    check(lines(os.path.join(folder, "history.jsonl")) == 0, "check mode wrote history")

    status, output, result = controller.play("station_play.yml", station, environment=env)
    check(status == 0 and not result.get("failed"), "first run failed: %s" % result)
    check(result.get("changed") is True, "first run: not changed")
    check(statuses(result) == dict.fromkeys(ports, "success"),
          "first run: %s" % result.get("printers"))
    check(result.get("needs_rerun") is False and result.get("rc") == 0,
          "first run: needs_rerun %s, rc %s" % (result.get("needs_rerun"), result.get("rc")))
    expected = [play_vars["stub"]] + UPDATE + ["--package", play_vars["package"],
                                               "--skip-updated"]
    check(calls(folder)[-1] == expected, "first run's command line: %s" % calls(folder)[-1])

    status, output, result = controller.play("station_play.yml", station, check=True,
                                             environment=env)
    check(status == 0 and result.get("changed") is False,
          "check mode after the run: %s" % result)
    check(statuses(result) == dict.fromkeys(ports, "unchanged"),
          "check mode after the run: %s" % result.get("printers"))
    check(all("updated with this package on" in entry["detail"]
              for entry in result.get("printers", [])), "check mode after the run: details")

    status, output, result = controller.play("station_play.yml", station, environment=env)
    check(status == 0 and recap(output) == (0, 0),
          "second run: recap without changed=0 failed=0:\n" + output[-1500:])
    check(statuses(result) == dict.fromkeys(ports, "unchanged"),
          "second run: %s" % result.get("printers"))
    check(calls(folder)[-1] == expected, "second run's command line: %s" % calls(folder)[-1])
    check(len([c for c in calls(folder) if "--all" in c]) == 2,
          "check mode ran --all: %s" % calls(folder))
    check(lines(os.path.join(folder, "history.jsonl")) == 3,
          "check mode or the second run wrote history: %d records"
          % lines(os.path.join(folder, "history.jsonl")))


def case_runs(controller, play_vars, failures):
    """stub_play.yml's cases, then what the stand-in was asked in them."""
    check = failures.check
    states = play_vars["states"]
    status, output, _ = controller.play("stub_play.yml", play_vars)
    check(status == 0 and recap(output)[1] == 0, "stub_play.yml:\n" + output)
    subset = [c[1:] for c in calls(os.path.join(states, "subset")) if "--all" in c]
    # vrq-update reads no "port:" names: the module passes the port path it names.
    check(subset == [UPDATE + ["--package", play_vars["package"], "--device", "VRQSIM0002",
                               "--device", "1-1.6"]],
          "devices and skip_updated false: %s" % subset)
    history = [c[1:] for c in calls(os.path.join(states, "subset")) if "--history" in c]
    check(history == [["--history", "--device", s, "--json"] for s in
                      ("VRQSIM0002", "VRQSIM0003", "VRQSIM0001")],
          "check mode's history look-ups: %s" % history)
    app = calls(os.path.join(states, "app"))
    check(all(c[0] == play_vars["application"] and "--package" not in c for c in app),
          "the update application's calls: %s" % app)
    check(calls(os.path.join(states, "unused")) == [], "a failed parameter check ran something")
    check(running(os.path.join(states, "hang", "child.pid")) is False,
          "the timeout left the program's child running (or it never started)")


def main():
    parts = {"station": station_runs, "cases": case_runs}
    if len(sys.argv) != 3 or sys.argv[2] not in parts:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    source = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="ansible-%s-" % sys.argv[2])
    failures = Failures()
    controller = Controller(source, work)
    play_vars = prepare(work)
    parts[sys.argv[2]](controller, play_vars, failures)
    states = play_vars["states"]
    files = []
    for name in sorted(os.listdir(states)):
        folder = os.path.join(states, name)
        files += [os.path.join(folder, f) for f in sorted(os.listdir(folder))
                  if f in ("emitted.jsonl", "history.jsonl") or f.startswith("list-")]
    print(validate(source, files, failures))
    remove(work, failures)
    return 1 if failures.count else 0


sys.exit(main())
