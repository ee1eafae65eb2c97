#!/bin/bash
# The fleet playbook on three simulated servers: a new installation, a server
# without the chipset's devices, and an upgrade whose package asks for a
# restart. Each server's outcome is read from the summary's CSV; a second run
# must change nothing; a third run, after the first server's driver service is
# marked for removal, must fail that server with the component's message.
# Also: syntax check on both transports' inventories and ansible-lint.
#   tests/fleet_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
SRC=$(realpath "$1")
BUILD=$(realpath "$2")
ANSIBLE="$SRC/deploy/ansible"
export ZOL_WINE_ROOT="$BUILD/wine" ANSIBLE_CONFIG="$ANSIBLE/ansible.cfg" ANSIBLE_NOCOLOR=1
WORK=$(mktemp -d "$BUILD/fleet-test.XXXXXX")
export ANSIBLE_LOCAL_TEMP="$WORK/ansible-tmp"
trap '"$SRC/scripts/fleet-hosts.sh" stop "$WORK/servers"; rm -rf "$WORK"' EXIT
FAILURES=0
fail() { echo "FAILED: $*"; FAILURES=$((FAILURES + 1)); }

for inventory in simulated windows; do
    ansible-playbook -i "$ANSIBLE/inventories/$inventory" --syntax-check "$ANSIBLE/fleet.yml" >"$WORK/syntax.log" 2>&1 ||
        { cat "$WORK/syntax.log"; fail "syntax check with the $inventory inventory"; }
done
(cd "$ANSIBLE" && ansible-lint -q --nocolor >"$WORK/lint.log" 2>&1) || { cat "$WORK/lint.log"; fail "ansible-lint"; }

# The newer chipset build, and the same build asking for a restart.
mkdir -p "$WORK/packages"
cp -r "$BUILD/packages/chipset-1.2.4.0" "$WORK/packages/"
cp -r "$BUILD/packages/chipset-1.2.4.0" "$WORK/packages/chipset-restart"
sed -i 's|<reboot_required value="no"/>|<reboot_required value="yes"/>|' "$WORK"/packages/chipset-restart/qx*.xml
grep -q '<reboot_required value="yes"/>' "$WORK"/packages/chipset-restart/qx*.xml || fail "making the restart package"

"$SRC/scripts/fleet-hosts.sh" create "$BUILD" "$WORK/servers" fresh=chipset bare=bare older=older >/dev/null ||
    { fail "creating the servers"; exit 1; }
mkdir "$WORK/inventory"
ln -s "$ANSIBLE/inventories/simulated/group_vars" "$WORK/inventory/group_vars"
cat >"$WORK/inventory/hosts.yml" <<'EOF'
zol_servers:
  hosts:
    fresh: {}
    bare: {}
    older: {zol_package: chipset-restart}
  vars: {zol_package: chipset-1.2.4.0, zol_allow_reboot: true}
EOF

# Runs the playbook (extra arguments passed on); the reports go to WORK/$1.
run() {
    local name=$1
    shift
    ansible-playbook -i "$WORK/inventory" "$ANSIBLE/fleet.yml" -e "zol_build_dir=$BUILD" \
        -e "zol_fleet_root=$WORK/servers" -e "zol_packages_dir=$WORK/packages" -e "zol_report_dir=$WORK/$name" \
        "$@" >"$WORK/$name.log" 2>&1
}
# The summary's rows without the message column, "|" between the fields.
rows() {
    python3 -c 'import csv, sys; [print("|".join(r[:7])) for r in list(csv.reader(open(sys.argv[1])))[1:]]' \
        "$WORK/$1/fleet-summary.csv"
}
# Compares the rows of run $1 with the expected rows on stdin.
expect_rows() {
    diff <(cat) <(rows "$1") >"$WORK/diff" || { cat "$WORK/$1.log" "$WORK/diff"; fail "$1: rows differ"; }
}

run first || fail "first run: exit code $?"
expect_rows first <<'EOF'
fresh|changed|3|5 new installation|1 success|0|1 same version installed
bare|skipped|0|6 not applicable|||
older|changed|3|2 older version installed|2 success, restart required|3010|1 same version installed
EOF
grep -q '^older,.*upgrade from 1\.2\.3\.0 to 1\.2\.4\.0; restarted' "$WORK/first/fleet-summary.csv" ||
    { cat "$WORK/first.log"; fail "first run: the upgrade's message"; }
# Each server's reports, by step.
python3 - "$WORK/first" <<'EOF' || fail "first run: the JSON reports"
import json, sys
steps = {h: sorted(json.load(open("%s/%s.json" % (sys.argv[1], h)))) for h in ("fresh", "bare", "older")}
assert steps == {"fresh": ["check after", "check before", "install"], "bare": ["check before"],
                 "older": ["check after", "check after restart", "check before", "install"]}, steps
EOF
grep -q '^| fresh | changed | 3 |' "$WORK/first/fleet-summary.md" || fail "first run: the Markdown summary"

run second || fail "second run: exit code $?"
expect_rows second <<'EOF'
fresh|ok|3|1 same version installed|||
bare|skipped|0|6 not applicable|||
older|ok|3|1 same version installed|||
EOF
[ "$(grep -cE '^(fresh|bare|older) +: ok=[0-9]+ +changed=0 +unreachable=0 +failed=0' "$WORK/second.log")" = 3 ] ||
    { cat "$WORK/second.log"; fail "second run: something changed"; }

TEST_WINEPREFIX="$WORK/servers/fresh" "$SRC/scripts/wine-run.sh" reg add \
    'HKLM\System\CurrentControlSet\Services\zolchip' /v DeleteFlag /t REG_DWORD /d 1 /f >/dev/null 2>&1
"$SRC/scripts/fleet-hosts.sh" stop "$WORK/servers"
run third --limit fresh
[ $? = 2 ] || fail "third run: the playbook did not fail"
expect_rows third <<'EOF'
fresh|failed|3|7 cannot install|||
EOF
grep -q 'fatal: \[fresh\]: FAILED! => {"changed": false, "msg": "The component is marked for removal' "$WORK/third.log" ||
    { cat "$WORK/third.log"; fail "third run: the component's message"; }

[ $FAILURES = 0 ] && echo "fleet: all checks passed"
exit $((FAILURES > 0))
