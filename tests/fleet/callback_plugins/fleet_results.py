# The results of the tarvelin.gateway module's tasks in a playbook run, for
# the fleet tests: {host: {"outcome": "ok" | "changed" | "failed" |
# "unreachable", "result": the module's result}} written as JSON to the file
# $FLEET_RESULTS when the run ends. The run's own output is left as it is.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = """
name: fleet_results
type: notification
short_description: the tarvelin module's results per host, as JSON in a file
description: The fleet tests' record of what each site's task did.
requirements: [the file named by FLEET_RESULTS]
"""

import json
import os

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "notification"
    CALLBACK_NAME = "fleet_results"
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.results = {}

    def record(self, result, outcome):
        if not result._task.action.endswith("sim_config"):
            return
        if outcome == "ok" and result._result.get("changed"):
            outcome = "changed"
        self.results[result._host.get_name()] = {"outcome": outcome, "result": result._result}

    def v2_runner_on_ok(self, result):
        self.record(result, "ok")

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self.record(result, "failed")

    def v2_runner_on_unreachable(self, result):
        self.record(result, "unreachable")

    def v2_playbook_on_stats(self, stats):
        with open(os.environ["FLEET_RESULTS"], "w") as f:
            json.dump(self.results, f, ensure_ascii=False, indent=1, default=str)
