#!/usr/bin/env bash
# Builds the release packages with tools/package.sh and checks what an
# administrator gets: the .deb's files, lintian, the installed command and
# its manual pages; the zip's files, checksums, line ends, the Japanese
# guide, and each .exe's manifest and version resource; that both .exe are
# signed when a certificate is given; and that two clones of HEAD packaged
# in two time zones give the same bytes. Ends with "package: N passed, M failed".
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
# Only what this test sets reaches tools/package.sh.
unset SOURCE_DATE_EPOCH VRXPR_SIGN_PKCS12 VRXPR_SIGN_PASSWORD_FILE VRXPR_SIGN_TIMESTAMP_URL
export VRXPR_WERROR=ON
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

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# --- signed with a throwaway certificate (first, so that dist/ ends unsigned) ---
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tmp/sign.key" -out "$tmp/sign.crt" -days 2 \
    -subj "/CN=vrxpr package test" -addext extendedKeyUsage=codeSigning >"$tmp/openssl.log" 2>&1
printf 'throwaway pass\n' >"$tmp/sign.pass"
openssl pkcs12 -export -inkey "$tmp/sign.key" -in "$tmp/sign.crt" -out "$tmp/sign.p12" \
    -passout "file:$tmp/sign.pass" >>"$tmp/openssl.log" 2>&1
if VRXPR_SIGN_PKCS12=$tmp/sign.p12 VRXPR_SIGN_PASSWORD_FILE=$tmp/sign.pass TZ=UTC \
    bash tools/package.sh >build-pkg.log 2>&1; then
    mkdir "$tmp/signed"
    unzip -q dist/vrxpr-*-windows.zip -d "$tmp/signed"
    for arch in x64 x86; do
        check "$arch/vrxpr.exe is signed (Authenticode) with the given certificate" bash -c \
            "osslsigncode verify -CAfile '$tmp/sign.crt' -in '$tmp/signed/$arch/vrxpr.exe' >'$tmp/verify-$arch' 2>&1 &&
             grep -q 'Subject: /CN=vrxpr package test' '$tmp/verify-$arch' &&
             grep -q 'Message digest algorithm  : SHA256' '$tmp/verify-$arch'"
    done
    check "SHA256SUMS matches the signed files" bash -c "cd '$tmp/signed' && sha256sum --quiet -c SHA256SUMS"
else
    cat "$tmp/openssl.log"
    tail -n 30 build-pkg.log
    check "tools/package.sh signs with VRXPR_SIGN_PKCS12" false
fi

if ! TZ=UTC bash tools/package.sh >build-pkg.log 2>&1; then
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

# --- the Debian package -------------------------------------------------------
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$tmp/deb-files"
cat >"$tmp/deb-want" <<FILES
./usr/sbin/vrxpr
./usr/share/doc/vrxpr/README.ja.md.gz
./usr/share/doc/vrxpr/README.md.gz
./usr/share/doc/vrxpr/changelog.gz
./usr/share/doc/vrxpr/copyright
./usr/share/man/ja/man8/vrxpr.8.gz
./usr/share/man/man8/vrxpr.8.gz
FILES
check "the .deb holds the command, its manual pages, both READMEs and copyright" \
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
gzip -dc "$tmp/root/usr/share/man/ja/man8/vrxpr.8.gz" >"$tmp/vrxpr.ja.8"
check "the Japanese manual page is UTF-8 and passes mandoc -T lint" \
    bash -c "iconv -f UTF-8 -t UTF-8 '$tmp/vrxpr.ja.8' >/dev/null && grep -q '^\.SH 名前' '$tmp/vrxpr.ja.8' &&
             mandoc -T lint -W warning '$tmp/vrxpr.ja.8'"
check "the Japanese manual page is section 8 of version $version" \
    grep -q "^\.TH VRXPR 8 .*\"vrxpr $version\"" "$tmp/vrxpr.ja.8"

