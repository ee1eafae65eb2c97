#!/bin/bash
# Release checks, run on the build machine:
#   reproducible  a second build of the release at another path gives the
#                 same archive and binaries as this build tree's binaries
#   header        the public header stands alone in C99, C11 and C++11 and
#                 later, strict, and its layout checks fire on a wrong record
#   signed        a release signed with a throwaway certificate verifies, its
#                 checksums and archive hold the signed files, a changed byte
#                 breaks the signature, the documents' links resolve inside
#                 the release, and the signed host loads the signed
#                 component under Wine
# Usage: release_checks.sh reproducible|header|signed BUILD_DIR VERSION
set -uo pipefail
MODE=${1:?usage: release_checks.sh reproducible|signed BUILD_DIR VERSION}
BUILD=$(realpath "${2:?}")
VERSION=${3:?}
HERE=$(cd "$(dirname "$0")/.." && pwd)

if [ "$MODE" = reproducible ]; then
    exec "$HERE/scripts/dist-check.sh" --against-build "$BUILD"
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zolcomp-release.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail=0
check() { if "$@"; then echo "ok: ${DESC}"; else echo "FAIL: ${DESC}"; fail=1; fi; }

if [ "$MODE" = header ]; then
    printf '#include <zolcomp/zolcomp.h>\nint f(PREREQSTATUS* s) { return s->nStatus == STATUS_NOT_INSTALLED; }\nint g(ZOL_DEVICE_RESULT* d) { return d->nOutcome == ZOL_DEVICE_FAILED && d->szInstanceId[0]; }\n' > "$WORK/use.c"
    for std in c99 c11 c++11 c++17; do
        lang=c; cc=x86_64-w64-mingw32-gcc-posix
        case $std in c++*) lang=c++; cc=x86_64-w64-mingw32-g++-posix ;; esac
        DESC="the header compiles alone as $std -pedantic -Werror"
        check $cc -x $lang -std=$std -Wall -Wextra -pedantic -Werror -fsyntax-only -I"$HERE/include" "$WORK/use.c"
    done
    # A record of another size must not compile.
    sed 's/wchar_t szMessage\[ZOL_MESSAGE_CHARS\]/wchar_t szMessage[ZOL_MESSAGE_CHARS + 1]/' \
        "$HERE/include/zolcomp/zolcomp.h" > "$WORK/zolcomp.h"
    DESC="a record of the wrong size fails to compile in C99 and C++"
    check eval '! x86_64-w64-mingw32-gcc-posix -std=c99 -fsyntax-only -x c "$WORK/zolcomp.h" 2>/dev/null &&
                ! x86_64-w64-mingw32-g++-posix -std=c++11 -fsyntax-only -x c++ "$WORK/zolcomp.h" 2>/dev/null'
    exit $fail
fi

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=zolcomp test signer" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$WORK/key.pem" -out "$WORK/cert.pem" 2>"$WORK/openssl.log" || { cat "$WORK/openssl.log"; exit 1; }
ZOL_SIGN_CERT=$WORK/cert.pem ZOL_SIGN_KEY=$WORK/key.pem "$HERE/scripts/dist.sh" "$BUILD" "$VERSION" "$WORK/dist" || exit 1
STAGE=$WORK/dist/zolcomp-$VERSION

for f in zolcomp.dll zolhost.exe devsim.exe; do
    DESC="$f carries a signature that verifies against the certificate"
    check bash -c 'osslsigncode verify -in "$1" -CAfile "$2" >"$3" 2>&1 || { cat "$3"; false; }' \
        verify "$STAGE/$f" "$WORK/cert.pem" "$WORK/verify.log"
done

# One changed byte in the signed code must fail verification.
cp "$STAGE/zolcomp.dll" "$WORK/tampered.dll"
printf '\x90' | dd of="$WORK/tampered.dll" bs=1 seek=1100 conv=notrunc status=none
DESC="a changed byte breaks the signature"
check eval '! osslsigncode verify -in "$WORK/tampered.dll" -CAfile "$WORK/cert.pem" >/dev/null 2>&1'

