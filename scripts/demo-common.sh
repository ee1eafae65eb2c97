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
# Copies the built package (package files, driver image and component) from
# BUILD/packages/NAME to C:\zoldemo\NAME; sets PACKAGE. With "list", lists it.
copy_package() {
    [ -d "$BUILD/packages/$1" ] || { echo "demo: $BUILD/packages/$1 is missing; run 'make build'" >&2; exit 2; }
    PACKAGE="$WINEPREFIX/drive_c/zoldemo/$1"
    mkdir -p "$PACKAGE"
    cp -r "$BUILD/packages/$1/." "$PACKAGE/"
    [ "${2:-}" != list ] || (cd "$PACKAGE" && ls -C -w 96 -T 0) | indent
}
# The name of a prerequisite status.
status_name() {
    case "$1" in
    1) echo "same version installed" ;;
    2) echo "older version installed" ;;
    3) echo "newer version installed" ;;
    4) echo "installed, no hardware" ;;
    5) echo "new installation" ;;
    6) echo "not applicable" ;;
    7) echo "cannot install" ;;
    *) echo "undetermined" ;;
    esac
}
# The text after "result 1" on the report line of property $1 ("3 Installed
# version"), without quotes; empty when the property's result is not 1.
report_value() { echo "$REPORT" | sed -n "s/^ *$1 .*result 1 *\(.*\)$/\1/p" | tr -d '"'; }
# Runs zolhost on the package C:\zoldemo\$1, with --check when $2 is "check",
# and prints one line: the package version and either the status with the
# installed version or the install result with the exit code. Sets REPORT (the
# whole report), RESULT (the status or the install result) and EXIT_CODE.
# The line is indented by STEP_INDENT.
host_step() {
    local name=$1 mode=$2 args=() package installed
    case "$mode" in
    check) args=(--check) ;;
    what-if) args=(--uninstall --check) ;;
    uninstall) args=(--uninstall) ;;
    esac
    REPORT=$(cd "$WINEPREFIX/drive_c/zoldemo/$name" &&
             win "$BIN/zolhost.exe" "${args[@]}" "C:\\zoldemo\\$name\\zolcomp.dll")
    package=$(report_value '4 Package version')
    installed=$(report_value '3 Installed version')
    EXIT_CODE=$(echo "$REPORT" | sed -n 's/^Exit code: *\([0-9]*\).*/\1/p')
    if [ "$mode" = what-if ]; then
        RESULT=$(echo "$REPORT" | sed -n 's/^Package state: *\([a-z_]*\).*/\1/p')
        printf '%s%-14s package %-8s  state %s; %s\n' "${STEP_INDENT:-}" what-if "${package:-?}" "${RESULT:-?}" \
            "$(plan_summary)"
    elif [ "$mode" = uninstall ]; then
        RESULT=$(echo "$REPORT" | sed -n 's/^Uninstall: *result \([0-9]*\).*/\1/p')
        printf '%s%-14s package %-8s  result %s (%s); zolhost exit code %s\n' "${STEP_INDENT:-}" uninstall \
            "${package:-?}" "${RESULT:-?}" "$(echo "$REPORT" | sed -n 's/^Uninstall: *result [0-9]* (\(.*\))$/\1/p')" \
            "${EXIT_CODE:-?}"
    elif [ "$mode" = check ]; then
        RESULT=$(echo "$REPORT" | sed -n 's/^ *5 Prerequisite check .*status \([0-9]*\).*/\1/p')
        printf '%s%-14s package %-8s  status %s (%s); installed version %s\n' "${STEP_INDENT:-}" check "${package:-?}" \
            "${RESULT:-?}" "$(status_name "${RESULT:-0}")" "${installed:-(none)}"
    else
        RESULT=$(echo "$REPORT" | sed -n 's/^Install: *result \([0-9]*\).*/\1/p')
        printf '%s%-14s package %-8s  result %s (%s); zolhost exit code %s\n' "${STEP_INDENT:-}" install "${package:-?}" \
            "${RESULT:-?}" "$(echo "$REPORT" | sed -n 's/^Install: *result [0-9]* (\(.*\))$/\1/p')" "${EXIT_CODE:-?}"
    fi
}
# Runs a command line as a configuration manager runs an entry's quiet
# uninstall string (through the command interpreter, from C:\) and prints one
# line like host_step's uninstall line. Sets REPORT, RESULT and EXIT_CODE.
quiet_step() {
    local package
    printf '@%s\r\n@exit /b %%errorlevel%%\r\n' "$1" > "$WINEPREFIX/drive_c/zolquiet.cmd"
    REPORT=$(cd "$WINEPREFIX/drive_c" && win cmd /c 'C:\zolquiet.cmd')
    rm -f "$WINEPREFIX/drive_c/zolquiet.cmd"
    EXIT_CODE=$(echo "$REPORT" | sed -n 's/^Exit code: *\([0-9]*\).*/\1/p')
    package=$(report_value '4 Package version')
    RESULT=$(echo "$REPORT" | sed -n 's/^Uninstall: *result \([0-9]*\).*/\1/p')
    printf '%s%-14s package %-8s  result %s (%s); zolhost exit code %s\n' "${STEP_INDENT:-}" "quiet string" \
        "${package:-?}" "${RESULT:-?}" "$(echo "$REPORT" | sed -n 's/^Uninstall: *result [0-9]* (\(.*\))$/\1/p')" \
        "${EXIT_CODE:-?}"
}
# The what-if's plan in REPORT, counted by action and target: "3 devices:
# restore_previous to zolchip.inf 1.2.3.0".
plan_summary() {
    echo "$REPORT" | awk '/^Uninstall plan:/ {on=1; next} /^Force:/ {on=0} on && $1 != "Instance" {
            key = $(NF-2) ($(NF-1) == "-" ? "" : " to " $(NF-1) " " $NF); n[key]++; total++ }
        END { if (!total) { print "no device"; exit }
              s = ""; for (k in n) s = s (s ? ", " : "") n[k] " " k
              print total " device" (total > 1 ? "s" : "") ": " s }'
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
