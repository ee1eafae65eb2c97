#!/bin/bash
# The component exports exactly its four functions, undecorated, every
# binary imports only Windows system DLLs (the runtimes are linked
# statically), and the released ones only the known DLLs of known-dlls.txt.
# With PACKAGES_DIR: each sample package's driver is a 64-bit native image
# that imports from the kernel only, with the package's file version.
set -uo pipefail
BIN=${1:?usage: binary_checks.sh BIN_DIR [PACKAGES_DIR]}
PACKAGES=${2:-}
OBJDUMP=x86_64-w64-mingw32-objdump
fail=0

exports=$($OBJDUMP -p "$BIN/zolcomp.dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF} t&&/^$/{t=0}' | sort | tr '\n' ' ')
if [ "$exports" != "GetInterfaceVersion GetProperty Install Uninstall " ]; then
    echo "FAIL: zolcomp.dll exports '$exports'"; fail=1
else
    echo "ok: zolcomp.dll exports $exports"
fi

ALLOWED='^(KERNEL32|USER32|ADVAPI32|SHELL32|OLE32|OLEAUT32|SETUPAPI|NEWDEV|VERSION|msvcrt|SHLWAPI|RPCRT4|api-ms-win-crt-[a-z0-9-]+)\.dll$'
for f in "$BIN"/*.dll "$BIN"/*.exe; do
    [ -e "$f" ] || continue
    while read -r dll; do
        if ! echo "$dll" | grep -Eiq "$ALLOWED"; then
            echo "FAIL: $(basename "$f") imports $dll"; fail=1
        fi
    done < <($OBJDUMP -p "$f" | awk '/DLL Name:/{print $3}')
done
[ $fail -eq 0 ] && echo "ok: every binary imports only system DLLs"

# The released binaries and the host example import at load time only the
# known DLLs of known-dlls.txt: Windows looks for any other library in the
# application's folder first, where a planted copy would run.
SRC=$(cd "$(dirname "$0")/.." && pwd)
KNOWN=$(grep -v '^#' "$SRC/known-dlls.txt")
# known_imports FILE...: one line per import outside the list; 1 when any.
known_imports() {
    local f dll bad=0
    for f in "$@"; do
        [ -f "$f" ] || { echo "$(basename "$f") is missing"; bad=1; continue; }
        while read -r dll; do
            grep -qixF -- "$dll" <<<"$KNOWN" || { echo "$(basename "$f") imports $dll, not a known DLL"; bad=1; }
        done < <($OBJDUMP -p "$f" | awk '/DLL Name:/{print $3}')
    done
    return $bad
}
if out=$(known_imports "$BIN"/zolcomp.dll "$BIN"/zolhost.exe "$BIN"/devsim.exe "$BIN"/host-c.exe); then
    echo "ok: zolcomp.dll, zolhost.exe, devsim.exe and host-c.exe import only known DLLs"
else
    sed 's/^/FAIL: /' <<<"$out"; fail=1
fi
# The check itself: a test DLL that imports version.dll is refused, by name.
out=$(known_imports "$BIN/zolbadimport.dll")
if [ $? -eq 1 ] && [ "$out" = "zolbadimport.dll imports VERSION.dll, not a known DLL" ]; then
    echo "ok: the check refuses a binary that imports version.dll ($out)"
else
    echo "FAIL: the known-DLL check let zolbadimport.dll through: '$out'"; fail=1
fi

# Loading the component stays cheap: its sections sit in the file as in
# memory (Wine maps the file instead of copying it), and nothing at load
# reaches the cryptographic providers (the stack guard has its own seed).
dump=$($OBJDUMP -p "$BIN/zolcomp.dll")
if ! grep -Eq '^FileAlignment[[:space:]]+0*1000$' <<<"$dump"; then
    echo "FAIL: zolcomp.dll sections are not page-aligned in the file"; fail=1
elif grep -q 'CryptAcquireContext' <<<"$dump"; then
    echo "FAIL: zolcomp.dll imports the CryptoAPI"; fail=1
else
    echo "ok: zolcomp.dll maps from its file and seeds its stack guard without the CryptoAPI"
fi

# The change points that end a run at the N-th change exist only in the test
# build of the component: their variables' names are in zolcomp_faults.dll
# (UTF-16) and nowhere in the shipped zolcomp.dll.
if ! LC_ALL=C grep -c -a -P 'Z\x00O\x00L\x00_\x00C\x00U\x00T\x00_\x00A\x00T\x00' "$BIN/zolcomp_faults.dll" >/dev/null; then
    echo "FAIL: zolcomp_faults.dll has no change points (ZOL_CUT_AT not found): the check below proves nothing"; fail=1
elif LC_ALL=C grep -c -a -P 'Z\x00O\x00L\x00_\x00C\x00U\x00T\x00|ZOL_CUT' "$BIN/zolcomp.dll" >/dev/null; then
    echo "FAIL: zolcomp.dll holds the change points of the test build"; fail=1
else
    echo "ok: the change points are in zolcomp_faults.dll only, not in zolcomp.dll"
fi

# The file version of an image's version resource, a.b.c.d: the two DWORDs
# after the VS_FIXEDFILEINFO signature and its structure version.
file_version() {
    local hex
    hex=$($OBJDUMP -s -j .rsrc "$1" 2>/dev/null |
          awk '/^ [0-9a-f]+ / { for (i = 2; i <= 5; i++) if ($i ~ /^[0-9a-f]+$/) printf "%s", $i }')
    case "$hex" in *bd04effe*) hex=${hex#*bd04effe} ;; *) echo "(no version resource)"; return ;; esac
    local ms=${hex:8:8} ls=${hex:16:8}
    echo "$((16#${ms:6:2}${ms:4:2})).$((16#${ms:2:2}${ms:0:2})).$((16#${ls:6:2}${ls:4:2})).$((16#${ls:2:2}${ls:0:2}))"
}

# A failed driver check: names the image (driver_checks' $image) and clears its ok.
bad() { echo "FAIL: $image $1"; fail=1; ok=0; }
driver_checks() {
    local image=$1 version=$2 dump got imports ok=1
    [ -f "$image" ] || { bad "is missing"; return; }
    dump=$($OBJDUMP -p "$image")
    echo "$dump" | grep -q 'file format pei-x86-64' || bad "is not an x86-64 PE image"
    echo "$dump" | grep -Eq '^Magic[[:space:]]+020b' || bad "is not PE32+"
    echo "$dump" | grep -Eq '^Subsystem[[:space:]]+00000001' || bad "is not a native image"
    imports=$(echo "$dump" | awk '/DLL Name:/{print $3}' | sort -u | tr '\n' ' ')
    [ "$imports" = "ntoskrnl.exe " ] || bad "imports '$imports'"
    got=$(file_version "$image")
    [ "$got" = "$version" ] || bad "has file version $got, not $version"
    grep -q "<version value=\"$version\"/>" "$(dirname "$image")"/qx*.xml ||
        bad "lies beside a package definition without version $version"
    [ $ok -eq 1 ] && echo "ok: ${image#"$PACKAGES"/}: PE32+ x86-64, native, imports ntoskrnl.exe, file version $version"
}

if [ -n "$PACKAGES" ]; then
    driver_checks "$PACKAGES/chipset/zolchip.sys" 1.2.3.0
    driver_checks "$PACKAGES/chipset-1.2.4.0/zolchip.sys" 1.2.4.0
    driver_checks "$PACKAGES/legacy/zolwdt.sys" 2.4.1.0
    driver_checks "$PACKAGES/virtual/zolvcon.sys" 1.0.3.0
fi
# The released binaries are reproducible: no link time stamp in the PE header,
# and neither the source nor the build folder anywhere in them.
BUILD_DIR=$(cd "$BIN/.." && pwd)
for f in "$BIN"/zolcomp.dll "$BIN"/zolhost.exe "$BIN"/devsim.exe; do
    pe=$(od -An -tu4 -j60 -N4 "$f" | tr -d ' ')
    stamp=$(od -An -tu4 -j$((pe + 8)) -N4 "$f" | tr -d ' ')
    [ "$stamp" = 0 ] || { echo "FAIL: $(basename "$f") has link time stamp $stamp"; fail=1; }
    if grep -q -a -F -e "$SRC" -e "$BUILD_DIR" "$f"; then echo "FAIL: $(basename "$f") names a build folder"; fail=1; fi
done
[ $fail -eq 0 ] && echo "ok: the released binaries have no time stamp and name no build folder"
exit $fail
