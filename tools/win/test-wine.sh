#!/usr/bin/env bash
# Builds vrxpr.exe for x86_64 and i686 with MinGW-w64 and runs the Windows
# cases under Wine, headless, in a Wine prefix of the build's own.
#
#   VRXPR_WIN_BUILD_ROOT  folder for build-win64/, build-win32/ and the
#                         prefix (default: the repository root)
#   VRXPR_WINE_I686_CASES full or reduced for the i686 build (default: full
#                         when the kernel runs 32-bit programs, reduced when
#                         they go through qemu-user)
#
# Ends with one line: "wine: N passed, M failed, K skipped", each skipped
# test named before it on a line "skipped: NAME: reason".
set -u

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
ROOT=${VRXPR_WIN_BUILD_ROOT:-$REPO}
PREFIX_DIR=$ROOT/build-wine/prefix
WORK_ROOT=$ROOT/build-wine/work
RUN_TIMEOUT=${VRXPR_WINE_RUN_TIMEOUT:-600}

PASSED=0
FAILED=0
SKIPPED=0

log() { echo "== $*"; }

finish() {
    echo "wine: $PASSED passed, $FAILED failed, $SKIPPED skipped"
    [ "$FAILED" = 0 ] && [ "$PASSED" -gt 0 ]
    exit $?
}

setup_fail() {
    echo "FAIL [setup] $*"
    FAILED=$((FAILED + 1))
    finish
}

LOGS=$ROOT/build-wine
mkdir -p "$LOGS"

# --- packages ---------------------------------------------------------------
source "$REPO/tools/apt-lib.sh"
: >"$LOGS/apt.log"
missing=()
while read -r p; do
    [ -z "$p" ] || apt_has "$p" || missing+=("$p")
done < "$REPO/tools/deps/win.txt"
if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    { apt_update && apt_install "${missing[@]}"; } >>"$LOGS/apt.log" 2>&1 ||
        setup_fail "apt-get install ${missing[*]} (see $LOGS/apt.log)"
fi
WINE32_SKIP=
if [ "$(dpkg --print-architecture)" = amd64 ] && ! apt_has wine32:i386; then
    log "installing wine32:i386"
    apt_wine32 >>"$LOGS/apt.log" 2>&1 || setup_fail "installing wine32:i386 (see $LOGS/apt.log)"
fi

WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine)
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
WINE32=/usr/lib/wine/wine

# A kernel without 32-bit support (some virtual machines) cannot start the
# 32-bit Wine loader; qemu-user stands in for it through binfmt_misc.
I686_VIA=native
if [ -n "$WINE32_SKIP" ]; then
    I686_VIA=none
elif [ -e /proc/sys/fs/binfmt_misc/vrxpr-i386 ] || ! "$WINE32" --version >/dev/null 2>&1; then
    I686_VIA=qemu-user
    if [ -x /usr/bin/qemu-i386-static ]; then
        mountpoint -q /proc/sys/fs/binfmt_misc ||
            mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null
        if [ ! -e /proc/sys/fs/binfmt_misc/vrxpr-i386 ] && [ -w /proc/sys/fs/binfmt_misc/register ]; then
            printf '%s' ':vrxpr-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
                >/proc/sys/fs/binfmt_misc/register 2>/dev/null
        fi
    fi
    "$WINE32" --version >/dev/null 2>&1 || I686_VIA=none
fi
I686_CASES=${VRXPR_WINE_I686_CASES:-}
if [ -z "$I686_CASES" ]; then
    if [ "$I686_VIA" = native ]; then I686_CASES=full; else I686_CASES=reduced; fi
fi
[ -z "$WINE32_SKIP" ] || I686_CASES="static checks only"
log "32-bit Wine loader: $I686_VIA; i686 cases: $I686_CASES"

