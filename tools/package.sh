#!/usr/bin/env bash
# Writes the release packages into dist/:
#   vrxpr_<version>_amd64.deb         the Linux build, the Debian way
#   vrxpr-<version>-windows.zip       x64/ and x86/vrxpr.exe, README.txt, SHA256SUMS
# Installs what it needs (as root) from tools/deps/package.txt. The version
# is the one in CMakeLists.txt's project().
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
work=$root/build-pkg
dist=$root/dist
jobs=$(nproc)

bash tools/install-deps.sh tools/deps/package.txt

rm -rf "$work" "$dist"
mkdir -p "$work" "$dist"

# --- Windows: both architectures, fully static, stripped -----------------------
build_exe() {  # arch dir
    cmake -S "$root" -B "$work/$2" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$1.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVRXPR_TESTS=OFF >"$work/$2.log" 2>&1 &&
        cmake --build "$work/$2" -j "$jobs" >>"$work/$2.log" 2>&1 ||
        { tail -n 40 "$work/$2.log" >&2; echo "package.sh: the $1 build failed" >&2; exit 1; }
    "$1-w64-mingw32-strip" "$work/$2/vrxpr.exe"
}
build_exe x86_64 win64
build_exe i686 win32
version=$(cat "$work/win64/vrxpr-version.txt")
# Dates inside both packages come from the last commit, not the clock.
stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)

zipdir=$work/zip
mkdir -p "$zipdir/x64" "$zipdir/x86"
cp "$work/win64/vrxpr.exe" "$zipdir/x64/vrxpr.exe"
cp "$work/win32/vrxpr.exe" "$zipdir/x86/vrxpr.exe"
sed 's/\r*$/\r/' README.md >"$zipdir/README.txt"
(cd "$zipdir" && sha256sum x64/vrxpr.exe x86/vrxpr.exe README.txt >SHA256SUMS)
# Same bytes for the same sources: fixed times, no extra attributes.
find "$zipdir" -exec touch -d "@$stamp" {} +
(cd "$zipdir" && zip -q -X -D "$dist/vrxpr-$version-windows.zip" \
    x64/vrxpr.exe x86/vrxpr.exe README.txt SHA256SUMS)

# --- Debian: a copy of the sources with a changelog of this version -----------
src=$work/vrxpr-$version
mkdir -p "$src"
tar -C "$root" --exclude=./.git --exclude='./build*' --exclude=./dist --exclude=./demo \
    --exclude=./tools/guest/cache --exclude='./vrxpr-sim-storage.json*' -cf - . | tar -C "$src" -xf -
cat >"$src/debian/changelog" <<CHANGES
vrxpr ($version) unstable; urgency=medium

  * Release $version.

 -- vrxpr developers <vrxpr-dev@example.org>  $(date -R -d "@$stamp")
CHANGES
(cd "$src" && dpkg-buildpackage -b -us -uc >"$work/deb.log" 2>&1) ||
    { tail -n 40 "$work/deb.log" >&2; echo "package.sh: dpkg-buildpackage failed" >&2; exit 1; }
cp "$work/vrxpr_${version}_amd64.deb" "$dist/"

echo "package.sh: wrote"
ls -l "$dist"
