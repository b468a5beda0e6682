#!/usr/bin/python3
"""A stand-in for vrq-update in the collection's tests.

It takes the command lines the module gives (--all, --check, --list, --history, all with
--json) and answers them with JSON lines of docs/outcome.schema.json for a station that
the test describes in the folder $FAKE_VRQ_STATE:

  station.json   {"printers": [{"port_path": "1-1.4", "serial": "VRQSIM0001",
                                "node": "/dev/usb/lp0", "fault": "block-error"}],
                  "version": "2.4.0", "hang": false}
                 fault "block-error": the printer fails after its firmware image (exit 3);
                 hang: after the first printer --all waits for SIGTERM, with a child
                 process (its pid in child.pid) that keeps standard output open
  history.jsonl  the update records, oldest first, as the program appends them

and records what it did there:
  calls.jsonl    every command line it was given, one JSON array a line
  emitted.jsonl  every JSON object it printed, one a line
  list-N.json    every JSON array it printed
Named NAME.run, it is an update application: its package is the file itself.
"""
import datetime
import hashlib
import json
import os
import signal
import subprocess
import sys
import time

STATE = os.environ["FAKE_VRQ_STATE"]
VERSION = "1.7.0"
STARTED = time.monotonic()


def state_path(name):
    return os.path.join(STATE, name)


def append_line(name, value):
    with open(state_path(name), "a", encoding="utf-8") as out:
        out.write(json.dumps(value) + "\n")


def emit(value):
    """Prints one JSON object or array, and keeps it for the schema check."""
    if isinstance(value, list):
        number = len([n for n in os.listdir(STATE) if n.startswith("list-")])
        with open(state_path("list-%d.json" % number), "w", encoding="utf-8") as out:
            json.dump(value, out)
    else:
        append_line("emitted.jsonl", value)
    sys.stdout.write(json.dumps(value) + "\n")
    sys.stdout.flush()


def now():
    return round(time.monotonic() - STARTED, 3)


def station():
    with open(state_path("station.json"), encoding="utf-8") as source:
        return json.load(source)


def history():
    try:
        with open(state_path("history.jsonl"), encoding="utf-8") as source:
            return [json.loads(line) for line in source if line.strip()]
    except FileNotFoundError:
        return []


def package_of(path, version):
    with open(path, "rb") as source:
        sha256 = hashlib.sha256(source.read()).hexdigest()
    return {"path": path, "sha256": sha256, "version": version,
            "items": [{"type": "firmware", "file": "frw.bin", "size": 3000},
                      {"type": "font", "file": "font.bin", "size": 140000}]}


def outcome(status, exit_status, message, detail, printer, package, seconds, **extra):
    value = {"schema": 1, "event": "outcome", "time": now(), "program_version": VERSION,
             "status": status, "exit_status": exit_status, "message": message,
             "detail": detail, "warnings": [], "printer": printer, "package": package,
             "durations": {"total": seconds,
                           "writing": seconds if status != "unchanged" else None}}
    value.update(extra)
    return value


def record(printer, package, result):
    append_line("history.jsonl", {
        "schema": 1, "record": "update",
        "time_utc": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
        "program_version": VERSION,
        "printer": {"serial": printer["serial"], "port_path": printer["port_path"]},
        "package": {"file": os.path.basename(package["path"]), "sha256": package["sha256"],
                    "version": package["version"]},
        "status": result["status"], "exit_status": result["exit_status"],
        "message": result["message"], "durations": result["durations"]})


def names(printer, device):
    kind, _, name = device.partition(":")
    node = printer["node"]
    candidates = {"port": [printer["port_path"]], "node": [node, os.path.basename(node)],
                  "serial": [printer["serial"]] if printer["serial"] else []}
    if kind in candidates and name:
        return name in candidates[kind]
    return any(device in values for values in candidates.values())


def chosen_printers(printers, devices):
    if not devices:
        return printers
    chosen = []
    for device in devices:
        named = [printer for printer in printers if names(printer, device)]
        if len(named) != 1:
            print("vrq-update: --device %s names %d printers" % (device, len(named)),
                  file=sys.stderr)
            sys.exit(2)
        chosen.append(named[0])
    return chosen


def already_has(printer, package):
    if not printer["serial"]:
        return None
    for entry in reversed(history()):
        if entry["printer"]["serial"] == printer["serial"]:
            if entry["status"] == "success" and entry["package"]["sha256"] == package["sha256"]:
                return entry
            return None
    return None


def update_one(printer, package, skip_updated):
    where = {"port_path": printer["port_path"], "serial": printer["serial"],
             "node": printer["node"]}
    done = already_has(printer, package) if skip_updated else None
    if done:
        return outcome("unchanged", 0, "Not updated: it has this package",
                       "updated with %s on %s" % (package["version"], done["time_utc"]),
                       where, package, 0.01)
    emit({"schema": 1, "event": "step", "time": now(), "status": "Update...",
          "printer": printer["port_path"]})
    if printer.get("fault") == "block-error":
        result = outcome("failed_after_image", 3, "Write Flash Error!",
                         "font block 1 of 2 was answered ERROR; the printer may hold "
                         "incomplete firmware: run the update again", where, package, 12.5)
    else:
        result = outcome("success", 0, "Update Success!", "", where, package, 41.0)
    record(printer, package, result)
    return result


