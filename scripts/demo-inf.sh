#!/bin/bash
# Demonstration: installs a sample legacy (service) or virtual package on a
# simulated server under Wine.
#
#   scripts/demo-inf.sh BUILD_DIR legacy|virtual
#
# A fresh copy of the build tree's pristine Wine prefix plays the server; the
# built package BUILD/packages/EXAMPLE (package files, driver image and
# component) is copied to C:\zoldemo\EXAMPLE; zolhost checks it (a new
# installation), installs it, checks it again (the same version installed:
# the service is there and its driver file has the package's version; the
# server has one of the chipset's devices, which the component looks for),
# installs it a second time and checks once more, one line per step. The
# script then shows what the install left: the service, the copied files, the
# root-enumerated device node and the service's settings. The prefix copy is
# removed at the end unless ZOL_KEEP_DEMO=1 (or ZOL_KEEP_PREFIX=1) is set.
# Exit code: 0 when both installations succeeded (result 1 or 2) and the last
# check answered status 1, 1 otherwise.
set -uo pipefail
BUILD=$(realpath -m "${1:?usage: scripts/demo-inf.sh BUILD_DIR legacy|virtual}")
EXAMPLE=${2:?usage: scripts/demo-inf.sh BUILD_DIR legacy|virtual}
HERE=$(cd "$(dirname "$0")/.." && pwd)
source "$HERE/scripts/demo-common.sh"

case "$EXAMPLE" in
legacy)
    TITLE="a legacy driver: the whole INF, a kernel service and its LEGACY_ device node"
    SERVICE=zolwdt
    NODE='Root\LEGACY_ZOLWDT'
    FILES=('windows\system32\drivers\zolwdt.sys' 'windows\system32\zolwdt\zolwdt.ini')
    ABSENT=()
    REGISTRY='HKLM\Software\ZOL\Watchdog'
    ;;
virtual)
    TITLE="a virtual component: one named install section, a device named after the service"
    SERVICE=zolvcon
    NODE='Root\ZOLVCON'
    FILES=('windows\system32\drivers\zolvcon.sys' 'windows\system32\zolvcon\vcon.tpl')
    # The INF's other install section (console tools) is not part of the package.
    ABSENT=('Program Files\ZOL\Console Tools\zolvcons.exe')
    REGISTRY='HKLM\Software\ZOL\Virtual Console'
    ;;
*)
    echo "demo: unknown example '$EXAMPLE' (known: legacy, virtual)" >&2
    exit 2
    ;;
esac
demo_prefix "demo-$EXAMPLE"

# A registry key's values and subkeys, without the blank lines reg prints.
regshow() { win reg query "$1" | sed '/^$/d' | indent; }

echo "Demonstration: the '$EXAMPLE' package - $TITLE"
echo "(Wine prefix reporting Windows Server 2008 R2; nothing outside it is changed)"

heading "1. The package, copied from $BUILD/packages/$EXAMPLE to C:\\zoldemo\\$EXAMPLE"
copy_package "$EXAMPLE" list
echo "    install.xml:"
grep -o '<inf_file[^>]*>' "$PACKAGE/install.xml" | indent | indent

heading "2. A chipset device (devsim), then zolhost: check, install, check, install again, check"
# The component installs only where its chipset is: one of its devices.
CHIPSET="PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9"
instance=$(win "$BIN/devsim.exe" add "$CHIPSET") || { echo "demo: devsim add failed" >&2; exit 1; }
printf '    %-14s %s (chipset device 0E83)\n' devices "$instance"
OK=1 STEP_INDENT="    "
for step in check install check install check; do
    host_step "$EXAMPLE" $step
    [ $step = check ] || [[ "$RESULT" == [12] ]] || OK=0
done
[ "$RESULT" = 1 ] || OK=0
LAST="status $RESULT ($(status_name "$RESULT"))"

heading "3. The service HKLM\\System\\CurrentControlSet\\Services\\$SERVICE"
regshow "HKLM\\System\\CurrentControlSet\\Services\\$SERVICE"

heading "4. Files copied from the package"
for f in "${FILES[@]}"; do
    if p=$(cpath "$f"); then
        printf '    C:\\%-46s %6s bytes\n' "$f" "$(stat -c %s "$p")"
    else
        printf '    C:\\%-46s (missing)\n' "$f"
    fi
done
for f in "${ABSENT[@]}"; do
    if cpath "$f" >/dev/null; then
        printf '    C:\\%-46s (installed, but not part of the package!)\n' "$f"
    else
        printf '    C:\\%-46s not installed (other section)\n' "$f"
    fi
done
echo "    $REGISTRY:"
regshow "$REGISTRY" | indent

heading "5. The root-enumerated device node HKLM\\System\\CurrentControlSet\\Enum\\$NODE\\0000"
regshow "HKLM\\System\\CurrentControlSet\\Enum\\$NODE\\0000"
if win reg query "HKLM\\System\\CurrentControlSet\\Enum\\$NODE\\0001" >/dev/null; then
    echo "    a second device node $NODE\\0001 was created"
else
    echo "    still one device node after the second installation ($NODE\\0000)"
fi
echo "    devsim list:"
win "$BIN/devsim.exe" list | awk -v node="${NODE#Root\\}" 'toupper($0) ~ "^ROOT\\\\" node "\\\\" {show=1; print; next} /^[^ ]/ {show=0} show' | indent | indent

heading "6. The service's settings (.SoftwareSettings) under its Device0 key"
regshow "HKLM\\System\\CurrentControlSet\\Services\\$SERVICE\\Device0"

heading "7. The last check in C:\\devavoror\\log\\zolsetup.log"
show_setup_log | grep '^    *- ' | tail -n 7

heading "Outcome"
echo "    Last check: $LAST; demo ran $(elapsed) s"
[ "$OK" = 1 ]
