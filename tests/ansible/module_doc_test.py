#!/usr/bin/python3
"""The collection as Ansible's own tools read it.

usage: module_doc_test.py SOURCE_DIR

- the module compiles (py_compile, bytecode kept in the temporary folder);
- ansible-doc reads its DOCUMENTATION, EXAMPLES and RETURN;
- the documented options are the module's argument_spec (type, default, required,
  elements), and the documented fields of a printer's entry are those it returns;
- ansible-galaxy builds the collection from galaxy.yml;
- the plays and the inventory the collection's README shows pass ansible-playbook's
  syntax check.
"""
import importlib.util
import json
import os
import py_compile
import re
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written beside the sources
import yaml

from harness import Controller, Failures, remove

MODULE = os.path.join("contrib", "ansible", "plugins", "modules", "vrq_update.py")


def load_module(path):
    found = importlib.util.spec_from_file_location("vrq_update", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def compare_options(documented, arguments, failures):
    failures.check(sorted(documented) == sorted(arguments),
                   "documented options %s, argument_spec %s" % (sorted(documented), sorted(arguments)))
    for name in sorted(set(documented) & set(arguments)):
        doc, arg = documented[name], arguments[name]
        for key, fallback in (("type", "str"), ("default", None), ("required", False),
                              ("elements", None)):
            failures.check(doc.get(key, fallback) == arg.get(key, fallback),
                           "option %s: %s documented %r, in argument_spec %r"
                           % (name, key, doc.get(key, fallback), arg.get(key, fallback)))


def check_readme_plays(source, controller, failures):
    """Writes the README's inventory and plays to files and has ansible-playbook check them."""
    with open(os.path.join(source, "contrib", "ansible", "README.md"), encoding="utf-8") as readme:
        blocks = re.findall(r"^```(yaml|ini)\n(.*?)^```", readme.read(), re.M | re.S)
    inventories = [text for kind, text in blocks if kind == "ini"]
    plays = [text for kind, text in blocks if kind == "yaml"]
    failures.check(len(inventories) == 1 and len(plays) == 2,
                   "the README shows %d inventories and %d plays" % (len(inventories), len(plays)))
    inventory = os.path.join(controller.work, "stations.ini")
    with open(inventory, "w", encoding="utf-8") as out:
        out.write(inventories[0] if inventories else "")
    for number, play in enumerate(plays):
        path = os.path.join(controller.work, "readme-play-%d.yml" % number)
        with open(path, "w", encoding="utf-8") as out:
            out.write(play)
        done = subprocess.run(["/usr/bin/ansible-playbook", "--syntax-check", "-i", inventory,
                               path], cwd=controller.work, env=controller.env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              universal_newlines=True)
        failures.check(done.returncode == 0 and "WARNING" not in done.stdout,
                       "the README's play %d:\n%s%s" % (number, play, done.stdout))


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    source = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="ansible-doc-")
    failures = Failures()
    module_path = os.path.join(source, MODULE)
    try:
        py_compile.compile(module_path, cfile=os.path.join(work, "vrq_update.pyc"), doraise=True)
    except py_compile.PyCompileError as error:
        failures.check(False, "py_compile: %s" % error)

    controller = Controller(source, work)
    done = subprocess.run(["/usr/bin/ansible-doc", "--json", "-t", "module",
                           "vrqprinter.station.vrq_update"], cwd=work, env=controller.env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True)
    failures.check(done.returncode == 0 and not done.stderr.strip(),
                   "ansible-doc: exit status %d: %s" % (done.returncode, done.stderr.strip()))
    try:
        docs = json.loads(done.stdout)["vrqprinter.station.vrq_update"]
    except (ValueError, KeyError):
        docs = {"doc": {}, "return": {}, "examples": ""}
        failures.check(False, "ansible-doc gave no documentation: " + done.stdout[:500])
    doc = docs.get("doc") or {}
    failures.check(doc.get("short_description"), "no short_description")
    failures.check(yaml.safe_load(docs.get("examples") or "null"), "EXAMPLES are no YAML list")

    module = load_module(module_path)
    compare_options(doc.get("options") or {}, module.ARGUMENT_SPEC, failures)
    returned = docs.get("return") or {}
    entry = module.printer_entry("VRQSIM0001", "1-1.4", "success", 0, "Update Success!", "",
                                 1.0)
    documented = sorted((returned.get("printers") or {}).get("contains", {}))
    failures.check(documented == sorted(entry),
                   "printers' fields: documented %s, returned %s" % (documented, sorted(entry)))
    for key in ("printers", "needs_rerun", "rc", "summary", "package", "cmd", "stderr"):
        failures.check(key in returned, "RETURN does not document %s" % key)

    done = subprocess.run(["/usr/bin/ansible-galaxy", "collection", "build", "--output-path",
                           work, os.path.join(source, "contrib", "ansible")], cwd=work,
                          env=controller.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          universal_newlines=True)
    failures.check(done.returncode == 0 and os.path.exists(
        os.path.join(work, "vrqprinter-station-1.0.0.tar.gz")),
        "ansible-galaxy collection build: " + done.stdout.strip())
    check_readme_plays(source, controller, failures)
    remove(work, failures)
    return 1 if failures.count else 0


sys.exit(main())
