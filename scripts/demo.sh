#!/bin/bash
# Shows the component at work: copies a sample package and the component into
# a package directory in the build tree, and runs the host there under Wine in
# a fresh prefix. Prints the host's report and the setup log it left.
# Usage: scripts/demo.sh BUILD_DIR EXAMPLE
set -euo pipefail
HERE=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(realpath -m "${1:-build}")
EXAMPLE=${2:-chipset}
export ZOL_WINE_ROOT="$BUILD/wine"
source "$HERE/scripts/wine-env.sh"

PKG="$BUILD/demo/$EXAMPLE"
rm -rf "$PKG"; mkdir -p "$PKG"
if [ -d "$HERE/examples/$EXAMPLE" ]; then
    cp -a "$HERE/examples/$EXAMPLE/." "$PKG/"
else
    echo "demo: examples/$EXAMPLE is not there; using an empty package directory"
fi
cp "$BUILD/bin/zolcomp.dll" "$PKG/"

mkdir -p "$ZOL_WINE_ROOT/runs"
export WINEPREFIX=$(mktemp -d "$ZOL_WINE_ROOT/runs/demo.XXXXXX")
cleanup() { "$WINESERVER" -k >/dev/null 2>&1 || true; "$WINESERVER" -w >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"; }
trap cleanup EXIT
cp -a "$ZOL_WINE_ROOT/pristine/." "$WINEPREFIX/"

winpath() { local p=${1//\//\\}; echo "Z:$p"; }
HOST=$(winpath "$BUILD/bin/zolhost.exe")
DLL=$(winpath "$PKG/zolcomp.dll")

echo "demo: package directory $(winpath "$PKG")"
echo "demo: zolhost --check /verbose_log $DLL"
echo
cd "$PKG"
set +e
"$WINE64" "$HOST" --check /verbose_log "$DLL" | tr -d '\r'
rc=${PIPESTATUS[0]}
set -e
echo
shopt -s nullglob dotglob
for f in "$WINEPREFIX"/drive_c/devavoror/log/*; do
    [ -f "$f" ] || continue
    echo "demo: C:\\devavoror\\log\\$(basename "$f"):"
    tr -d '\r' < "$f" | sed 's/^/    /'
done
exit "$rc"
