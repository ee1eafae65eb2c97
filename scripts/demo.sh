#!/bin/bash
# Demonstration: installs a sample package on a simulated server under Wine.
#
#   scripts/demo.sh BUILD_DIR [EXAMPLE]      (EXAMPLE: chipset, the default)
#
# The legacy and virtual samples have a demonstration of their own
# (scripts/demo-inf.sh), which this script hands them to.
#
# A fresh copy of the build tree's pristine Wine prefix plays the server; the
# chipset's devices are created in it with devsim; the package and the
# component are copied to C:\zoldemo\EXAMPLE; zolhost loads the component
# there, asks it about the package and installs it. The prefix copy is removed
# at the end unless ZOL_KEEP_DEMO=1 (or ZOL_KEEP_PREFIX=1) is set.
# Exit code: 0 when the installation succeeded (result 1 or 2), 1 otherwise.
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

echo "Demonstration: the '$EXAMPLE' package installed by the component on a simulated server"
echo "(Wine prefix reporting Windows Server 2008 R2; nothing outside it is changed)"

heading "1. The server's chipset devices (created with devsim)"
for id in "${DEVICES[@]}"; do
    instance=$(win "$BIN/devsim.exe" add "$id&REV_04" "$id") || { echo "demo: devsim add failed" >&2; exit 1; }
    printf '    %-18s %s\n' "$instance" "$id"
done

heading "2. The package, copied to C:\\zoldemo\\$EXAMPLE with the component"
copy_package "$EXAMPLE"

heading "3. zolhost: what the component says about the package, then the installation"
echo "    > zolhost C:\\zoldemo\\$EXAMPLE\\zolcomp.dll"
REPORT=$(cd "$PACKAGE" && win "$BIN/zolhost.exe" "C:\\zoldemo\\$EXAMPLE\\zolcomp.dll")
echo "$REPORT" | indent
# The host's report gives the result and the whole exit code (a Linux shell
# sees only its low 8 bits: 3010 arrives as 194, 1603 as 67).
RESULT=$(echo "$REPORT" | sed -n 's/^Install: *result \([0-9]*\).*/\1/p')
EXIT_CODE=$(echo "$REPORT" | sed -n 's/^Exit code: *\([0-9]*\).*/\1/p')
EXIT_CODE=${EXIT_CODE:-?}
case "$RESULT" in
1) MEANING="success" ;;
2) MEANING="success, restart needed" ;;
0) MEANING="failure" ;;
*) RESULT="?"; MEANING="the host did not finish" ;;
esac

heading "4. Files staged in C:\\DEVAVOROR\\pnpdrvs"
if STAGING=$(cpath 'DEVAVOROR\pnpdrvs'); then
    (cd "$STAGING" && ls -l --time-style=+ | tail -n +2 | awk '{printf "%8s  %s\n", $5, $NF}') | indent
else
    echo "    (no staging folder)"
fi

heading "5. The devices now (devsim list)"
# Only the devices added above; Wine's own devices are left out.
win "$BIN/devsim.exe" list | awk '/^ROOT\\SYSTEM\\/ {show=1} /^[^ ]/ && !/^ROOT\\SYSTEM\\/ {show=0} show' | indent

heading "6. The setup log C:\\devavoror\\log\\zolsetup.log (host and component)"
show_setup_log

heading "Outcome"
echo "    Install result $RESULT ($MEANING), zolhost exit code $EXIT_CODE; demo ran $(elapsed) s"
[ "$RESULT" = 1 ] || [ "$RESULT" = 2 ]