# --- builds -----------------------------------------------------------------
build() { # triplet-arch build-dir
    local arch=$1 dir=$2 out=$LOGS/build-$1.log
    log "building $dir ($arch)"
    cmake -S "$REPO" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRXPR_WERROR=ON >"$out" 2>&1 &&
        cmake --build "$dir" -j"$(nproc)" >>"$out" 2>&1
}
build x86_64 "$ROOT/build-win64" || setup_fail "x86_64 build (see $LOGS/build-x86_64.log)"
build i686 "$ROOT/build-win32" || setup_fail "i686 build (see $LOGS/build-i686.log)"
# The console cases' helper, one per architecture, as the program it starts.
for arch in x86_64 i686; do
    $arch-w64-mingw32-gcc-win32 -std=c11 -O2 -Wall -Wextra -Werror -municode -static \
        -o "$LOGS/withcp-$arch.exe" "$REPO/tests/platform/win/withcp.c" >"$LOGS/withcp-$arch.log" 2>&1 ||
        setup_fail "building withcp.exe ($arch, see $LOGS/withcp-$arch.log)"
done

# The Japanese user language for Wine, without installing a locale.
JA_LOCPATH=$LOGS/locale
if [ ! -f "$JA_LOCPATH/ja_JP.UTF-8/LC_CTYPE" ]; then
    mkdir -p "$JA_LOCPATH"
    localedef -i ja_JP -f UTF-8 "$JA_LOCPATH/ja_JP.UTF-8" >"$LOGS/localedef.log" 2>&1
    [ -f "$JA_LOCPATH/ja_JP.UTF-8/LC_CTYPE" ] || setup_fail "localedef ja_JP.UTF-8 (see $LOGS/localedef.log)"
fi

# --- the prefix -------------------------------------------------------------
export WINEPREFIX=$PREFIX_DIR
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY

stop_server() { timeout 60 "$WINESERVER" -k >/dev/null 2>&1; }
trap stop_server EXIT

# A prefix made without a working 32-bit loader has no 32-bit half.
want_stamp="wow64=$([ "$I686_VIA" = none ] && echo no || echo yes)"
if [ -d "$PREFIX_DIR" ] && [ "$(cat "$PREFIX_DIR/.vrxpr-stamp" 2>/dev/null)" != "$want_stamp" ]; then
    log "recreating the Wine prefix"
    stop_server
    rm -rf "$PREFIX_DIR"
fi
if [ ! -d "$PREFIX_DIR" ]; then
    log "creating the Wine prefix $PREFIX_DIR"
    mkdir -p "$(dirname "$PREFIX_DIR")"
    t0=$(date +%s)
    timeout 1200 "$WINE" wineboot -i </dev/null >"$ROOT/build-wine/wineboot.log" 2>&1 ||
        setup_fail "wineboot -i (see $ROOT/build-wine/wineboot.log)"
    timeout 600 "$WINESERVER" -w
    echo "$want_stamp" >"$PREFIX_DIR/.vrxpr-stamp"
    log "prefix ready in $(($(date +%s) - t0))s"
fi

# The server and its services must not hold the runs' output pipes.
"$WINESERVER" -p </dev/null >/dev/null 2>&1
timeout 300 "$WINE" cmd /c exit 0 </dev/null >/dev/null 2>&1

# --- the cases --------------------------------------------------------------
source "$REPO/tests/platform/win/wine-cases.sh"

for spec in "x86_64:build-win64:full" "i686:build-win32:$I686_CASES"; do
    IFS=: read -r ARCH dir CASES <<<"$spec"
    EXE=$ROOT/$dir/vrxpr.exe
    WITHCP=$LOGS/withcp-$ARCH.exe
    WORK=$WORK_ROOT/$ARCH
    mkdir -p "$WORK"
    if [ "$ARCH" = i686 ] && [ -n "$WINE32_SKIP" ]; then
        echo "skipped: i686 runs under Wine: wine32:i386 cannot be installed: $WINE32_SKIP"
        SKIPPED=$((SKIPPED + 1))
        # What needs no Wine still holds for the i686 build.
        case_imports
        case_alignment
        continue
    fi
    if [ "$ARCH" = i686 ] && [ "$I686_VIA" = none ]; then
        fail "i686 runs" "the 32-bit Wine loader cannot start on this machine"
        continue
    fi
    log "$ARCH: $EXE ($CASES)"
    run_wine_cases
done

finish
