#!/usr/bin/env bash
# Builds the release packages with tools/package.sh and checks what an
# administrator gets: the .deb's files, lintian, the installed command and
# its manual page; the zip's files, checksums, line ends, and each .exe's
# manifest and version resource. Ends with "package: N passed, M failed".
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
passed=0
failed=0
check() {  # name, then a command that succeeds when the check passes
    local name=$1
    shift
    if "$@"; then
        echo "PASS [package] $name"
        passed=$((passed + 1))
    else
        echo "FAIL [package] $name"
        failed=$((failed + 1))
    fi
}
finish() {
    echo "package: $passed passed, $failed failed"
    [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
    exit $?
}

if ! bash tools/package.sh >build-pkg.log 2>&1; then
    tail -n 30 build-pkg.log
    check "tools/package.sh writes both packages" false
    finish
fi
version=$(cat build-pkg/win64/vrxpr-version.txt)
deb=dist/vrxpr_${version}_amd64.deb
zip=dist/vrxpr-$version-windows.zip
check "the version comes from CMakeLists.txt" \
    grep -q "^project(vrxpr VERSION $version " CMakeLists.txt
check "both packages are in dist/" test -f "$deb" -a -f "$zip"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# --- the Debian package -------------------------------------------------------
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$tmp/deb-files"
cat >"$tmp/deb-want" <<FILES
./usr/sbin/vrxpr
./usr/share/doc/vrxpr/README.md.gz
./usr/share/doc/vrxpr/changelog.gz
./usr/share/doc/vrxpr/copyright
./usr/share/man/man8/vrxpr.8.gz
FILES
check "the .deb holds the command, its manual page, README and copyright" \
    diff -u "$tmp/deb-want" "$tmp/deb-files"
check "the .deb is version $version for amd64, an admin tool" \
    test "$(dpkg-deb -f "$deb" Package Version Architecture Section | tr '\n' ' ')" = \
    "Package: vrxpr Version: $version Architecture: amd64 Section: admin "

lintian --fail-on error,warning "$deb" >"$tmp/lintian" 2>&1
lrc=$?
grep -v 'running with root privileges' "$tmp/lintian"
check "lintian reports no error and no warning" test "$lrc" -eq 0

dpkg-deb -x "$deb" "$tmp/root"
LC_ALL=C "$tmp/root/usr/sbin/vrxpr" -h >"$tmp/help" 2>&1
hrc=$?
printf '%s\n' "vrxpr.exe [-c | -d | -h]" \
    "  -c : Clears Persistent Reservation on a specific LU." \
    "  -d : Displays Persistent Reservation information for each LU managed" \
    "       by VORX." \
    "  -h : Displays Help." \
    "  (No option specified): Displays vrxpr.exe instructions." >"$tmp/help-want"
check "the packaged vrxpr -h prints the help and exits 0" \
    bash -c "[ $hrc -eq 0 ] && cmp '$tmp/help-want' '$tmp/help'"
check "the copyright file is machine-readable" \
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$tmp/root/usr/share/doc/vrxpr/copyright"

gzip -dc "$tmp/root/usr/share/man/man8/vrxpr.8.gz" >"$tmp/vrxpr.8"
check "the manual page passes mandoc -T lint" mandoc -T lint -W warning "$tmp/vrxpr.8"
check "the manual page is section 8 of version $version, without test hooks" \
    bash -c "grep -q '^\.TH VRXPR 8 .*\"vrxpr $version\"' '$tmp/vrxpr.8' && ! grep -q VRXPR_TEST_ROOT '$tmp/vrxpr.8'"

# --- the Windows zip ------------------------------------------------------------
unzip -Z1 "$zip" | sort >"$tmp/zip-files"
printf '%s\n' README.txt SHA256SUMS x64/vrxpr.exe x86/vrxpr.exe >"$tmp/zip-want"
check "the zip holds both .exe files, README.txt and SHA256SUMS" \
    diff -u "$tmp/zip-want" "$tmp/zip-files"
mkdir "$tmp/zip"
unzip -q "$zip" -d "$tmp/zip"
check "SHA256SUMS matches the files" bash -c "cd '$tmp/zip' && sha256sum --quiet -c SHA256SUMS"
check "README.txt has CR LF line ends only" \
    bash -c "[ -s '$tmp/zip/README.txt' ] && ! grep -q \$'[^\r]\$' '$tmp/zip/README.txt' && ! grep -q '^\$' '$tmp/zip/README.txt'"

for arch in x64 x86; do
    /usr/bin/python3 "$root/tests/package/check-pe.py" "$tmp/zip/$arch/vrxpr.exe" "$arch" "$version" \
        >"$tmp/pe-$arch" 2>&1
    prc=$?
    cat "$tmp/pe-$arch"
    check "$arch/vrxpr.exe: requires administrator, names its version and itself" test "$prc" -eq 0
done
finish
