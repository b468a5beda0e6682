"""Runs the collection's plays with Debian's ansible-playbook against this machine, with
everything Ansible writes kept in one temporary folder (never under ~)."""
import json
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
PLAYBOOK = "/usr/bin/ansible-playbook"


class Failures(object):
    """Collects what a test found wrong, so that one run reports all of it."""

    def __init__(self):
        self.count = 0

    def check(self, condition, what):
        if not condition:
            self.count += 1
            print("FAIL: " + what, file=sys.stderr)
        return condition


class Controller(object):
    """ansible-playbook with the collection from contrib/ansible linked into a collections
    folder of its own, and HOME, the temporary folders and the state below work."""

    def __init__(self, source, work, copy=False):
        """With copy, the collection and the plays are copied into work (for a user who
        may not read the source tree), else linked."""
        self.work = work
        collections = os.path.join(work, "collections")
        namespace = os.path.join(collections, "ansible_collections", "vrqprinter")
        os.makedirs(namespace)
        collection = os.path.join(source, "contrib", "ansible")
        self.plays = HERE
        if copy:
            shutil.copytree(collection, os.path.join(namespace, "station"))
            self.plays = os.path.join(work, "plays")
            shutil.copytree(HERE, self.plays, ignore=shutil.ignore_patterns("__pycache__"))
        else:
            os.symlink(collection, os.path.join(namespace, "station"))
        home = os.path.join(work, "home")
        os.makedirs(home)
        self.env = dict(os.environ)
        self.env.update({
            "HOME": home,
            "XDG_STATE_HOME": os.path.join(home, "state"),
            "ANSIBLE_LOCAL_TEMP": os.path.join(work, "ansible-local"),
            "ANSIBLE_REMOTE_TEMP": os.path.join(work, "ansible-remote"),
            "ANSIBLE_COLLECTIONS_PATH": collections,
            "ANSIBLE_PYTHON_INTERPRETER": "/usr/bin/python3",
            "ANSIBLE_NOCOLOR": "1",
            "ANSIBLE_RETRY_FILES_ENABLED": "0",
            "ANSIBLE_HOST_KEY_CHECKING": "0",
            # Only what ansible-core brings: no collection of the "ansible" package.
            "ANSIBLE_COLLECTIONS_SCAN_SYS_PATH": "0",
            "ANSIBLE_STDOUT_CALLBACK": "default",
            # The last task's result per host, as JSON, in tree/HOST.
            "ANSIBLE_CALLBACKS_ENABLED": "ansible.builtin.tree",
            "ANSIBLE_CALLBACK_TREE_DIR": os.path.join(work, "tree"),
            "PYTHONDONTWRITEBYTECODE": "1",
        })
        self.tree_file = os.path.join(work, "tree", "localhost")
        self.env.pop("ANSIBLE_CONFIG", None)

    def play(self, playbook, extra_vars, check=False, wrapper=(), environment=None):
        """Runs the playbook on localhost; returns its exit status, its output and the
        result of its last task."""
        env = dict(self.env)
        env.update(environment or {})
        if os.path.exists(self.tree_file):
            os.unlink(self.tree_file)
        argv = list(wrapper) + [PLAYBOOK, "-i", "localhost,", "-c", "local",
                                "-e", json.dumps(extra_vars), os.path.join(self.plays, playbook)]
        if check:
            argv.append("--check")
        done = subprocess.run(argv, cwd=self.work, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, universal_newlines=True)
        try:
            with open(self.tree_file, encoding="utf-8") as source:
                result = json.load(source)
        except (OSError, ValueError):
            result = {"failed": True, "msg": "no result; the output: " + done.stdout[-3000:]}
        # The tree callback leaves out whether the task failed; the recap says it.
        if recap(done.stdout)[1]:
            result["failed"] = True
        return done.returncode, done.stdout, result


def recap(output):
    """changed= and failed= of the recap line for localhost."""
    match = re.search(r"^localhost\s*:.*\bchanged=(\d+).*\bfailed=(\d+)", output, re.M)
    return (int(match.group(1)), int(match.group(2))) if match else (None, None)


def statuses(result):
    return {entry["port_path"]: entry["status"] for entry in result.get("printers", [])}


def validate(source, files, failures):
    """Every JSON value in files is one of docs/outcome.schema.json."""
    files = [name for name in files if os.path.exists(name)]
    if not files:
        failures.check(False, "no JSON to check against the schema")
        return ""
    done = subprocess.run(["/usr/bin/python3", os.path.join(source, "tests", "json", "validate.py"),
                           os.path.join(source, "docs", "outcome.schema.json")] + files,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          universal_newlines=True)
    failures.check(done.returncode == 0, "JSON against the schema: " + done.stdout.strip())
    return done.stdout.strip()


def remove(work, failures):
    if failures.count == 0:
        shutil.rmtree(work, ignore_errors=True)
    else:
        print("kept for a look: " + work, file=sys.stderr)
