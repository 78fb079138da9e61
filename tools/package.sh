#!/usr/bin/env bash
# Writes the release packages into dist/:
#   vrxpr_<version>_amd64.deb         the Linux build, the Debian way
#   vrxpr-<version>-windows.zip       x64/ and x86/vrxpr.exe, README.txt,
#                                     README-ja.txt, SHA256SUMS
# Installs what it needs (as root) from tools/deps/package.txt. The version
# is the one in CMakeLists.txt's project().
#
# The same commit gives the same bytes on any machine, at any time, in any
# time zone: every date inside comes from SOURCE_DATE_EPOCH, by default the
# last commit's time.
#
# Signing (optional): with VRXPR_SIGN_PKCS12 naming a PKCS#12 file, both
# vrxpr.exe are signed with Authenticode (SHA-256) before the checksums are
# written. VRXPR_SIGN_PASSWORD_FILE names a file holding its password;
# VRXPR_SIGN_TIMESTAMP_URL an RFC 3161 time-stamp server.
# VRXPR_WERROR=ON makes compiler warnings errors (the project's tests set it).
set -euo pipefail
umask 022

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
work=$root/build-pkg
dist=$root/dist
jobs=$(nproc)

bash tools/install-deps.sh tools/deps/package.txt

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
fi
# ld writes it as the .exe files' link time, dpkg-buildpackage uses it too.
export SOURCE_DATE_EPOCH
stamp=$SOURCE_DATE_EPOCH
werror=${VRXPR_WERROR:-OFF}
if [ -n "${VRXPR_SIGN_PKCS12:-}" ]; then
    [ -r "$VRXPR_SIGN_PKCS12" ] || { echo "package.sh: cannot read $VRXPR_SIGN_PKCS12" >&2; exit 1; }
    if [ -n "${VRXPR_SIGN_PASSWORD_FILE:-}" ] && [ ! -r "$VRXPR_SIGN_PASSWORD_FILE" ]; then
        echo "package.sh: cannot read $VRXPR_SIGN_PASSWORD_FILE" >&2
        exit 1
    fi
fi

rm -rf "$work" "$dist"
mkdir -p "$work" "$dist"

# --- Windows: both architectures, fully static, stripped -----------------------
build_exe() {  # arch dir
    cmake -S "$root" -B "$work/$2" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$1.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVRXPR_TESTS=OFF -DVRXPR_WERROR="$werror" >"$work/$2.log" 2>&1 &&
        cmake --build "$work/$2" -j "$jobs" >>"$work/$2.log" 2>&1 ||
        { tail -n 40 "$work/$2.log" >&2; echo "package.sh: the $1 build failed" >&2; exit 1; }
    "$1-w64-mingw32-strip" "$work/$2/vrxpr.exe"
}
sign_exe() {  # file
    [ -n "${VRXPR_SIGN_PKCS12:-}" ] || return 0
    local args=(sign -pkcs12 "$VRXPR_SIGN_PKCS12" -h sha256 -n vrxpr)
    [ -z "${VRXPR_SIGN_PASSWORD_FILE:-}" ] || args+=(-readpass "$VRXPR_SIGN_PASSWORD_FILE")
    [ -z "${VRXPR_SIGN_TIMESTAMP_URL:-}" ] || args+=(-ts "$VRXPR_SIGN_TIMESTAMP_URL")
    rm -f "$1.signed"
    osslsigncode "${args[@]}" -in "$1" -out "$1.signed" >"$work/sign.log" 2>&1 ||
        { cat "$work/sign.log" >&2; echo "package.sh: signing $1 failed" >&2; exit 1; }
    mv "$1.signed" "$1"
}
build_exe x86_64 win64
build_exe i686 win32
version=$(cat "$work/win64/vrxpr-version.txt")

zipdir=$work/zip
mkdir -p "$zipdir/x64" "$zipdir/x86"
cp "$work/win64/vrxpr.exe" "$zipdir/x64/vrxpr.exe"
cp "$work/win32/vrxpr.exe" "$zipdir/x86/vrxpr.exe"
sign_exe "$zipdir/x64/vrxpr.exe"
sign_exe "$zipdir/x86/vrxpr.exe"
# Notepad on older Windows needs CR LF; the byte-order mark tells it UTF-8.
sed 's/\r*$/\r/' README.md >"$zipdir/README.txt"
{ printf '\357\273\277'; sed 's/\r*$/\r/' README.ja.md; } >"$zipdir/README-ja.txt"
files=(x64/vrxpr.exe x86/vrxpr.exe README.txt README-ja.txt)
(cd "$zipdir" && sha256sum "${files[@]}" >SHA256SUMS)
# Same bytes for the same sources: fixed modes and times, no extra
# attributes; zip stores local time, so the clock is read as UTC.
chmod 755 "$zipdir/x64/vrxpr.exe" "$zipdir/x86/vrxpr.exe"
chmod 644 "$zipdir/README.txt" "$zipdir/README-ja.txt" "$zipdir/SHA256SUMS"
find "$zipdir" -exec touch -d "@$stamp" {} +
(cd "$zipdir" && TZ=UTC0 zip -q -X -D "$dist/vrxpr-$version-windows.zip" "${files[@]}" SHA256SUMS)

# --- Debian: a copy of the sources with a changelog of this version -----------
src=$work/vrxpr-$version
mkdir -p "$src"
# The files' times in the checkout vary (dpkg-deb only clamps later ones).
tar -C "$root" --exclude=./.git --exclude='./build*' --exclude=./dist --exclude=./demo \
    --exclude=./tools/guest/cache --exclude='./vrxpr-sim-storage.json*' --mtime="@$stamp" \
    -cf - . | tar -C "$src" -xf -
cat >"$src/debian/changelog" <<CHANGES
vrxpr ($version) unstable; urgency=medium

  * Release $version.

 -- vrxpr developers <vrxpr-dev@example.org>  $(date -u -R -d "@$stamp")
CHANGES
(cd "$src" && dpkg-buildpackage -b -us -uc >"$work/deb.log" 2>&1) ||
    { tail -n 40 "$work/deb.log" >&2; echo "package.sh: dpkg-buildpackage failed" >&2; exit 1; }
cp "$work/vrxpr_${version}_amd64.deb" "$dist/"

echo "package.sh: wrote"
ls -l "$dist"
