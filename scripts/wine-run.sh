#!/bin/bash
# Runs one Windows program under Wine in its own fresh copy of the pristine
# prefix, then removes the copy. Used as CMake's cross-compiling emulator.
# Set ZOL_KEEP_PREFIX=1 to keep the copy (its path is printed), or
# TEST_WINEPREFIX=DIR to run in an existing prefix instead.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
: "${ZOL_WINE_ROOT:?ZOL_WINE_ROOT must name the wine directory of the build tree}"
source "$HERE/wine-env.sh"
if [ -n "${TEST_WINEPREFIX:-}" ]; then
    export WINEPREFIX="$TEST_WINEPREFIX"
    exec "$WINE64" "$@"
fi
mkdir -p "$ZOL_WINE_ROOT/runs"
export WINEPREFIX=$(mktemp -d "$ZOL_WINE_ROOT/runs/pfx.XXXXXX")
cp -a "$ZOL_WINE_ROOT/pristine/." "$WINEPREFIX/"
"$WINE64" "$@"
rc=$?
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1
if [ "${ZOL_KEEP_PREFIX:-0}" = 1 ]; then
    echo "wine-run: prefix kept in $WINEPREFIX" >&2
else
    rm -rf "$WINEPREFIX"
fi
exit $rc
