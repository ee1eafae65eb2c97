#!/bin/bash
# Builds the release twice from this source tree, in two fresh build folders
# at different paths, and compares the archives and the binaries byte for
# byte. Only the release targets are built. Expat is taken from BUILD_DIR.
# With --against-build it builds once and compares with what BUILD_DIR's own
# binaries give (the cheaper check the tests run).
# Usage: scripts/dist-check.sh [--against-build] BUILD_DIR
set -euo pipefail
AGAINST_BUILD=0
if [ "${1:-}" = --against-build ]; then AGAINST_BUILD=1; shift; fi
BUILD=$(realpath "${1:?usage: dist-check.sh [--against-build] BUILD_DIR}")
HERE=$(cd "$(dirname "$0")/.." && pwd)
JOBS=${JOBS:-2}
unset ZOL_SIGN_CERT ZOL_SIGN_KEY
# One archive time for both builds, even when a commit lands in between.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$HERE" log -1 --format=%ct 2>/dev/null || echo 315532800)}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zolcomp-dist-check.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# build_release DIR: configures DIR like `make build` does and builds the archive.
build_release() {
    cmake -S "$HERE" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$HERE/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_PREFIX_PATH="$BUILD/expat/install" >/dev/null
    cmake --build "$1" -j"$JOBS" --target dist >"$1.log" 2>&1 || { tail -n 30 "$1.log" >&2; return 1; }
}

# Folders of different depth and name length: neither may show in the output.
A=$WORK/a/build
B=$WORK/second-folder/x/build
start=$(date +%s)
if [ $AGAINST_BUILD -eq 1 ]; then
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
    "$HERE/scripts/dist.sh" "$BUILD" "$version" "$WORK/a-dist" >/dev/null
    A_DIST=$WORK/a-dist
else
    build_release "$A"
    A_DIST=$A/dist
fi
build_release "$B"
B_DIST=$B/dist
echo "dist-check: built in $(($(date +%s) - start)) s"

fail=0
zip_a=$(ls "$A_DIST"/zolcomp-*.zip) zip_b=$(ls "$B_DIST"/zolcomp-*.zip)
for f in "$zip_a" "$A_DIST"/zolcomp-*/{zolcomp.dll,zolhost.exe,devsim.exe}; do
    g=$B_DIST/${f#"$A_DIST"/}
    if cmp -s "$f" "$g"; then
        echo "same: $(basename "$f") $(sha256sum < "$f" | cut -c1-16)"
    else
        echo "DIFFERENT: ${f#"$A_DIST"/}"; fail=1
    fi
done
if [ $fail -ne 0 ]; then
    # Name the members that differ.
    diff <(cd "$A_DIST" && find zolcomp-*/ -type f | sort | xargs -d '\n' sha256sum) \
         <(cd "$B_DIST" && find zolcomp-*/ -type f | sort | xargs -d '\n' sha256sum) >&2 || true
fi
for f in "$B_DIST"/zolcomp-*/{zolcomp.dll,zolhost.exe,devsim.exe}; do
    if grep -q -a -e "$WORK" -e "$HERE" "$f"; then echo "FAIL: $(basename "$f") names a build folder"; fail=1; fi
done
[ $fail -eq 0 ] && echo "dist-check: two builds give the same archive $(basename "$zip_b")"
exit $fail
