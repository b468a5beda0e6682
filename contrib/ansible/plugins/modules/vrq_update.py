#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 The vrq-update developers. All rights reserved.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: vrq_update
short_description: Update the firmware of the VRQPrinters attached to a station
version_added: "1.0.0"
description:
  - Updates every VRQPrinter attached to the station by USB, or the printers named in
    I(devices), from an update package (C(.fwp)) or an update application (C(.run))
    that is already on the station.
  - Runs C(vrq-update --all --json --yes) once for all of them, so that the printers are
    written at the same time, each by a process of its own, and reads only the program's
    JSON output (one outcome per printer and a summary), never its text.
  - The module never asks before it writes a printer; the program is always given
    C(--yes). Keep a printer out of the run with I(devices), or look first in check mode.
  - The task fails when any printer was not updated, naming each such printer with the
    program's message and detail. The printers that were updated are reported as such in
    the same result.
  - A printer whose update failed or was stopped after its firmware image was sent may
    hold incomplete firmware. Its entry, and the result, carry C(needs_rerun=true); run
    the task again (with I(skip_updated) it writes only the printers that need it).
  - The user the task runs as must be able to open the printer nodes C(/dev/usb/lpN).
    The udev rules of the C(vrq-update) package give them to the user at the desk only;
    a user who logs in remotely (as Ansible does) needs membership in the C(lp) group,
    or C(become).
  - "Check mode: runs C(vrq-update --check) on the package (the task fails when an update
    would not accept it), lists the attached printers with C(vrq-update --list --json),
    picks those that I(devices) names and, with I(skip_updated), reads each printer's
    newest update record with C(vrq-update --history --device SERIAL --json). Nothing is
    written to any printer, nor to the update history."
options:
  package:
    description:
      - Path on the station of the update package (C(.fwp)) or of an update application
        (a path ending in C(.run), as C(vrq-update --make) makes it).
      - For an update application the module runs the application itself, which updates
        from the package linked into it; I(executable) is not used then.
    type: path
    required: true
  devices:
    description:
      - The printers to update, each by its USB port path (C(1-1.4)), node
        (C(/dev/usb/lp0) or C(lp0)) or serial number, or explicitly as C(port:PATH),
        C(node:NODE) or C(serial:SERIAL). Each is passed as C(--device); an explicit
        name is first looked up with C(vrq-update --list --json) and passed as the USB
        port path of the printer it names.
      - When empty, every printer attached to the station is updated.
      - A name that matches no attached printer, or several, fails the task before any
        printer is written.
    type: list
    elements: str
    default: []
  skip_updated:
    description:
      - Leave out every printer whose newest record in the station's update history is a
        successful update with the same package (compared by SHA-256). Such a printer is
        reported with status C(unchanged) and does not make the task changed, so that a
        second run of the same play changes nothing.
      - A printer without a serial number is never left out.
      - Passes C(--skip-updated) to the program.
    type: bool
    default: true
  confirm:
    description:
      - The module always confirms the update itself (C(--yes)), as there is nobody to ask.
      - Only C(true) is accepted; C(false) fails the task without running anything.
    type: bool
    default: true
  timeout:
    description:
      - Seconds the whole run may take, for all printers together (in check mode, for all
        the commands it runs).
      - When they are up, the program's process group gets SIGTERM, so that every printer
        stops after the block in progress. The task then fails with what the program
        reported; the printers stopped after their firmware image need a rerun.
      - Leave room for the printers' restarts and flash times; a timeout that stops a
        printer while it is written leaves it with incomplete firmware.
    type: int
    default: 3600
  executable:
    description:
      - The C(vrq-update) program to run, a path or a name looked up on the PATH.
    type: str
    default: vrq-update
notes:
  - Supports check mode.
  - The update history the module compares against is that of the user the task runs as
    (C(/var/lib/vrq-update/history.jsonl) for root, C($XDG_STATE_HOME/vrq-update/history.jsonl)
    for other users), so run the task as the same user every time.
requirements:
  - vrq-update with JSON schema 1 (C(--all --json), C(--skip-updated), C(--history --json))
    on the station
