#!/bin/bash
# Repeated host runs under load, to shake out intermittent failures.
#
#   scripts/stress.sh BUILD_DIR
#
# STRESS_RUNS runs (default 1000) of zolhost over a built sample package,
# alternating the questions only (--check) and a full installation, two at a
# time, with a busy loop on the CPU beside them. An installation runs in a
# fresh copy of the pristine prefix with the chipset's devices added by devsim;
# the questions run in one prefix per worker, made the same way once. A run
# passes when the host exits 0 within STRESS_TIMEOUT seconds (default 180)
# and its JSON report holds the expected answers: status 5 for the questions,
# result 1 for the installation.
#
# Prints the runs, the failures, and each failure's exit code and the tail of
# its output; keeps every failure's output in BUILD_DIR/stress. Exit code 0
# when nothing failed, 1 otherwise.
set -uo pipefail
BUILD=$(realpath -m "${1:?usage: scripts/stress.sh BUILD_DIR}")
HERE=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${STRESS_RUNS:-1000}
TIMEOUT=${STRESS_TIMEOUT:-180}
PACKAGE_SRC=${STRESS_PACKAGE:-$BUILD/packages/chipset}
BIN="$BUILD/bin"
export ZOL_WINE_ROOT="$BUILD/wine"
source "$HERE/scripts/wine-env.sh"

for f in "$BIN/zolhost.exe" "$BIN/devsim.exe" "$ZOL_WINE_ROOT/pristine/.zol-ready" "$PACKAGE_SRC/zolcomp.dll"; do
    [ -e "$f" ] || { echo "stress: $f is missing; run 'make build prefix'" >&2; exit 2; }
done
case "$RUNS" in ''|*[!0-9]*) echo "stress: STRESS_RUNS must be a number" >&2; exit 2 ;; esac

OUT="$BUILD/stress"
rm -rf "$OUT"; mkdir -p "$OUT" "$ZOL_WINE_ROOT/runs"
RESULTS="$OUT/results.txt"
: > "$RESULTS"

DEVICES=("PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9"
         "PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9"
         "PCI\\VEN_8086&DEV_0EA8&SUBSYS_7C41A2E9")

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

# A fresh copy of prefix $1 in a new prefix; prints its path.
copy_prefix() {
    local prefix
    prefix=$(mktemp -d "$ZOL_WINE_ROOT/runs/stress.XXXXXX")
    cp -a "$1/." "$prefix/"
    echo "$prefix"
}

# A simulated server: a copy of the pristine prefix with the chipset's
# devices and the package in C:\stress\pkg, its server stopped. Prints the
# prefix; fails when a device could not be added.
make_server() {
    local prefix id
    prefix=$(copy_prefix "$ZOL_WINE_ROOT/pristine")
    echo "$prefix"
    mkdir -p "$prefix/drive_c/stress/pkg"
    cp -r "$PACKAGE_SRC/." "$prefix/drive_c/stress/pkg/"
    for id in "${DEVICES[@]}"; do
        if ! WINEPREFIX="$prefix" "$WINE64" "$BIN/devsim.exe" add "$id&REV_04" "$id" >/dev/null 2>"$OUT/devsim.err"; then
            echo "stress: devsim add $id failed: $(tr -d '\r' < "$OUT/devsim.err")" >&2
            return 1
        fi
    done
    WINEPREFIX="$prefix" "$WINESERVER" -w >/dev/null 2>&1
}

# Checks a host's JSON report: $1 the file, $2 "check" or "install".
report_ok() {
    python3 - "$1" "$2" <<'EOF'
import json, sys
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
start = text.find("{")
try:
    report = json.loads(text[start:]) if start >= 0 else None
except ValueError:
    report = None
if report is None:
    print("no JSON report"); sys.exit(1)
status = report.get("properties", {}).get("5", {}).get("status")
if status != 5:
    print("property 5 status %r, expected 5" % status); sys.exit(1)
if sys.argv[2] == "install":
    result = (report.get("install") or {}).get("result")
    if result != 1:
        print("install result %r, expected 1" % result); sys.exit(1)
EOF
}

# One run: $1 its number, $2 the mode, $3 the prefix for the questions or,
# for an installation, the server to copy.
run_one() {
    local n=$1 mode=$2 prefix=$3 own=0 log="$OUT/run-$1.txt" rc detail args
    if [ "$mode" = install ]; then
        prefix=$(copy_prefix "$prefix")
        own=1
        args="--json"
    else
        args="--check --json"
    fi
    (cd "$prefix/drive_c/stress/pkg" &&
        WINEPREFIX="$prefix" timeout -k 10 "$TIMEOUT" "$WINE64" "$BIN/zolhost.exe" $args 'C:\stress\pkg\zolcomp.dll') \
        >>"$log" 2>&1 </dev/null
    rc=$?
    if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
        detail="timed out after ${TIMEOUT} s"
    elif [ $rc -ne 0 ]; then
        detail="exit code $rc"
    else
        detail=$(report_ok "$log" "$mode") && detail=""
    fi
    if [ -n "$detail" ]; then
        echo "$n $mode $rc $detail" >> "$RESULTS"
    else
        echo "$n $mode 0 ok" >> "$RESULTS"
        rm -f "$log"
    fi
    if [ $own = 1 ]; then
        WINEPREFIX="$prefix" "$WINESERVER" -k >/dev/null 2>&1
        WINEPREFIX="$prefix" "$WINESERVER" -w >/dev/null 2>&1
        rm -rf "$prefix"
    fi
}

# Worker $1 of 2 takes every other run, half of them questions, half
# installations. It makes its server once; the questions run in one copy of
# it whose Wine server stays up, each installation in a fresh copy that
# starts cold.
worker() {
    local w=$1 server asking n
    server=$(make_server) || exit 1
    asking=$(copy_prefix "$server")
    # The questions run on a server that stays up, as a real one does.
    WINEPREFIX="$asking" "$WINESERVER" -p >/dev/null 2>&1
    for ((n = w; n <= RUNS; n += 2)); do
        if ((n % 4 == 1 || n % 4 == 2)); then
            run_one "$n" check "$asking"
        else
            run_one "$n" install "$server"
        fi
    done
    WINEPREFIX="$asking" "$WINESERVER" -k >/dev/null 2>&1
    WINEPREFIX="$asking" "$WINESERVER" -w >/dev/null 2>&1
    rm -rf "$asking" "$server"
}

START=$(date +%s)
( while :; do :; done ) &
HOG=$!
echo "stress: $RUNS runs of zolhost over $PACKAGE_SRC, two at a time beside a busy loop"
worker 1 & W1=$!
worker 2 & W2=$!
setup_failed=0
wait $W1 || setup_failed=1
wait $W2 || setup_failed=1
kill "$HOG" 2>/dev/null; HOG=""

total=$(wc -l < "$RESULTS")
failed=$(grep -vc ' ok$' "$RESULTS")
echo "stress: $total runs ($(grep -c ' check ' "$RESULTS") check, $(grep -c ' install ' "$RESULTS") install)," \
     "$failed failures, $(( $(date +%s) - START )) s"
grep -v ' ok$' "$RESULTS" | sort -n | while read -r n mode rc detail; do
    echo "--- run $n ($mode): $detail"
    [ -f "$OUT/run-$n.txt" ] && tr -d '\r' < "$OUT/run-$n.txt" | tail -n 8 | sed 's/^/    /'
done
[ "$setup_failed" = 0 ] || echo "stress: a worker could not set up its server; its runs are missing"
[ "$failed" -eq 0 ] && [ "$setup_failed" = 0 ]
