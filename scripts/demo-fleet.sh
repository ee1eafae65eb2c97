#!/bin/bash
# Demonstration: one Ansible playbook (deploy/ansible/fleet.yml) installs the
# chipset package BUILD/packages/chipset-1.2.4.0 on four simulated servers:
# first with --check (what an install would do, nothing changed), then in
# batches (one server, then a quarter of the fleet, then the rest; two at a
# time), then again, changing nothing.
#
#   scripts/demo-fleet.sh BUILD_DIR
#
# The servers (scripts/fleet-hosts.sh) are copies of the pristine Wine prefix
# in BUILD/fleet/servers: srv1 and srv2 with three chipset devices, srv3
# without any, srv4 with the older package 1.2.3.0 installed. Each run's
# playbook output, JSON reports and summary stay in BUILD/fleet/check, run1
# and run2;
# the servers are removed at the end unless ZOL_KEEP_DEMO=1 is set.
# Exit code: 0 when the three runs succeeded and the last changed nothing.
set -uo pipefail
BUILD=$(realpath -m "${1:?usage: scripts/demo-fleet.sh BUILD_DIR}")
HERE=$(cd "$(dirname "$0")/.." && pwd)
source "$HERE/scripts/demo-common.sh"
FLEET="$BUILD/fleet"
export ANSIBLE_CONFIG="$HERE/deploy/ansible/ansible.cfg" ANSIBLE_LOCAL_TEMP="$FLEET/ansible-tmp"
for p in chipset chipset-1.2.4.0; do
    [ -d "$BUILD/packages/$p" ] || { echo "demo: $BUILD/packages/$p is missing; run 'make build'" >&2; exit 2; }
done
START=$(date +%s.%N)
cleanup() {
    "$HERE/scripts/fleet-hosts.sh" stop "$FLEET/servers"
    if [ "${ZOL_KEEP_DEMO:-0}" = 1 ]; then echo "(servers kept in $FLEET/servers)"; else rm -rf "$FLEET/servers"; fi
}
trap cleanup EXIT
rm -rf "$FLEET/check" "$FLEET/run1" "$FLEET/run2"

echo "Demonstration: the chipset package 1.2.4.0 deployed by Ansible to four simulated servers (batches 1, 25%, 100%; forks 2)"
heading "1. The servers (Wine prefixes in $FLEET/servers)"
"$HERE/scripts/fleet-hosts.sh" create "$BUILD" "$FLEET/servers" srv1=chipset srv2=chipset srv3=bare srv4=older | sort |
    sed 's/^fleet-hosts: //; s/ ready in .*//' | indent
[ "${PIPESTATUS[0]}" = 0 ] || exit 1

# Runs the playbook once; shows its recap and the fleet summary.
run() {
    local dir="$FLEET/$1"
    mkdir -p "$dir"
    ansible-playbook -i "$HERE/deploy/ansible/inventories/simulated" "$HERE/deploy/ansible/fleet.yml" \
        -e "zol_build_dir=$BUILD" -e "zol_report_dir=$dir" "${@:2}" >"$dir/playbook.log" 2>&1
    local rc=$?
    echo "    ansible-playbook -i inventories/simulated fleet.yml${2:+ $2}: exit code $rc (output in $dir/playbook.log)"
    sed -n '/^PLAY RECAP/,$p' "$dir/playbook.log" | sed '/^$/d' | indent
    echo
    if [ -f "$dir/fleet-summary.md" ]; then indent <"$dir/fleet-summary.md"; else echo "    (no summary)"; fi
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

heading "Outcome"
echo "    Check run exit code $CHECK; first run exit code $FIRST; second run exit code $SECOND, servers changed:" \
     "$CHANGED; demo ran $(elapsed) s"
[ "$CHECK" = 0 ] && [ "$FIRST" = 0 ] && [ "$SECOND" = 0 ] && [ "$CHANGED" = 0 ]
