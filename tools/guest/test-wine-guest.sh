#!/bin/bash
# vrxpr.exe, x86_64 and i686, under Wine inside the QEMU guest of the
# real-kernel test, against LIO LUs: the guest shares this machine's
# userland (Wine, a prefix made here, the builds) read-only through
# virtiofs under a tmpfs overlay; Wine's own pass-through reaches the LUs
# through dosdevices links, and a test port driver (tests/platform/win/
# portdrv) supplies the \\.\ScsiN: port Wine lacks, as port 12. wine-guest-test.sh
# is the guest's side.
#
#   VRXPR_WINEGUEST_DIR  builds, prefix, initramfs and logs
#                        (default: build-wineguest in the repository)
#
# Ends with one line: "wineguest: N passed, M failed, K skipped", each
# skipped test named before it on a line "skipped: NAME: reason".
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
dir=${VRXPR_WINEGUEST_DIR:-$repo/build-wineguest}
cache=${VRXPR_GUEST_CACHE:-$here/cache}
export VRXPR_GUEST_CACHE=$cache
mkdir -p "$dir" "$cache"
log=$dir/console.log

. "$here/host-lib.sh"

give_up() {
    echo "test-wine-guest.sh: $*" >&2
    echo "wineguest: 0 passed, 1 failed"
    exit 1
}

# --- packages -----------------------------------------------------------------
. "$repo/tools/apt-lib.sh"
bash "$repo/tools/install-deps.sh" "$repo/tools/deps/wineguest.txt" >"$dir/apt.log" 2>&1 ||
    give_up "installing tools/deps/wineguest.txt failed (see $dir/apt.log)"
apt_wine32 >>"$dir/apt.log" 2>&1 || give_up "installing wine32:i386 failed (see $dir/apt.log)"
[ -x /usr/lib/qemu/virtiofsd ] || give_up "no /usr/lib/qemu/virtiofsd (qemu-system-common)"

# The prefix needs its 32-bit half, made by the 32-bit loader; a kernel
# without 32-bit support runs that through qemu-user (the guest's kernel
# runs it natively).
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
if [ -z "$WINE32_SKIP" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    mountpoint -q /proc/sys/fs/binfmt_misc ||
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null
    if [ ! -e /proc/sys/fs/binfmt_misc/vrxpr-i386 ] && [ -w /proc/sys/fs/binfmt_misc/register ]; then
        printf '%s' ':vrxpr-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            >/proc/sys/fs/binfmt_misc/register 2>/dev/null
    fi
    /usr/lib/wine/wine --version >/dev/null 2>&1 || give_up "the 32-bit Wine loader cannot start here"
fi

"$here/fetch.sh" >/dev/null || give_up "fetching the guest's packages failed"
kver=$(cat "$cache/kernel.release")

# --- builds -----------------------------------------------------------------------
build() { # arch folder
    cmake -S "$repo" -B "$dir/$2" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$1.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRXPR_WERROR=ON >"$dir/$2.log" 2>&1 &&
        cmake --build "$dir/$2" --target vrxpr -j"$(nproc)" >>"$dir/$2.log" 2>&1 ||
        give_up "the $1 build failed (see $dir/$2.log)"
}
build x86_64 win64
build i686 win32
"$repo/tests/platform/win/portdrv/build.sh" "$dir/drv" >"$dir/drv.log" 2>&1 ||
    give_up "building the port driver failed (see $dir/drv.log)"
for arch in x86_64 i686; do
    $arch-w64-mingw32-gcc-win32 -std=c11 -O2 -Wall -Wextra -Werror -municode -static \
        -o "$dir/drv/withcp-$arch.exe" "$repo/tests/platform/win/withcp.c" >>"$dir/drv.log" 2>&1 ||
        give_up "building withcp.exe ($arch) failed (see $dir/drv.log)"
done

# --- the prefix: made here once, used in the guest under its overlay --------
prefix=$dir/prefix
# A prefix made without the 32-bit Wine has no 32-bit half.
ready=wow64=yes
[ -z "$WINE32_SKIP" ] || ready=wow64=no
if [ "$(cat "$prefix/.vrxpr-ready" 2>/dev/null)" != "$ready" ]; then
    rm -rf "$prefix"
    t0=$(date +%s)
    env WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" \
        DISPLAY= timeout 1200 "$WINE" wineboot -i </dev/null >"$dir/wineboot.log" 2>&1 &&
        env WINEPREFIX="$prefix" timeout 600 "$WINESERVER" -w ||
        give_up "making the Wine prefix failed (see $dir/wineboot.log)"
    echo "$ready" >"$prefix/.vrxpr-ready"
    echo "Wine prefix made in $(($(date +%s) - t0)) s"
fi

# --- the guest ------------------------------------------------------------------
run=$dir/guest-run.sh
{
    echo "PREFIX=$prefix"
    echo "EXE64=$dir/win64/vrxpr.exe"
    echo "EXE32=$dir/win32/vrxpr.exe"
    echo "DRV=$dir/drv"
    echo "I686_RUNS=$([ -z "$WINE32_SKIP" ] && echo yes || echo no)"
    cat "$here/wine-guest-test.sh"
} >"$run"
img=$dir/initrd.img
VRXPR_GUEST_MODULES="virtio_pci virtiofs overlay" "$here/mkinitrd.sh" "$img" "$run" - ||
    give_up "building the initramfs failed"

sock=$dir/virtiofs.sock
rm -f "$sock"
/usr/lib/qemu/virtiofsd --socket-path="$sock" -o source=/ -o cache=always -o sandbox=chroot \
    >"$dir/virtiofsd.log" 2>&1 &
vfs=$!
trap 'kill $vfs 2>/dev/null' EXIT
for _ in $(seq 1 100); do [ -S "$sock" ] && break; sleep 0.1; done
[ -S "$sock" ] || { kill $vfs 2>/dev/null; give_up "virtiofsd did not start (see $dir/virtiofsd.log)"; }

start=$(date +%s)
# -cpu max would need -smap: Wine's processes die on SMAP under TCG.
timeout 1200 qemu-system-x86_64 -accel tcg -smp 2 -m 2048M -nographic -no-reboot \
    -object memory-backend-memfd,id=mem,size=2048M,share=on -numa node,memdev=mem \
    -chardev socket,id=vfs,path="$sock" -device vhost-user-fs-pci,queue-size=1024,chardev=vfs,tag=host \
    -kernel "$cache/kernel/boot/vmlinuz-$kver" -initrd "$img" \
    -append "console=ttyS0 panic=-1 quiet" </dev/null 2>&1 | tr -d '\r' >"$log"
echo "guest ran $(($(date +%s) - start)) s wall; console log in $log"
kill $vfs 2>/dev/null
wait $vfs 2>/dev/null
rm -f "$sock"

[ -z "$WINE32_SKIP" ] || GUEST_SKIPS+=("i686 runs under Wine in the guest: wine32:i386 cannot be installed: $WINE32_SKIP")
guest_console_report wineguest "$log"
