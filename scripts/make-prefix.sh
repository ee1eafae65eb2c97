#!/bin/bash
# Creates the pristine Wine prefix of a build tree once: a 64-bit prefix that
# reports a Windows Server 2008 R2 (6.1 server). Quiet when it exists already.
# Usage: scripts/make-prefix.sh BUILD_DIR
set -euo pipefail
export ZOL_WINE_ROOT=$(realpath -m "${1:-build}")/wine
source "$(dirname "$0")/wine-env.sh"
PRISTINE="$ZOL_WINE_ROOT/pristine"
[ -f "$PRISTINE/.zol-ready" ] && exit 0
echo "prefix: creating the pristine Wine prefix in $PRISTINE"
rm -rf "$PRISTINE"; mkdir -p "$PRISTINE"
export WINEPREFIX="$PRISTINE"
"$WINE64" wineboot -i >/dev/null 2>&1 || true
# Wine 8 names the 6.1 server setting "win7" (its win7/win2008r2 entries are swapped).
"$WINE64" reg add 'HKCU\Software\Wine' /v Version /d win7 /f >/dev/null 2>&1
"$WINESERVER" -w
touch "$PRISTINE/.zol-ready"
