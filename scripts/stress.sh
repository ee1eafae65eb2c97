#!/bin/bash
# Repeated host runs under load, to shake out intermittent failures.
#
#   scripts/stress.sh BUILD_DIR
#
# STRESS_RUNS runs (default 1000) of zolhost over the built chipset package
# (1.2.3.0 and 1.2.4.0) on STRESS_SERVERS simulated servers at once (default
# 3; each a copy of the pristine prefix with the chipset's devices added by
# devsim), beside a busy loop on the CPU. The runs mix installs, uninstalls,
# the questions (--check), the uninstall what-if (--uninstall --check),
# installs and uninstalls killed at a random moment and then run again, and
# two runs at once on one server (the install lock: exit 1618, and the run
# again). Each run has an expected outcome from what the server has
# installed; it passes when its exit code, its JSON report and the server's
# state after it are the expected ones, within STRESS_TIMEOUT seconds
# (default 180). scripts/stress.py says what each kind of run expects.
# STRESS_SEED repeats a run's choices.
#
# Prints the counts per kind of run (runs, passed, failed), and each failure
# with its exit code, what differed and the tail of its output; keeps every
# failure's output in BUILD_DIR/stress. Exit code 0 when nothing failed, 1
# otherwise.
set -uo pipefail
BUILD=$(realpath -m "${1:?usage: scripts/stress.sh BUILD_DIR}")
HERE=$(cd "$(dirname "$0")/.." && pwd)
BIN="$BUILD/bin"
export ZOL_WINE_ROOT="$BUILD/wine"
source "$HERE/scripts/wine-env.sh"
export WINE64 WINESERVER

for f in "$BIN/zolhost.exe" "$BIN/devsim.exe" "$ZOL_WINE_ROOT/pristine/.zol-ready" \
         "$BUILD/packages/chipset/zolcomp.dll" "$BUILD/packages/chipset-1.2.4.0/zolcomp.dll"; do
    [ -e "$f" ] || { echo "stress: $f is missing; run 'make build prefix'" >&2; exit 2; }
done
for v in STRESS_RUNS STRESS_SERVERS STRESS_TIMEOUT STRESS_SEED; do
    case "${!v:-1}" in ''|*[!0-9]*) echo "stress: $v must be a number" >&2; exit 2 ;; esac
done
[ "${STRESS_SERVERS:-3}" -ge 1 ] || { echo "stress: STRESS_SERVERS must be at least 1" >&2; exit 2; }

OUT="$BUILD/stress"
rm -rf "$OUT"; mkdir -p "$OUT" "$ZOL_WINE_ROOT/runs"

HOG=""
# Stops the busy loop, and the servers and prefixes of runs cut short.
cleanup() {
    [ -n "$HOG" ] && kill "$HOG" 2>/dev/null
    local p
    for p in "$ZOL_WINE_ROOT"/runs/stress.*; do
        [ -d "$p" ] || continue
        WINEPREFIX="$p" "$WINESERVER" -k >/dev/null 2>&1
        rm -rf "$p"
    done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

( while :; do :; done ) &
HOG=$!
python3 "$HERE/scripts/stress.py" "$BUILD"
