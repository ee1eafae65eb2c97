#!/bin/bash
# The component exports exactly its three functions, undecorated, and every
# binary imports only Windows system DLLs (the runtimes are linked statically).
set -uo pipefail
BIN=${1:?usage: binary_checks.sh BIN_DIR}
OBJDUMP=x86_64-w64-mingw32-objdump
fail=0

exports=$($OBJDUMP -p "$BIN/zolcomp.dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF} t&&/^$/{t=0}' | sort | tr '\n' ' ')
if [ "$exports" != "GetInterfaceVersion GetProperty Install " ]; then
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
exit $fail