def summary_of(results, no_printer=False):
    worst = max(results, key=lambda result: result["exit_status"], default=None)
    if no_printer:
        status, exit_status, message, detail = (
            "failed", 1, "Can not open usb port!", "no printer of the vendor is attached")
    elif worst["exit_status"] == 0:
        status, exit_status, message, detail = "success", 0, "Update Success!", ""
    else:
        status, exit_status = worst["status"], worst["exit_status"]
        message, detail = "Not every printer was updated", ""
    return {"schema": 1, "event": "summary", "time": now(), "program_version": VERSION,
            "status": status, "exit_status": exit_status, "message": message,
            "detail": detail,
            "printers": [{"port_path": r["printer"]["port_path"],
                          "serial": r["printer"]["serial"], "status": r["status"],
                          "exit_status": r["exit_status"], "message": r["message"],
                          "detail": r["detail"], "seconds": r["durations"]["total"]}
                         for r in results]}


def wait_for_sigterm():
    """Holds the run until SIGTERM, with a child that keeps standard output open."""
    stopped = []
    signal.signal(signal.SIGTERM, lambda *_: stopped.append(True))
    child = subprocess.Popen(["sleep", "300"])
    with open(state_path("child.pid"), "w", encoding="utf-8") as out:
        out.write(str(child.pid))
    deadline = time.monotonic() + 120
    while not stopped and time.monotonic() < deadline:
        time.sleep(0.05)


def update_all(options, package_path):
    config = station()
    printers = chosen_printers(config["printers"], options["devices"])
    if not printers:
        emit(summary_of([], no_printer=True))
        return 1
    package = package_of(package_path, config.get("version", "2.4.0"))
    results = []
    for index, printer in enumerate(printers):
        if config.get("hang") and index == 1:
            wait_for_sigterm()
            for rest in printers[index:]:
                results.append(outcome("stopped_after_image", 143, "Update stopped",
                                       "stopped by SIGTERM while the printer was written",
                                       {"port_path": rest["port_path"],
                                        "serial": rest["serial"], "node": rest["node"]},
                                       package, 2.0))
                emit(results[-1])
            break
        results.append(update_one(printer, package, options["skip_updated"]))
        emit(results[-1])
    summary = summary_of(results)
    emit(summary)
    return summary["exit_status"]


def check(path):
    package = package_of(path, station().get("version", "2.4.0"))
    with open(path, "rb") as source:
        damaged = source.read(3) == b"BAD"
    if damaged:
        emit(outcome("failed", 1, "Error fwp data!", "the package's header is damaged", None,
                     package, 0.0, findings=[{"kind": "damaged", "text": "header sum"}]))
        return 1
    emit(outcome("success", 0, "The package is ready for an update", "", None, package, 0.0,
                 findings=[]))
    return 0


def list_printers():
    printers = station()["printers"]
    emit([{"schema": 1, "port_number": int(p["node"][len("/dev/usb/lp"):]) + 1,
           "id": "04710055", "node": p["node"], "port_path": p["port_path"],
           "serial": p["serial"]} for p in printers])
    return 0 if printers else 1


def show_history(devices):
    for entry in reversed(history()):
        if not devices or devices[0] in (entry["printer"]["serial"],
                                         entry["printer"]["port_path"]):
            emit(entry)
    return 0


def parse(argv):
    options = {"devices": [], "package": None, "check": None, "skip_updated": False}
    flags = {"--all": "all", "--json": "json", "--yes": "yes", "--list": "list",
             "--history": "history", "--skip-updated": "skip_updated"}
    i = 0
    while i < len(argv):
        arg = argv[i]
        if arg in flags:
            options[flags[arg]] = True
        elif arg in ("--package", "--device"):
            i += 1
            if arg == "--package":
                options["package"] = argv[i]
            else:
                options["devices"].append(argv[i])
        elif arg == "--check":
            options["check"] = True
            if i + 1 < len(argv) and not argv[i + 1].startswith("-"):
                i += 1
                options["check"] = argv[i]
        else:
            print("vrq-update: unknown argument " + arg, file=sys.stderr)
            sys.exit(2)
        i += 1
    return options


def main():
    append_line("calls.jsonl", sys.argv)
    options = parse(sys.argv[1:])
    application = sys.argv[0].endswith(".run")
    own = os.path.abspath(sys.argv[0]) if application else None
    if not options.get("json"):
        print("vrq-update: the stub speaks JSON only", file=sys.stderr)
        return 2
    if options.get("all"):
        if application == bool(options["package"]):
            print("vrq-update: --package goes with vrq-update, not an application",
                  file=sys.stderr)
            return 2
        return update_all(options, own or options["package"])
    if options["check"]:
        return check(own if options["check"] is True else options["check"])
    if options.get("list"):
        return list_printers()
    if options.get("history"):
        return show_history(options["devices"])
    print("vrq-update: nothing to do", file=sys.stderr)
    return 2


sys.exit(main())
