#!/bin/bash
# Creates the pristine Wine prefix of a build tree once: a 64-bit prefix that
# reports a Windows Server 2008 R2 (6.1 server). Quiet when it exists already.
# Usage: scripts/make-prefix.sh BUILD_DIR
set -euo pipefail
export ZOL_WINE_ROOT=$(realpath -m "${1:-build}")/wine
source "$(dirname "$0")/wine-env.sh"
PRISTINE="$ZOL_WINE_ROOT/pristine"
export WINEPREFIX="$PRISTINE"
if [ ! -f "$PRISTINE/.zol-ready" ]; then
    echo "prefix: creating the pristine Wine prefix in $PRISTINE"
    rm -rf "$PRISTINE"; mkdir -p "$PRISTINE"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    # Wine 8 names the 6.1 server setting "win7" (its win7/win2008r2 entries are swapped).
    "$WINE64" reg add 'HKCU\Software\Wine' /v Version /d win7 /f >/dev/null 2>&1
    "$WINESERVER" -w
    touch "$PRISTINE/.zol-ready"
fi
# The sample packages' drivers are real kernel images. Wine runs such a driver
# in winedevice.exe as soon as it installs it for a device, but it never stops
# a driver started that way (stopping fails with 1061), and the running image
# cannot be overwritten: an update would keep the old file while reporting
# success. The simulated server therefore does not run them (winedevice.exe
# refuses to load them); "devsim start" and "devsim stop" stand for their
# running. Also applied to a pristine prefix made before this step existed.
if [ ! -f "$PRISTINE/.zol-drivers" ]; then
    for driver in zolchip.sys zolwdt.sys zolvcon.sys; do
        "$WINE64" reg add 'HKCU\Software\Wine\AppDefaults\winedevice.exe\DllOverrides' /v "$driver" /d '' /f \
            >/dev/null 2>&1
    done
    "$WINESERVER" -w
    touch "$PRISTINE/.zol-drivers"
fi
