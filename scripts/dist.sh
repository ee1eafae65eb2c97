#!/bin/bash
# Lays out the release and packs it: OUT/zolcomp-VERSION.zip (OUT defaults to
# BUILD/dist) with the binaries (debug information stripped; Authenticode-
# signed when ZOL_SIGN_CERT and ZOL_SIGN_KEY name a certificate and its key),
# the public header, the built sample packages, README, docs/, SECURITY.md,
# known-dlls.txt, LICENSE and SHA256SUMS.
# The archive depends on nothing but its contents: sorted names, one fixed
# time (the last commit's), fixed permissions.
# Usage: scripts/dist.sh BUILD_DIR VERSION [OUT_DIR]
set -euo pipefail
BUILD=$(realpath "${1:?usage: dist.sh BUILD_DIR VERSION [OUT_DIR]}")
VERSION=${2:?usage: dist.sh BUILD_DIR VERSION [OUT_DIR]}
OUT=$(realpath -m "${3:-$BUILD/dist}")
HERE=$(cd "$(dirname "$0")/.." && pwd)
NAME=zolcomp-$VERSION
STAGE=$OUT/$NAME
# strip writes the PE time stamp anew; SOURCE_DATE_EPOCH=0 makes it 0, as the
# linker leaves it.
STRIP="env SOURCE_DATE_EPOCH=0 x86_64-w64-mingw32-strip"

rm -rf "$STAGE" "$OUT/$NAME.zip"
mkdir -p "$STAGE/include/zolcomp" "$STAGE/docs"

sign() {
    local file=$1 signed
    signed=$file.signed
    rm -f "$signed"
    # Sign into a new file and move it over the old one only when it worked.
    if ! osslsigncode sign -certs "$ZOL_SIGN_CERT" -key "$ZOL_SIGN_KEY" ${ZOL_SIGN_PASS:+-pass "$ZOL_SIGN_PASS"} \
            -n "zolcomp $VERSION" ${ZOL_SIGN_TIMESTAMP:+-ts "$ZOL_SIGN_TIMESTAMP"} \
            -in "$file" -out "$signed" >"$signed.log" 2>&1; then
        cat "$signed.log" >&2
        rm -f "$signed" "$signed.log"
        echo "dist: cannot sign $(basename "$file")" >&2
        return 1
    fi
    rm -f "$signed.log"
    mv -f "$signed" "$file"
}

signing=0
if [ -n "${ZOL_SIGN_CERT:-}" ] && [ -n "${ZOL_SIGN_KEY:-}" ]; then
    command -v osslsigncode >/dev/null || { echo "dist: signing needs osslsigncode (Debian package)" >&2; exit 1; }
    signing=1
fi

for f in zolcomp.dll zolhost.exe devsim.exe; do
    $STRIP --strip-debug -o "$STAGE/$f" "$BUILD/bin/$f"
    [ $signing -eq 0 ] || sign "$STAGE/$f"
    chmod 644 "$STAGE/$f"
done
cp "$HERE/include/zolcomp/zolcomp.h" "$STAGE/include/zolcomp/"
# The documents, with every file their links name.
cp "$HERE/README.md" "$HERE/SECURITY.md" "$HERE/known-dlls.txt" "$HERE/LICENSE" "$STAGE/"
cp "$HERE"/docs/* "$STAGE/docs/"

# The sample packages as the build laid them out, each with the released
# component in place of the build's copy.
if compgen -G "$BUILD/packages/*/" >/dev/null; then
    mkdir -p "$STAGE/packages"
    cp -r "$BUILD"/packages/*/ "$STAGE/packages/"
    find "$STAGE/packages" -type f -iname zolcomp.dll -exec cp "$STAGE/zolcomp.dll" {} \;
    find "$STAGE/packages" -type f \( -iname '*.sys' -o -iname '*.dll' -o -iname '*.exe' \) ! -iname zolcomp.dll \
        -exec $STRIP --strip-debug {} \;
else
    echo "dist: no sample packages under $BUILD/packages; the archive has none"
fi

(cd "$STAGE" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' sha256sum > ../SHA256SUMS.part)
mv "$OUT/SHA256SUMS.part" "$STAGE/SHA256SUMS"

STAMP=${SOURCE_DATE_EPOCH:-$(git -C "$HERE" log -1 --format=%ct 2>/dev/null || echo 315532800)}
python3 - "$STAGE" "$OUT/$NAME.zip" "$STAMP" <<'PY'
import os, sys, time, zipfile
stage, target, stamp = sys.argv[1], sys.argv[2], max(int(sys.argv[3]), 315532800)
root = os.path.basename(stage)
when = time.gmtime(stamp)[:6]
names = []
for dirpath, _, files in os.walk(stage):
    names += [os.path.relpath(os.path.join(dirpath, f), stage).replace(os.sep, "/") for f in files]
with zipfile.ZipFile(target + ".part", "w") as z:
    for name in sorted(names):
        info = zipfile.ZipInfo(root + "/" + name, date_time=when)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 3
        info.external_attr = 0o100644 << 16
        with open(os.path.join(stage, name), "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
os.replace(target + ".part", target)
PY
echo "dist: $OUT/$NAME.zip$([ $signing -eq 1 ] && echo ' (signed)')"
