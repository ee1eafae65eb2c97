# Sourced by the demonstrations (demo.sh, demo-inf.sh): the Wine environment,
# a fresh copy of the pristine prefix to play the server, and the helpers that
# show what happened in it. Needs BUILD and HERE; sets BIN, WINEPREFIX, START.
BIN="$BUILD/bin"
export ZOL_WINE_ROOT="$BUILD/wine"
source "$HERE/scripts/wine-env.sh"

# Checks the build's output and copies the pristine prefix; removes the copy
# on exit unless ZOL_KEEP_DEMO=1 (or ZOL_KEEP_PREFIX=1). $1: the make target
# to suggest when something is missing.
demo_prefix() {
    local f
    for f in "$BIN/zolcomp.dll" "$BIN/zolhost.exe" "$BIN/devsim.exe" "$ZOL_WINE_ROOT/pristine/.zol-ready"; do
        [ -e "$f" ] || { echo "demo: $f is missing; run 'make $1'" >&2; exit 2; }
    done
    START=$(date +%s.%N)
    mkdir -p "$ZOL_WINE_ROOT/runs"
    export WINEPREFIX=$(mktemp -d "$ZOL_WINE_ROOT/runs/demo.XXXXXX")
    trap demo_cleanup EXIT
    cp -a "$ZOL_WINE_ROOT/pristine/." "$WINEPREFIX/"
    "$WINESERVER" -p 5 >/dev/null 2>&1   # keep one server for all steps
}
demo_cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
    if [ "${ZOL_KEEP_DEMO:-0}" = 1 ] || [ "${ZOL_KEEP_PREFIX:-0}" = 1 ]; then
        echo "(prefix kept in $WINEPREFIX)"
    else
        rm -rf "$WINEPREFIX"
    fi
}

if [ -t 1 ]; then BOLD=$'\033[1m' PLAIN=$'\033[0m'; else BOLD="" PLAIN=""; fi
heading() { printf '\n%s== %s%s\n' "$BOLD" "$1" "$PLAIN"; }
indent() { sed 's/^/    /'; }
# Runs a Windows program; its output without the CRs of CR LF.
win() { "$WINE64" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
# A path below C: of the prefix, found without regard to letter case.
cpath() {
    local path="$WINEPREFIX/drive_c" part found
    local IFS='\'
    for part in $1; do
        [ -n "$part" ] || continue
        found=$(find "$path" -maxdepth 1 -iname "$part" -print -quit 2>/dev/null)
        [ -n "$found" ] || return 1
        path=$found
    done
    echo "$path"
}
# Copies the sample package and the component to C:\zoldemo\EXAMPLE and lists
# them; sets PACKAGE.
copy_package() {
    PACKAGE="$WINEPREFIX/drive_c/zoldemo/$1"
    mkdir -p "$PACKAGE"
    cp -r "$HERE/examples/$1/." "$PACKAGE/"
    cp "$BIN/zolcomp.dll" "$PACKAGE/"
    (cd "$PACKAGE" && ls -C -w 96 -T 0) | indent
}
show_setup_log() {
    local log
    if log=$(cpath 'devavoror\log\zolsetup.log'); then
        tr -d '\r' < "$log" | indent
    else
        echo "    (no log)"
    fi
}
elapsed() { awk "BEGIN { printf \"%.1f\", $(date +%s.%N) - $START }"; }