DESC="SHA256SUMS lists the signed files"
check bash -c "cd '$STAGE' && sha256sum --quiet -c SHA256SUMS && grep -q ' zolcomp.dll\$' SHA256SUMS"
DESC="the archive holds the signed files"
check python3 - "$WORK/dist/zolcomp-$VERSION.zip" "$STAGE" <<'PY'
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1]); root = os.path.basename(sys.argv[2])
sys.exit(any(z.read(root + "/" + f) != open(os.path.join(sys.argv[2], f), "rb").read()
             for f in ("zolcomp.dll", "zolhost.exe", "devsim.exe")))
PY

DESC="the archive: one folder, sorted members, one time, mode 644, every file summed, packages with the released DLL"
check python3 - "$WORK/dist/zolcomp-$VERSION.zip" "zolcomp-$VERSION" <<'PY'
import hashlib, sys, zipfile
z = zipfile.ZipFile(sys.argv[1]); root = sys.argv[2] + "/"
infos = z.infolist(); names = [i.filename for i in infos]
errors = []
if names != sorted(names): errors.append("members not in name order")
if {i.date_time for i in infos}.__len__() != 1: errors.append("more than one member time")
errors += ["%s: mode %o" % (i.filename, i.external_attr >> 16) for i in infos if i.external_attr >> 16 != 0o100644]
errors += ["outside the folder: " + n for n in names if not n.startswith(root)]
files = {n[len(root):]: z.read(n) for n in names}
for need in ("zolcomp.dll", "zolhost.exe", "devsim.exe", "include/zolcomp/zolcomp.h", "README.md", "LICENSE",
             "SECURITY.md", "docs/admin-guide.md", "docs/host-writers.md", "docs/zolhost-report.schema.json"):
    if need not in files: errors.append("missing " + need)
sums = dict(reversed(line.split("  ", 1)) for line in files.get("SHA256SUMS", b"").decode().splitlines())
if sorted(sums) != sorted(n for n in files if n != "SHA256SUMS"): errors.append("SHA256SUMS does not list every file")
errors += ["wrong sum: " + n for n, h in sums.items() if n in files and hashlib.sha256(files[n]).hexdigest() != h]
errors += ["not the released DLL: " + n for n in files if n.lower().endswith("/zolcomp.dll") and files[n] != files["zolcomp.dll"]]
print("\n".join(errors)); sys.exit(bool(errors))
PY
DESC="the released documents' links name files and headings inside the release"
check python3 "$HERE/tests/docs_links.py" "$STAGE"

for f in zolcomp.dll zolhost.exe devsim.exe; do
    DESC="$f has file and product version $VERSION"
    check test "$(strings -el "$STAGE/$f" | grep -A1 -xE 'FileVersion|ProductVersion' | grep -vxE 'FileVersion|ProductVersion|--' | sort -u)" = "$VERSION"
done

# The signed host loads the signed component in the chipset package (as the
# release ships it, or its sources when the build laid out no packages).
PKG=$WORK/pkg
mkdir -p "$PKG"
if [ -d "$STAGE/packages/chipset" ]; then cp -r "$STAGE/packages/chipset/." "$PKG/"; else cp -r "$HERE/examples/chipset/." "$PKG/"; fi
cp "$STAGE/zolcomp.dll" "$PKG/"
out=$(cd "$PKG" && "$HERE/scripts/wine-run.sh" "$STAGE/zolhost.exe" --check --json zolcomp.dll 2>&1)
rc=$?
DESC="the signed host answers from the signed component (exit $rc)"
check eval '[ $rc -eq 0 ] && [[ $out == *"\"interface_version\":100"* ]] && [[ $out == *"\"4\":{\"result\":1,\"value\":\"1.2.3.0\"}"* ]]'
printf '%s' "$out" > "$WORK/report.json"
DESC="the signed host's report follows docs/zolhost-report.schema.json"
check python3 "$HERE/tests/validate_report.py" "$HERE/docs/zolhost-report.schema.json" "$WORK/report.json"
[ $fail -eq 0 ] || echo "$out"
exit $fail
