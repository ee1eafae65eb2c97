# Counts the tasks of a playbook run that reach each server, for the fleet
# test and `make demo-fleet` (not part of the role): a task reaches the
# server unless Ansible runs it on the controller alone (set_fact, debug,
# fail, includes, meta) or it is delegated elsewhere; each item of a loop and
# each attempt of a task that is tried again count once, as each is a round
# trip on Windows. Also adds up, per server, the time of those tasks and of
# the bare zolhost runs among them (the "delta" each command reports).
# Enabled with ANSIBLE_CALLBACK_PLUGINS=scripts/ansible-callbacks and
# ANSIBLE_CALLBACKS_ENABLED=fleet_tasks; writes the JSON object
#   {server: {"tasks": N, "seconds": S, "zolhost_runs": N, "zolhost_seconds": S, "steps": [task names]}}
# to the file ZOL_FLEET_TASKS names when the run ends.
import json
import os
import re
import time

from ansible.plugins.callback import CallbackBase

CONTROLLER_ACTIONS = {"set_fact", "debug", "fail", "assert", "meta", "include_tasks", "import_tasks", "include_role",
                      "import_role", "include_vars", "add_host", "group_by", "set_stats", "pause"}


def _seconds(delta):
    match = re.match(r"^(\d+):(\d+):(\d+(?:\.\d+)?)$", str(delta or ""))
    return int(match.group(1)) * 3600 + int(match.group(2)) * 60 + float(match.group(3)) if match else None


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "aggregate"
    CALLBACK_NAME = "fleet_tasks"
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self._servers = {}
        self._started = {}

    def _server(self, name):
        return self._servers.setdefault(name, {"tasks": 0, "seconds": 0.0, "zolhost_runs": 0, "zolhost_seconds": 0.0,
                                               "steps": []})

    @staticmethod
    def _reaches(task):
        return task.action.split(".")[-1] not in CONTROLLER_ACTIONS and not task.delegate_to

    @staticmethod
    def _runs_zolhost(task):
        argv = task.args.get("argv") if isinstance(task.args, dict) else None
        return isinstance(argv, list) and any(str(a).lower().endswith("\\zolhost.exe") for a in argv)

    def _attempt(self, result):
        """One round trip: counted, and timed when it ran zolhost."""
        if not self._reaches(result._task):
            return
        server = self._server(result._host.get_name())
        server["tasks"] += 1
        server["steps"].append(result._task.get_name())
        if self._runs_zolhost(result._task):
            server["zolhost_runs"] += 1
            server["zolhost_seconds"] += _seconds(result._result.get("delta")) or 0.0

    def _finished(self, result, attempt=True):
        key = (result._host.get_name(), result._task._uuid)
        started = self._started.pop(key, None)
        if self._reaches(result._task) and started is not None:
            self._server(key[0])["seconds"] += time.monotonic() - started
        if attempt and "results" not in result._result:
            self._attempt(result)

    def v2_runner_on_start(self, host, task):
        self._started[(host.get_name(), task._uuid)] = time.monotonic()

    def v2_runner_on_ok(self, result):
        self._finished(result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._finished(result)

    def v2_runner_on_unreachable(self, result):
        self._finished(result)

    def v2_runner_on_skipped(self, result):
        self._finished(result, attempt=False)

    def v2_runner_item_on_ok(self, result):
        self._attempt(result)

    def v2_runner_item_on_failed(self, result):
        self._attempt(result)

    def v2_runner_retry(self, result):
        self._attempt(result)

    def v2_playbook_on_stats(self, stats):
        path = os.environ.get("ZOL_FLEET_TASKS")
        if path:
            with open(path, "w") as out:
                json.dump(self._servers, out, indent=1, sort_keys=True)
