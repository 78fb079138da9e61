#!/bin/bash
# Benchmark in the real-kernel guest: vrxpr -d over 64 managed LUs seen
# through two hosts against a shell loop of sg_persist, and the full drive
# scan of a run that finds no LU. Prints the figures with date and machine.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
cache=${VRXPR_GUEST_CACHE:-$here/cache}
export VRXPR_GUEST_CACHE=$cache
mkdir -p "$cache"

"$here/fetch.sh" >/dev/null
kver=$(cat "$cache/kernel.release")
exe=${VRXPR_EXE:-}
if [ -z "$exe" ]; then
    cmake -S "$repo" -B "$cache/build" -DVRXPR_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$cache/build" --target vrxpr -j2 >/dev/null
    exe=$cache/build/vrxpr
fi
img=$cache/bench-initrd.img
"$here/mkinitrd.sh" "$img" "$here/guest-bench.sh" "$exe"

log=$cache/bench.log
timeout 1800 qemu-system-x86_64 -accel tcg -smp 1 -m 512M -nographic -no-reboot \
    -kernel "$cache/kernel/boot/vmlinuz-$kver" -initrd "$img" \
    -append "console=ttyS0 panic=-1 quiet" </dev/null 2>&1 | tr -d '\r' >"$log"

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores, $(free -g | awk '/Mem:/ { print $2 }') GiB; guest: QEMU TCG, 1 vCPU, kernel $kver"
grep '^BENCH' "$log" || { echo "bench.sh: no figures; see $log" >&2; exit 1; }
! grep -q '^BENCH-ERROR' "$log"
