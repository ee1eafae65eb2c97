#!/usr/bin/env python3
# The tasks of one fleet playbook run that reached each server, beside its
# outcome, the time of those tasks and of the bare zolhost runs among them
# (counted by scripts/ansible-callbacks/fleet_tasks.py), and the goal for
# that outcome: a new installation or an uninstallation (changed) in at most
# 8 tasks, a server already at the version or without the package to take
# off (ok) in at most 5, any server of a check-mode run in at most 5. Used
# by `make demo-fleet` and the fleet test.
#   scripts/fleet-task-counts.py SUMMARY_CSV TASKS_JSON [--check]
# Prints one line per server deployed to; exits 1 when a server took more
# tasks than its goal.
import csv
import json
import sys

GOALS = {"changed": 8, "ok": 5}
CHECK_GOAL = 5


def main(summary, tasks, check):
    counts = json.load(open(tasks))
    missed = 0
    for row in csv.DictReader(open(summary)):
        host, outcome = row["host"], row["outcome"]
        if host not in counts:
            continue
        count = counts[host]
        goal = CHECK_GOAL if check else GOALS.get(outcome)
        over = goal is not None and count["tasks"] > goal
        missed += over
        runs = count["zolhost_runs"]
        print("%-8s %-14s %2d tasks %-15s %5.1f s on the server, zolhost %4.1f s (%d run%s)" % (
            host, outcome, count["tasks"], "(goal %d%s)" % (goal, ", over" if over else "") if goal else "",
            count["seconds"], count["zolhost_seconds"], runs, "" if runs == 1 else "s"))
    return 1 if missed else 0


if __name__ == "__main__":
    args = [a for a in sys.argv[1:] if a != "--check"]
    if len(args) != 2:
        sys.exit("usage: fleet-task-counts.py SUMMARY_CSV TASKS_JSON [--check]")
    sys.exit(main(args[0], args[1], "--check" in sys.argv[1:]))
