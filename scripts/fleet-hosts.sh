#!/bin/bash
# The simulated servers of the fleet playbook (deploy/ansible, inventory
# "simulated"): each server is its own copy of the build's pristine Wine prefix.
#
#   scripts/fleet-hosts.sh create BUILD_DIR ROOT NAME=STATE...
#       makes ROOT/NAME afresh for each server, two at a time; STATE is one of
#         chipset   three of the chipset's devices, nothing installed
#         bare      no chipset device
#         older     three chipset devices with the package "chipset" (the
#                   older build) installed and its driver started
#         upgraded  as older, then "chipset-1.2.4.0" installed over it
#   scripts/fleet-hosts.sh start PREFIX
#       starts one server: its Wine server, kept for two idle minutes, and
#       its system processes, so that the programs run in it next return
#       as soon as they end (nothing changes when it runs already)
#   scripts/fleet-hosts.sh run PREFIX [--pnp DEVSIM] PROGRAM [ARGS...]
#       starts the server as start does, then runs PROGRAM in it and exits
#       with its exit code; with --pnp, after PROGRAM (an installation),
#       starts the driver of every device bound to one (DEVSIM start), as
#       Windows' PnP manager does. A program started while no Wine server
#       runs would hand its output to Wine's system processes, and its
#       caller would wait for them: run every program of a server this way.
#   scripts/fleet-hosts.sh restart PREFIX [DEVSIM]
#       restarts one server: a fresh Wine server and wineboot -r; then, with
#       DEVSIM, starts the bound devices' driver as a Windows start does
#   scripts/fleet-hosts.sh stop ROOT
#       stops the Wine server of every server in ROOT
# start, run, restart and stop need ZOL_WINE_ROOT (the build's wine
# directory). A program's output is its own; the Wine server's and
# devsim's go to /dev/null.
set -uo pipefail
HERE=$(cd "$(dirname "$0")/.." && pwd)

usage() { sed -n '2,30s/^# \{0,1\}//p' "$0" >&2; exit 2; }

# Stops the Wine server of the prefix WINEPREFIX and waits for it.
stop_server() {
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
}
# Starts the Wine server of WINEPREFIX, kept $1 seconds after its last
# program, and boots the prefix ($2: wineboot's options). Wine's system
# processes inherit the output of the program that starts them: here it is
# /dev/null, not the pipe of a later caller, who would otherwise wait for
# them to end.
start_server() {
    "$WINESERVER" -p "$1" >/dev/null 2>&1
    "$WINE64" wineboot "${@:2}" </dev/null >/dev/null 2>&1
}

# Adds one chipset device with the hardware ID $2 to the server $1; on
# failure says how devsim ended and what it printed.
add_device() {
    local out rc
    out=$("$WINE64" "$BIN/devsim.exe" add "$2&REV_04" "$2" 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}")
    rc=$?
    [ $rc != 0 ] || return 0
    echo "fleet-hosts: $1: devsim add failed (exit code $rc): $out" >&2
    return 1
}

# Installs the package $2 (a folder of BUILD/packages) on the server $1 from
# C:\zolfleet\$2 and starts its driver.
install_package() {
    local package="$WINEPREFIX/drive_c/zolfleet/$2" rc
    mkdir -p "$package"
    cp -r "$BUILD/packages/$2/." "$package/"
    (cd "$package" && win "$BIN/zolhost.exe" "C:\\zolfleet\\$2\\zolcomp.dll" >/dev/null)
    rc=$?
    [ $rc = 0 ] || { echo "fleet-hosts: $1: installing the package $2 failed (exit code $rc)" >&2; return 1; }
    win "$BIN/devsim.exe" start >/dev/null || { echo "fleet-hosts: $1: devsim start failed" >&2; return 1; }
}

# Makes the server $1 in state $2.
create_server() {
    local name=$1 state=$2 id
    export WINEPREFIX="$ROOT/$name"
    # A server left from an earlier run would outlive its removed prefix.
    [ ! -d "$WINEPREFIX" ] || stop_server
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    cp -a "$ZOL_WINE_ROOT/pristine/." "$WINEPREFIX/"
    # Kept a minute: a shorter wait lets Wine shut its system processes down
    # between two steps on a loaded machine, and a step that starts then fails.
    start_server 60
    case "$state" in
    chipset|older|upgraded)
        for id in "PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9" "PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9" \
                  "PCI\\VEN_8086&DEV_0EA8&SUBSYS_7C41A2E9"; do
            add_device "$name" "$id" || return 1
        done
        ;;
    bare) ;;
    *) echo "fleet-hosts: $name: unknown state '$state'" >&2; return 2 ;;
    esac
    local package
    for package in $(case "$state" in older) echo chipset ;; upgraded) echo chipset chipset-1.2.4.0 ;; esac); do
        install_package "$name" "$package" || return 1
    done
    stop_server
    echo "fleet-hosts: $name ($state) ready in $WINEPREFIX"
}

[ $# -ge 2 ] || usage
COMMAND=$1
case "$COMMAND" in
create)
    [ $# -ge 4 ] || usage
    BUILD=$(realpath -m "$2")
    ROOT=$(realpath -m "$3")
    shift 3
    source "$HERE/scripts/demo-common.sh"
    for f in "$BIN/zolhost.exe" "$BIN/devsim.exe" "$ZOL_WINE_ROOT/pristine/.zol-ready" "$BUILD/packages/chipset" \
             "$BUILD/packages/chipset-1.2.4.0"; do
        [ -e "$f" ] || { echo "fleet-hosts: $f is missing; run 'make build prefix'" >&2; exit 2; }
    done
    mkdir -p "$ROOT"
    # Two servers at a time, each in a subshell of its own.
    failed=0 running=0
    for server in "$@"; do
        if [ $running -ge 2 ]; then wait -n || failed=1; running=$((running - 1)); fi
        (create_server "${server%%=*}" "${server#*=}" || { stop_server; exit 1; }) &
        running=$((running + 1))
    done
    while [ $running -gt 0 ]; do wait -n || failed=1; running=$((running - 1)); done
    exit $failed
    ;;
start|run|restart)
    : "${ZOL_WINE_ROOT:?ZOL_WINE_ROOT must name the wine directory of the build tree}"
    export WINEPREFIX=$(realpath -m "$2")
    source "$HERE/scripts/wine-env.sh"
    shift 2
    case "$COMMAND" in
    start)
        start_server 120
        ;;
    run)
        devsim=
        if [ "${1:-}" = --pnp ]; then devsim=${2:-}; shift 2; fi
        [ $# -ge 1 ] || usage
        start_server 120
        "$WINE64" "$@"
        rc=$?
        if [ -n "$devsim" ]; then
            "$WINE64" "$devsim" start </dev/null >/dev/null 2>&1 || echo "fleet-hosts: devsim start failed" >&2
        fi
        exit $rc
        ;;
    restart)
        stop_server
        start_server 120 -r
        [ $# = 0 ] || "$WINE64" "$1" start </dev/null >/dev/null 2>&1 ||
            { echo "fleet-hosts: devsim start failed" >&2; exit 1; }
        ;;
    esac
    ;;
stop)
    : "${ZOL_WINE_ROOT:?ZOL_WINE_ROOT must name the wine directory of the build tree}"
    source "$HERE/scripts/wine-env.sh"
    for prefix in "$2"/*/; do
        [ -f "$prefix/system.reg" ] || continue
        WINEPREFIX=$(realpath "$prefix") stop_server
    done
    ;;
*) usage ;;
esac
