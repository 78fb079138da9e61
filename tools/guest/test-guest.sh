#!/bin/bash
# The real-kernel test: boots a Debian cloud kernel under QEMU whose SCSI
# target (LIO over tcm_loop) serves LUs of managed and unmanaged models,
# runs guest-test.sh inside it and checks the report from its console; then
# a second boot runs guest-iscsi.sh against tgtd over iSCSI on loopback.
# Needs the packages of tools/deps/guest.txt; fetches the guest's own
# packages into tools/guest/cache. VRXPR_EXE overrides the utility built.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
cache=${VRXPR_GUEST_CACHE:-$here/cache}
export VRXPR_GUEST_CACHE=$cache
mkdir -p "$cache"
log=$cache/test-guest.log

give_up() {
    echo "test-guest.sh: $*" >&2
    echo "guest: 0 passed, 1 failed"
    exit 1
}

for tool in qemu-system-x86_64 depmod modprobe cpio dpkg-deb apt-get gzip cmake gcc; do
    command -v $tool >/dev/null || give_up "missing $tool (tools/deps/guest.txt)"
done

"$here/fetch.sh" >/dev/null || give_up "fetching the guest's packages failed"
kver=$(cat "$cache/kernel.release")

exe=${VRXPR_EXE:-}
if [ -z "$exe" ]; then
    cmake -S "$repo" -B "$cache/build" -DVRXPR_TESTS=OFF -DCMAKE_BUILD_TYPE=Release -DVRXPR_WERROR=ON \
        >"$cache/build.log" 2>&1 &&
        cmake --build "$cache/build" --target vrxpr -j2 >>"$cache/build.log" 2>&1 ||
        { tail -30 "$cache/build.log" >&2; give_up "building vrxpr failed"; }
    exe=$cache/build/vrxpr
fi

img=$cache/test-initrd.img
"$here/mkinitrd.sh" "$img" "$here/guest-test.sh" "$exe" || give_up "building the initramfs failed"

boot() {  # initrd log memory
    local start
    start=$(date +%s)
    timeout 900 qemu-system-x86_64 -accel tcg -smp 1 -m $3 -nographic -no-reboot \
        -kernel "$cache/kernel/boot/vmlinuz-$kver" -initrd "$1" \
        -append "console=ttyS0 panic=-1 quiet" </dev/null 2>&1 | tr -d '\r' >"$2"
    echo "guest ran $(( $(date +%s) - start )) s; console log in $2"
}
# The 800 SCSI devices of the scale case take about 450 MB of the guest.
boot "$img" "$log" 1024M

# tgtd and the iSCSI initiator, with the relay that holds a command back.
user=$cache/userland
gcc -O2 -Wall -Wextra -Werror -o "$cache/hold" "$here/hold.c" || give_up "building hold.c failed"
iimg=$cache/iscsi-initrd.img
ilog=$cache/test-guest-iscsi.log
VRXPR_GUEST_MODULES=iscsi_tcp "$here/mkinitrd.sh" "$iimg" "$here/guest-iscsi.sh" "$exe" \
    "$cache/hold" "$user/usr/sbin/tgtd" "$user/usr/sbin/tgtadm" "$user/sbin/iscsid" \
    "$user/sbin/iscsiadm" "$user/usr/bin/sg_raw" "$user/usr/bin/sg_reset" ||
    give_up "building the iSCSI initramfs failed"
boot "$iimg" "$ilog" 512M

. "$here/host-lib.sh"
guest_console_report guest "$log" "$ilog"