# --- the Windows zip ------------------------------------------------------------
unzip -Z1 "$zip" | sort >"$tmp/zip-files"
printf '%s\n' README-ja.txt README.txt SHA256SUMS x64/vrxpr.exe x86/vrxpr.exe >"$tmp/zip-want"
check "the zip holds both .exe files, README.txt, README-ja.txt and SHA256SUMS" \
    diff -u "$tmp/zip-want" "$tmp/zip-files"
mkdir "$tmp/zip"
unzip -q "$zip" -d "$tmp/zip"
check "SHA256SUMS matches the files" bash -c "cd '$tmp/zip' && sha256sum --quiet -c SHA256SUMS"
check "SHA256SUMS lists every other file of the zip" \
    bash -c "diff <(grep -v SHA256SUMS '$tmp/zip-want') <(awk '{print \$2}' '$tmp/zip/SHA256SUMS' | sort)"
check "README.txt has CR LF line ends only" \
    bash -c "[ -s '$tmp/zip/README.txt' ] && ! grep -q \$'[^\r]\$' '$tmp/zip/README.txt' && ! grep -q '^\$' '$tmp/zip/README.txt'"

check "README-ja.txt is README.ja.md in UTF-8 with a byte-order mark and CR LF line ends" \
    bash -c "cmp <(printf '\\357\\273\\277'; sed 's/\$/\r/' README.ja.md) '$tmp/zip/README-ja.txt' &&
             iconv -f UTF-8 -t UTF-8 '$tmp/zip/README-ja.txt' >/dev/null &&
             ! grep -q \$'[^\r]\$' '$tmp/zip/README-ja.txt' && ! grep -q '^\$' '$tmp/zip/README-ja.txt'"
/usr/bin/python3 tests/package/check-ja-messages.py src/operator/catalogue.cpp "$tmp/zip/README-ja.txt" \
    >"$tmp/ja-messages" 2>&1
jrc=$?
cat "$tmp/ja-messages"
check "README-ja.txt quotes every warning and error as the Japanese catalogue prints it" test "$jrc" -eq 0

for arch in x64 x86; do
    /usr/bin/python3 "$root/tests/package/check-pe.py" "$tmp/zip/$arch/vrxpr.exe" "$arch" "$version" \
        >"$tmp/pe-$arch" 2>&1
    prc=$?
    cat "$tmp/pe-$arch"
    check "$arch/vrxpr.exe: requires administrator, names its version and itself" test "$prc" -eq 0
done

# --- the same commit gives the same bytes, in any time zone ------------------------
# Two clones of HEAD, packaged in UTC and in Tokyo; the run above serves as
# the UTC one when this tree has nothing uncommitted.
head=$(git rev-parse HEAD)
package_clone() {  # dir TZ
    git clone -q "$root" "$1" && git -C "$1" checkout -q --detach "$head" &&
        (cd "$1" && TZ=$2 bash tools/package.sh >"$1.log" 2>&1) ||
        { tail -n 30 "$1.log"; return 1; }
}
if [ -z "$(git status --porcelain)" ]; then
    utc=$root
else
    echo "uncommitted changes: packaging a second clone of $head"
    utc=$tmp/clone-utc
    package_clone "$utc" UTC || utc=
fi
package_clone "$tmp/clone-tokyo" Asia/Tokyo || utc=
if [ -n "$utc" ]; then
    (cd "$utc/dist" && sha256sum -- *) | sed 's/^/  UTC:        /'
    (cd "$tmp/clone-tokyo/dist" && sha256sum -- *) | sed 's/^/  Asia\/Tokyo: /'
    check "two clones of HEAD packaged with TZ=UTC and TZ=Asia/Tokyo give the same .deb" \
        cmp "$utc/$deb" "$tmp/clone-tokyo/$deb"
    check "two clones of HEAD packaged with TZ=UTC and TZ=Asia/Tokyo give the same .zip" \
        cmp "$utc/$zip" "$tmp/clone-tokyo/$zip"
else
    check "two clones of HEAD are packaged" false
fi
finish
