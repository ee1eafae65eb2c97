#!/bin/bash
# Installs what the build needs (nlohmann-json's headers for zolhost's JSON
# report among it, and clang, the tests' second compiler) and builds Expat
# (UTF-16) for the target.
# Idempotent and quiet when everything is in place already.
# Usage: scripts/setup.sh BUILD_DIR [fleet]
# With "fleet", also Ansible with its Windows collection and ansible-lint,
# which the fleet playbook's demonstration and test need.
set -euo pipefail
BUILD_DIR=$(realpath -m "${1:-build}")
HERE=$(cd "$(dirname "$0")/.." && pwd)

PACKAGES="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
 mingw-w64-x86-64-dev wine64 wine cmake make googletest dpkg-dev debian-archive-keyring
 ca-certificates python3 python3-jsonschema osslsigncode openssl clang nlohmann-json3-dev"
[ "${2:-}" != fleet ] || PACKAGES="$PACKAGES ansible ansible-lint"
missing=()
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "setup: these Debian packages are missing: ${missing[*]}" >&2
            echo "setup: run this as root once, or install sudo, to install them" >&2
            exit 1
        fi
        SUDO=sudo
    fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

EXPAT_DIR="$BUILD_DIR/expat"
if [ ! -f "$EXPAT_DIR/install/lib/libexpatw.a" ]; then
    echo "setup: fetching and building Expat (wchar_t) in $EXPAT_DIR"
    rm -rf "$EXPAT_DIR"
    mkdir -p "$EXPAT_DIR/apt/lists/partial" "$EXPAT_DIR/src"
    # A private source list: the system's apt configuration is never touched.
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        > "$EXPAT_DIR/apt/expat-src.sources"
    APT=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$EXPAT_DIR/apt"
         -o "Dir::State::Lists=$EXPAT_DIR/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
    if ! apt-get "${APT[@]}" update -qq >/dev/null ||
       ! (cd "$EXPAT_DIR/src" && apt-get "${APT[@]}" source -qq expat >"$EXPAT_DIR/apt/source.log" 2>&1); then
        echo "setup: could not fetch Debian's Expat source package from deb.debian.org" >&2
        [ -f "$EXPAT_DIR/apt/source.log" ] && tail -n 5 "$EXPAT_DIR/apt/source.log" >&2
        exit 1
    fi
    SRC=$(ls -d "$EXPAT_DIR"/src/expat-*/ | head -n1)
    # Debian's CVE patches test "XML_DTD == 1", which the CMake config leaves empty.
    sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/; s/^#cmakedefine XML_NS$/#cmakedefine XML_NS 1/' \
        "$SRC/expat/expat_config.h.cmake"
    cmake -S "$SRC/expat" -B "$EXPAT_DIR/build" -DCMAKE_TOOLCHAIN_FILE="$HERE/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$EXPAT_DIR/install" -DEXPAT_CHAR_TYPE=wchar_t \
        -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
        -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF >/dev/null
    cmake --build "$EXPAT_DIR/build" -j2 >/dev/null
    cmake --install "$EXPAT_DIR/build" >/dev/null
fi
