#!/bin/bash
# Demonstration: the lifecycle of the sample chipset package on a simulated
# server under Wine, one line per step.
#
#   scripts/demo.sh BUILD_DIR [EXAMPLE]      (EXAMPLE: chipset, the default)
#
# The legacy and virtual samples have a demonstration of their own
# (scripts/demo-inf.sh), which this script hands them to.
#
# A fresh copy of the build tree's pristine Wine prefix plays the server; the
# chipset's devices are created in it with devsim; the built packages
# BUILD/packages/chipset (1.2.3.0) and BUILD/packages/chipset-1.2.4.0 are
# copied to C:\zoldemo. zolhost then checks the package (a new installation),
# installs it, and, once "devsim start" has started the driver of the bound
# devices as Windows would, checks it again (the same version installed); the
# newer package checks as an upgrade, installs over it and checks as the same
# version; its what-if and its uninstallation then put the devices back on the
# older package, which checks as the same version again. Then the package
# folders are deleted and the quiet uninstall string of the package's entry
# among the installed programs is run, as a configuration manager runs it;
# the package checks as a new installation again. The prefix copy is
# removed at the end unless ZOL_KEEP_DEMO=1 (or ZOL_KEEP_PREFIX=1) is set.
# Exit code: 0 when the installations and uninstallations succeeded and the
# checks after them answered status 1 (5 after the last), 1 otherwise.
set -uo pipefail
BUILD=$(realpath -m "${1:?usage: scripts/demo.sh BUILD_DIR [EXAMPLE]}")
EXAMPLE=${2:-chipset}
HERE=$(cd "$(dirname "$0")/.." && pwd)
source "$HERE/scripts/demo-common.sh"

case "$EXAMPLE" in
chipset)
    # Three of the chipset's devices (two the package names, one only the
    # component's built-in list), each listing its ID with and without the
    # revision, as PCI devices do.
    DEVICES=("PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9"
             "PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9"
             "PCI\\VEN_8086&DEV_0EA8&SUBSYS_7C41A2E9")
    UPGRADE=chipset-1.2.4.0
    SERVICE=zolchip
    ;;
legacy|virtual)
    exec "$HERE/scripts/demo-inf.sh" "$BUILD" "$EXAMPLE"
    ;;
*)
    echo "demo: unknown example '$EXAMPLE' (known: chipset, legacy, virtual)" >&2
    exit 2
    ;;
esac
demo_prefix demo
copy_package "$EXAMPLE"
copy_package "$UPGRADE"

echo "Demonstration: the '$EXAMPLE' package from a new installation to an upgrade and back, on a simulated server"
echo "(a copy of the pristine Wine prefix reporting Windows Server 2008 R2; nothing outside it is changed)"
echo

INSTANCES=() CODES=()
for id in "${DEVICES[@]}"; do
    instance=$(win "$BIN/devsim.exe" add "$id&REV_04" "$id") || { echo "demo: devsim add failed" >&2; exit 1; }
    INSTANCES+=("$instance")
    CODES+=("$(echo "$id" | sed 's/.*DEV_\([0-9A-F]*\).*/\1/')")
done
printf '%-14s %s (chipset devices %s)\n' devices "${INSTANCES[*]}" "$(IFS=,; echo "${CODES[*]}" | sed 's/,/, /g')"

OK=1
host_step "$EXAMPLE" check
host_step "$EXAMPLE" install
[[ "$RESULT" == [12] ]] || OK=0
# As Windows does once the devices run their new driver (Wine's own devices'
# drivers are recorded too, but not shown).
printf '%-14s %s\n' "devsim start" "$(win "$BIN/devsim.exe" start | grep "^started $SERVICE ")"
host_step "$EXAMPLE" check
host_step "$UPGRADE" check
host_step "$UPGRADE" install
[[ "$RESULT" == [12] ]] || OK=0
host_step "$UPGRADE" check
[ "$RESULT" = 1 ] || OK=0
# The rollback: the what-if, then the uninstallation of the newer package,
# which puts every device back on the older one.
host_step "$UPGRADE" what-if
host_step "$UPGRADE" uninstall
[[ "$RESULT" == [12] ]] || OK=0
host_step "$EXAMPLE" check
[ "$RESULT" = 1 ] || OK=0
# Only the devices added above; Wine's own devices are left out.
device_list() { win "$BIN/devsim.exe" list | awk '/^ROOT\\SYSTEM\\/ {show=1} /^[^ ]/ && !/^ROOT\\SYSTEM\\/ {show=0} show'; }
ROLLED_BACK=$(device_list)
# Then the way administrators and configuration managers remove it: the
# package folders are gone, and the package's entry among the installed
# programs gives the command, which runs a kept copy of zolhost and the
# package.
rm -rf "$WINEPREFIX/drive_c/zoldemo"
ENTRY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\zolcomp_zolchip.inf'
entry_value() { win reg query "$ENTRY" /v "$1" /reg:64 | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
QUIET=$(entry_value QuietUninstallString)
printf '%-14s %s: DisplayVersion %s; C:\\zoldemo deleted\n' entry "${ENTRY##*\\}" "$(entry_value DisplayVersion)"
printf '%-14s %s\n' "" "QuietUninstallString $QUIET"
quiet_step "$QUIET"
[[ "$RESULT" == [12] ]] || OK=0
win reg query "$ENTRY" /reg:64 >/dev/null 2>&1 && { echo "demo: the entry is still there" >&2; OK=0; }
printf '%-14s entry removed; %s of 3 devices without a driver\n' "" "$(device_list | grep -c 'driver INF: *(none)')"
copy_package "$EXAMPLE"
host_step "$EXAMPLE" check
[ "$RESULT" = 5 ] || OK=0
LAST="status $RESULT ($(status_name "$RESULT")), installed version $(report_value '3 Installed version' | grep . || echo '(none)')"

heading "The devices after the uninstallation of 1.2.4.0 (devsim list)"
echo "$ROLLED_BACK" | indent

heading "The uninstallations in C:\\devavoror\\log\\zolsetup.log: 1.2.4.0, then the quiet string's last steps"
show_setup_log | awk '/Initiating uninstallation/ {on=1} on && /^ *- / {print} on && /Log Session End/ {exit}'
show_setup_log | grep -E '^ *- Removing the (uninstall entry|kept copy)' | tail -2

heading "Outcome"
echo "    Last check: $LAST; demo ran $(elapsed) s"
[ "$OK" = 1 ]
