#!/bin/bash
# Demonstration: one Ansible playbook (deploy/ansible/fleet.yml) installs the
# chipset package BUILD/packages/chipset-1.2.4.0 on four simulated servers:
# first with --check (what an install would do, nothing changed), then in
# batches (one server, then a quarter of the fleet, then the rest; two at a
# time), then again, changing nothing; then rolls 1.2.4.0 back in the same
# batches (zol_state absent): srv4 goes back to 1.2.3.0, srv1 and srv2, which
# had no driver before it, are left without one (zol_force_uninstall).
#
#   scripts/demo-fleet.sh BUILD_DIR
#
# The servers (scripts/fleet-hosts.sh) are copies of the pristine Wine prefix
# in BUILD/fleet/servers: srv1 and srv2 with three chipset devices, srv3
# without any, srv4 with the older package 1.2.3.0 installed. Each run's
# playbook output, JSON reports and summary stay in BUILD/fleet/check, run1,
# run2 and rollback;
# the servers are removed at the end unless ZOL_KEEP_DEMO=1 is set. After
# each run it prints the tasks that reached each server (goals: a new
# installation or uninstallation in at most 8, a server already at the
# version or without the package in at most 5, a check-mode run in at most
# 5), the time of those tasks and of the bare zolhost runs among them
# (scripts/ansible-callbacks/fleet_tasks.py).
# Exit code: 0 when the four runs succeeded, the second changed nothing and
# every server kept to its goal.
set -uo pipefail
BUILD=$(realpath -m "${1:?usage: scripts/demo-fleet.sh BUILD_DIR}")
HERE=$(cd "$(dirname "$0")/.." && pwd)
source "$HERE/scripts/demo-common.sh"
FLEET="$BUILD/fleet"
export ANSIBLE_CONFIG="$HERE/deploy/ansible/ansible.cfg" ANSIBLE_LOCAL_TEMP="$FLEET/ansible-tmp"
export ANSIBLE_CALLBACK_PLUGINS="$HERE/scripts/ansible-callbacks" ANSIBLE_CALLBACKS_ENABLED=fleet_tasks
for p in chipset chipset-1.2.4.0; do
    [ -d "$BUILD/packages/$p" ] || { echo "demo: $BUILD/packages/$p is missing; run 'make build'" >&2; exit 2; }
done
START=$(date +%s.%N)
cleanup() {
    "$HERE/scripts/fleet-hosts.sh" stop "$FLEET/servers"
    if [ "${ZOL_KEEP_DEMO:-0}" = 1 ]; then echo "(servers kept in $FLEET/servers)"; else rm -rf "$FLEET/servers"; fi
}
trap cleanup EXIT
rm -rf "$FLEET/check" "$FLEET/run1" "$FLEET/run2" "$FLEET/rollback"

echo "Demonstration: the chipset package 1.2.4.0 deployed by Ansible to four simulated servers (batches 1, 25%, 100%; forks 2)"
heading "1. The servers (Wine prefixes in $FLEET/servers)"
"$HERE/scripts/fleet-hosts.sh" create "$BUILD" "$FLEET/servers" srv1=chipset srv2=chipset srv3=bare srv4=older | sort |
    sed 's/^fleet-hosts: //; s/ ready in .*//' | indent
[ "${PIPESTATUS[0]}" = 0 ] || exit 1

# Runs the playbook once ($1: the run's folder; the playbook's arguments
# after it); shows its recap, the fleet summary and the tasks that reached
# each server. GOALS ends up 1 when a server took more tasks than its goal.
GOALS=0
run() {
    local dir="$FLEET/$1"
    mkdir -p "$dir"
    ZOL_FLEET_TASKS="$dir/tasks.json" ansible-playbook -i "$HERE/deploy/ansible/inventories/simulated" \
        "$HERE/deploy/ansible/fleet.yml" -e "zol_build_dir=$BUILD" -e "zol_report_dir=$dir" "${@:2}" >"$dir/playbook.log" 2>&1
    local rc=$? shown= arg
    for arg in "${@:2}"; do [[ $arg == *" "* ]] && shown+=" '$arg'" || shown+=" $arg"; done
    echo "    ansible-playbook -i inventories/simulated fleet.yml$shown: exit code $rc (output in $dir/playbook.log)"
    sed -n '/^PLAY RECAP/,$p' "$dir/playbook.log" | sed '/^$/d' | indent
    echo
    if [ -f "$dir/fleet-summary.md" ]; then indent <"$dir/fleet-summary.md"; else echo "    (no summary)"; fi
    if [ -f "$dir/fleet-summary.csv" ] && [ -f "$dir/tasks.json" ]; then
        echo
        echo "    Tasks that reached each server, the time they took and the bare zolhost runs among them:"
        "$HERE/scripts/fleet-task-counts.py" "$dir/fleet-summary.csv" "$dir/tasks.json" \
            $([ "${2:-}" = --check ] && echo --check) | indent
        [ "${PIPESTATUS[0]}" = 0 ] || GOALS=1
    fi
    return $rc
}

heading "2. Check mode: what an installation would do on each server"
run check --check
CHECK=$?
heading "3. First run: install where the package is missing or older"
run run1
FIRST=$?
heading "4. Second run: nothing left to do"
run run2
SECOND=$?
CHANGED=$(grep -cE '^srv[0-9] +: .* changed=[1-9]' "$FLEET/run2/playbook.log")
heading "5. Rollback: 1.2.4.0 taken off again, in the same batches (srv1 and srv2 had no driver before it)"
run rollback -e '{"zol_state": "absent", "zol_force_uninstall": true}'
ROLLBACK=$?

heading "Outcome"
echo "    Check run exit code $CHECK; first run exit code $FIRST; second run exit code $SECOND, servers changed:" \
     "$CHANGED; rollback exit code $ROLLBACK; task goals $([ $GOALS = 0 ] && echo met || echo missed);" \
     "demo ran $(elapsed) s"
[ "$CHECK" = 0 ] && [ "$FIRST" = 0 ] && [ "$SECOND" = 0 ] && [ "$CHANGED" = 0 ] && [ "$ROLLBACK" = 0 ] && [ "$GOALS" = 0 ]
