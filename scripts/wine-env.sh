# Sourced by the Wine scripts: one fixed, quiet, self-contained Wine environment.
# ZOL_WINE_ROOT must name the build tree's Wine directory.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export WINEARCH=win64
# Wine's home (and anything it would put there) stays inside the build tree.
export HOME="$ZOL_WINE_ROOT/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
# Fixed locale and time zone: ANSI code page 1252, en-US time and date formats.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ=UTC
unset DISPLAY WAYLAND_DISPLAY
WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine)
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
mkdir -p "$HOME"