author:
  - The vrq-update developers (@vrqprinter)
"""

EXAMPLES = r"""
- name: Update every printer of the station, skipping those that have this package
  vrqprinter.station.vrq_update:
    package: /srv/firmware/VRQ-2.4.0.fwp

- name: Update two printers from an update application, with at most ten minutes for both
  vrqprinter.station.vrq_update:
    package: /srv/firmware/VRQ-2.4.0.run
    devices:
      - 1-1.4
      - serial:VRQ2231007
    timeout: 600

- name: Write the package again, even to printers that have it
  vrqprinter.station.vrq_update:
    package: /srv/firmware/VRQ-2.4.0.fwp
    skip_updated: false
    executable: /opt/vrq/bin/vrq-update
  register: update

- name: Say which printers still hold incomplete firmware
  ansible.builtin.debug:
    msg: "{{ update.printers | selectattr('needs_rerun') | map(attribute='port_path') | list }}"
  when: update.needs_rerun | default(false)
"""

RETURN = r"""
printers:
  description:
    - One entry per printer of the run, in the program's order.
    - In check mode, one per printer that the run would take, with status C(would_update)
      or C(unchanged); exit_status and seconds are null there.
  returned: when the program reported any printer
  type: list
  elements: dict
  contains:
    serial:
      description: The printer's USB serial number, empty when it has none.
      type: str
      sample: VRQSIM0001
    port_path:
      description: The USB port path the printer is attached at.
      type: str
      sample: 1-1.4
    status:
      description:
        - How the printer's update ended, C(success), C(unchanged) (left out by
          I(skip_updated)), C(failed) (before anything reached its flash),
          C(failed_after_image), C(stopped), C(stopped_after_image), C(declined) or
          C(refused); in check mode C(would_update) or C(unchanged).
      type: str
      sample: success
    exit_status:
      description: The exit status of the printer's own update (0, 1, 3, 130, 143...).
      type: int
      sample: 0
    message:
      description: The program's message for the printer.
      type: str
      sample: Update Success!
    detail:
      description: The cause below the message, empty when there is none.
      type: str
      sample: ""
    seconds:
      description: How long the printer's update took.
      type: float
      sample: 74.2
    written:
      description:
        - Whether anything was written to the printer's flash, that is its status is
          C(success), C(failed_after_image) or C(stopped_after_image).
      type: bool
      sample: true
    needs_rerun:
      description:
        - The printer may hold incomplete firmware (its update failed or was stopped after
          the firmware image was sent, exit status 3); update it again.
      type: bool
      sample: false
needs_rerun:
  description: Some printer may hold incomplete firmware and needs the update again.
  returned: always
  type: bool
  sample: false
rc:
  description: The exit status of C(vrq-update --all); 0 only when every printer was updated.
  returned: when the update ran (not in check mode)
  type: int
  sample: 0
summary:
  description: The program's summary of the run, as it printed it.
  returned: when the program printed one (not in check mode)
  type: dict
  contains:
    status:
      description: The run's status word.
      type: str
      sample: success
    exit_status:
      description: The run's exit status.
      type: int
      sample: 0
    message:
      description: The run's message.
      type: str
      sample: Update Success!
    detail:
      description: The cause below it (with no printer attached, why).
      type: str
      sample: ""
package:
  description: The package as the program saw it.
  returned: when the program reported it
  type: dict
  contains:
    path:
      description: The package's path.
      type: str
      sample: /srv/firmware/VRQ-2.4.0.fwp
    sha256:
      description: Its SHA-256 (the history compares by it), null when unknown.
      type: str
      sample: 5f2b9c0c3e1d6c3a1f1b0e7a2d8c4b6e9f0a1b2c3d4e5f60718293a4b5c6d7e8
    version:
      description: Its version label.
      type: str
      sample: "2.4.0"
cmd:
  description: The command line of the update (in check mode, of the package check).
  returned: when a command ran
  type: list
  elements: str
  sample: [vrq-update, --all, --json, --yes, --package, /srv/firmware/VRQ-2.4.0.fwp, --skip-updated]
stderr:
  description: The end of the program's standard error, when the task failed.
  returned: on failure
  type: str
  sample: ""
"""

import json
import os
import selectors
import signal
import subprocess
import time

from ansible.module_utils.basic import AnsibleModule

SCHEMA = 1
# A printer with one of these statuses had something written to its flash.
WRITTEN = ("success", "failed_after_image", "stopped_after_image")
# Statuses of a printer that is where the run meant it to be.
UPDATED = ("success", "unchanged")
# After SIGTERM the program stops every printer after the block in progress; a write
# that has stalled gives up after 60 s, so everything has ended well within this.
TERM_GRACE = 70
# Once the process group has been killed outright, how long its pipes may stay open.
KILL_GRACE = 5
STDERR_KEPT = 16384


class ProgramRun(object):
    """What one run of the program left: its exit status, standard output and error."""

    def __init__(self, argv):
        self.argv = argv
        self.rc = None
        self.stdout = b""
        self.stderr = b""
        self.timed_out = False
        self.error = None

    def objects(self):
        """The JSON objects of standard output, one per line; other lines are left out."""
        found = []
        for line in self.stdout.decode("utf-8", "replace").splitlines():
            line = line.strip()
            if not line.startswith("{"):
                continue
            try:
                value = json.loads(line)
            except ValueError:
                continue
            if isinstance(value, dict):
                found.append(value)
        return found

    def stderr_text(self):
        return self.stderr.decode("utf-8", "replace")[-STDERR_KEPT:]

    def error_tail(self):
        """The last lines of standard error, for a message where the JSON says nothing."""
        lines = [line.strip() for line in self.stderr_text().splitlines() if line.strip()]
        return " | ".join(lines[-3:])


class Stopper(object):
    """Ends a process group that has run past its deadline: SIGTERM first, so that the
    printers stop after the block in progress, SIGKILL TERM_GRACE seconds later."""

    def __init__(self, pgid, deadline):
        self.pgid = pgid
        self.deadline = deadline
        self.sent = None

    def seconds_left(self):
        return max(0.0, self.deadline - time.monotonic())

    def escalate(self):
        """Sends the next signal; False when SIGKILL has been sent already."""
        if self.sent == signal.SIGKILL:
            return False
        if self.sent is None:
            self.sent, grace = signal.SIGTERM, TERM_GRACE
        else:
            self.sent, grace = signal.SIGKILL, KILL_GRACE
        self.deadline = time.monotonic() + grace
        try:
            os.killpg(self.pgid, self.sent)
        except OSError:
            pass  # the whole group has ended already
        return True


def run_program(argv, deadline):
    """Runs argv in a process group of its own, with no standard input, until it ends or
    the Stopper has ended it."""
    run = ProgramRun(argv)
    try:
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, close_fds=True,
                                   start_new_session=True)
    except OSError as error:
        run.error = "cannot run %s: %s" % (argv[0], error.strerror or error)
        return run
    stopper = Stopper(process.pid, deadline)
    chunks = {process.stdout: [], process.stderr: []}
    with selectors.DefaultSelector() as selector:
        for pipe in chunks:
            selector.register(pipe, selectors.EVENT_READ)
        while selector.get_map():
            if stopper.seconds_left() == 0 and not stopper.escalate():
                break  # a process outside the group holds the pipes open
            for key, _ in selector.select(min(stopper.seconds_left(), 1.0)):
                data = os.read(key.fd, 65536)
                if data:
                    chunks[key.fileobj].append(data)
                else:
                    selector.unregister(key.fileobj)
    process.stdout.close()
    process.stderr.close()
    while True:
        try:
            rc = process.wait(timeout=stopper.seconds_left())
            break
        except subprocess.TimeoutExpired:
            if not stopper.escalate():
                process.kill()
                rc = process.wait()
                break
    run.rc = 128 - rc if rc < 0 else rc
    run.timed_out = stopper.sent is not None
    run.stdout = b"".join(chunks[process.stdout])
    run.stderr = b"".join(chunks[process.stderr])[-STDERR_KEPT:]
    return run


def needs_rerun(status, exit_status):
    return status in ("failed_after_image", "stopped_after_image") or exit_status == 3


def printer_entry(serial, port_path, status, exit_status, message, detail, seconds):
    return {
        "serial": serial,
        "port_path": port_path,
        "status": status,
        "exit_status": exit_status,
        "message": message,
        "detail": detail,
        "seconds": seconds,
        "written": status in WRITTEN,
        "needs_rerun": needs_rerun(status, exit_status),
    }


def entry_from_summary(printer):
    return printer_entry(printer.get("serial", ""), printer.get("port_path", ""),
                         printer.get("status", ""), printer.get("exit_status"),
                         printer.get("message", ""), printer.get("detail", ""),
                         printer.get("seconds"))


def entry_from_outcome(outcome):
    printer = outcome.get("printer") or {}
    durations = outcome.get("durations") or {}
    return printer_entry(printer.get("serial", ""), printer.get("port_path", ""),
                         outcome.get("status", ""), outcome.get("exit_status"),
                         outcome.get("message", ""), outcome.get("detail", ""),
                         durations.get("total"))


def package_of(outcomes):
    for outcome in outcomes:
        package = outcome.get("package")
        if isinstance(package, dict):
            return {key: package.get(key) for key in ("path", "sha256", "version")}
    return None


def describe(entry):
    serial = entry["serial"] or "no serial"
    text = "%s (%s): %s, exit status %s" % (entry["port_path"], serial, entry["status"],
                                             entry["exit_status"])
    for part in (entry["message"], entry["detail"]):
        if part:
            text += ": " + part
    if entry["needs_rerun"]:
        text += " (needs_rerun)"
    return text


class Station(object):
    """The module's work on one station: the program's command lines, run until the
    deadline, and what their JSON output means."""

    def __init__(self, module):
        self.module = module
        params = module.params
        self.package = os.path.abspath(params["package"])
        self.application = self.package.endswith(".run")
        self.devices = params["devices"] or []
        self.skip_updated = params["skip_updated"]
        self.timeout = params["timeout"]
        self.deadline = time.monotonic() + self.timeout
        self.program = self.package if self.application else self.find_executable()
        self.result = {"changed": False, "needs_rerun": False}

    def find_executable(self):
        executable = self.module.params["executable"]
        if "/" in executable:
            return os.path.abspath(executable)
        return self.module.get_bin_path(executable, required=True)

    def fail(self, msg, run=None):
        if run is not None and run.stderr:
            self.result["stderr"] = run.stderr_text()
        self.module.fail_json(msg=msg, **self.result)

    def run(self, args):
        run = run_program([self.program] + args, self.deadline)
        if run.error:
            self.fail(run.error)
        for value in run.objects():
            if value.get("schema", SCHEMA) != SCHEMA:
                self.fail("%s writes JSON schema %s; this module reads schema %d"
                          % (self.program, value.get("schema"), SCHEMA), run)
        return run

    def fail_if_timed_out(self, run):
        if run.timed_out:
            self.fail("%s did not end within the timeout of %d seconds and was stopped "
                      "(SIGTERM)%s" % (os.path.basename(self.program), self.timeout,
                                       self.failed_printers_text()), run)

    def failed_printers_text(self):
        failed = [entry for entry in self.result.get("printers", [])
                  if entry["status"] not in UPDATED]
        if not failed:
            return ""
        return "; not updated: " + "; ".join(describe(entry) for entry in failed)

    # The update.

    def update_arguments(self):
        args = ["--all", "--json", "--yes"]
        if not self.application:
            args += ["--package", self.package]
        for device in self.devices:
            args += ["--device", self.device_argument(device)]
        if self.skip_updated:
            args.append("--skip-updated")
        return args

    def device_argument(self, device):
        """What --device is given for a name of devices: the name itself, or, for an
        explicit port:, node: or serial: name (which vrq-update does not read), the USB
        port path of the one attached printer it names."""
        kind, _, name = device.partition(":")
        if kind not in ("port", "node", "serial") or not name:
            return device
        return self.chosen(self.list_printers(), [device])[0].get("port_path", "")

    def update(self):
        args = self.update_arguments()
        self.result["cmd"] = [self.program] + args
        run = self.run(args)
        self.result["rc"] = run.rc
        objects = run.objects()
        outcomes = [value for value in objects if value.get("event") == "outcome"]
        summaries = [value for value in objects if value.get("event") == "summary"]
        summary = summaries[-1] if summaries else None
        if summary is not None:
            self.result["summary"] = {key: summary.get(key) for key in
                                      ("status", "exit_status", "message", "detail")}
            entries = [entry_from_summary(printer) for printer in summary.get("printers", [])]
        else:
            entries = [entry_from_outcome(outcome) for outcome in outcomes]
        package = package_of(outcomes)
        if package:
            self.result["package"] = package
        self.result["printers"] = entries
        # Exit status 3 says a printer was written, even where its outcome is missing.
        self.result["changed"] = run.rc == 3 or any(entry["written"] for entry in entries)
        self.result["needs_rerun"] = run.rc == 3 or any(e["needs_rerun"] for e in entries)
        self.fail_if_timed_out(run)
        failed = [entry for entry in entries if entry["status"] not in UPDATED]
        if failed:
            self.fail("%s of %s printers not updated: %s"
                      % (len(failed), len(entries), "; ".join(describe(e) for e in failed)),
                      run)
        if summary is None and not outcomes:
            self.fail("%s ended with exit status %s and reported no outcome%s"
                      % (os.path.basename(self.program), run.rc,
                         ": " + run.error_tail() if run.error_tail() else ""), run)
        if run.rc != 0 or not entries:
            reason = summary if summary is not None else {}
            why = ": ".join(part for part in (reason.get("message"), reason.get("detail"))
                            if part) or run.error_tail()
            self.fail("%s ended with exit status %s%s"
                      % (os.path.basename(self.program), run.rc, ": " + why if why else ""),
                      run)
        self.module.exit_json(**self.result)

    # Check mode: the same decisions, from --check, --list and --history.

    def check(self):
        sha256 = self.check_package()
        attached = self.list_printers()
        entries = []
        for printer in self.chosen(attached):
            status, detail = self.forecast(printer, sha256)
            message = "would be updated" if status == "would_update" else "has this package"
            entries.append(printer_entry(printer.get("serial", ""),
                                         printer.get("port_path", ""), status, None,
                                         message, detail, None))
        self.result["printers"] = entries
        self.result["changed"] = any(entry["status"] == "would_update" for entry in entries)
        self.module.exit_json(**self.result)

    def check_package(self):
        args = ["--check"] + ([] if self.application else [self.package]) + ["--json"]
        self.result["cmd"] = [self.program] + args
        run = self.run(args)
        self.fail_if_timed_out(run)
        outcomes = [value for value in run.objects() if value.get("event") == "outcome"]
        outcome = outcomes[-1] if outcomes else None
        if outcome is None:
            self.fail("%s --check reported no outcome (exit status %s)%s"
                      % (os.path.basename(self.program), run.rc,
                         ": " + run.error_tail() if run.error_tail() else ""), run)
        package = package_of([outcome])
        if package:
            self.result["package"] = package
        if outcome.get("status") != "success" or run.rc != 0:
            findings = ["%s: %s" % (finding.get("kind"), finding.get("text"))
                        for finding in outcome.get("findings", [])]
            why = [part for part in (outcome.get("message"), outcome.get("detail")) if part]
            self.fail("an update would not accept %s: %s" % (
                self.package, "; ".join(why + findings) or "exit status %s" % run.rc), run)
        return package.get("sha256") if package else None

    def list_printers(self):
        run = self.run(["--list", "--json"])
        self.fail_if_timed_out(run)
        text = run.stdout.decode("utf-8", "replace").strip()
        try:
            printers = json.loads(text) if text else []
        except ValueError:
            printers = None
        if not isinstance(printers, list) or run.rc not in (0, 1):
            self.fail("%s --list --json gave no list of printers (exit status %s)%s"
                      % (os.path.basename(self.program), run.rc,
                         ": " + run.error_tail() if run.error_tail() else ""), run)
        printers = [printer for printer in printers if isinstance(printer, dict)]
        if not printers:
            self.fail("no printer is attached to the station", run)
        return printers

    def chosen(self, attached, devices=None):
        """The printers an update would take: all attached, or those devices names."""
        devices = self.devices if devices is None else devices
        if not devices:
            return attached
        chosen = []
        for device in devices:
            named = printers_named(attached, device)
            if len(named) != 1:
                listed = ", ".join("%s (%s)" % (printer.get("port_path"),
                                                printer.get("serial") or "no serial")
                                   for printer in (named or attached))
                self.fail("devices: %s names %s: %s" % (
                    device, "%d printers" % len(named) if named else "no attached printer",
                    listed))
            if named[0] not in chosen:
                chosen.append(named[0])
        return chosen

    def forecast(self, printer, sha256):
        """would_update or unchanged, and why, as --skip-updated would decide."""
        serial = printer.get("serial", "")
        if not self.skip_updated:
            return "would_update", "skip_updated is off"
        if not serial:
            return "would_update", "the printer has no serial number, so it is never skipped"
        if not sha256:
            return "would_update", "the package's SHA-256 is not known"
        record = self.newest_record(serial)
        if record is None:
            return "would_update", "no update of this printer in the history"
        when = record.get("time_utc", "")
        package = record.get("package") or {}
        if record.get("status") != "success":
            return "would_update", "its last update (%s) ended %s" % (when, record.get("status"))
        if package.get("sha256") != sha256:
            return "would_update", "its last update (%s) was with another package (%s)" % (
                when, package.get("file", ""))
        return "unchanged", "updated with this package on %s" % when

    def newest_record(self, serial):
        run = self.run(["--history", "--device", serial, "--json"])
        self.fail_if_timed_out(run)
        if run.rc == 2:
            self.fail("%s --history --device %s --json: %s" % (
                os.path.basename(self.program), serial,
                run.error_tail() or "exit status 2"), run)
        for record in run.objects():
            if record.get("record") != "update":
                continue
            if (record.get("printer") or {}).get("serial") == serial:
                return record
        return None


def printers_named(attached, device):
    """The attached printers device names: explicitly by port:, node: or serial:, or by
    the first of USB port path, node and serial number that any printer has."""
    fields = {
        "port": lambda printer: [printer.get("port_path")],
        "node": lambda printer: [printer.get("node"),
                                 os.path.basename(printer.get("node") or "")],
        "serial": lambda printer: [printer.get("serial")],
    }
    kind, _, name = device.partition(":")
    if kind in fields and name:
        kinds = [kind]
    else:
        kinds, name = ["port", "node", "serial"], device
    for kind in kinds:
        named = [printer for printer in attached if name in fields[kind](printer)]
        if named:
            return named
    return []


ARGUMENT_SPEC = dict(
    package=dict(type="path", required=True),
    devices=dict(type="list", elements="str", default=[]),
    skip_updated=dict(type="bool", default=True),
    confirm=dict(type="bool", default=True),
    timeout=dict(type="int", default=3600),
    executable=dict(type="str", default="vrq-update"),
)


def main():
    module = AnsibleModule(argument_spec=ARGUMENT_SPEC, supports_check_mode=True)
    params = module.params
    if not params["confirm"]:
        module.fail_json(msg="confirm: false is not supported: the module cannot be asked and "
                             "always confirms (--yes); leave printers out with devices, or "
                             "run in check mode")
    if params["timeout"] <= 0:
        module.fail_json(msg="timeout must be a number of seconds above 0")
    if any(not device for device in params["devices"]):
        module.fail_json(msg="devices: an empty name names no printer")
    if not os.path.isfile(params["package"]):
        module.fail_json(msg="package %s is no file on the station" % params["package"])
    station = Station(module)
    if module.check_mode:
        station.check()
    else:
        station.update()


if __name__ == "__main__":
    main()
