#!/bin/bash
# Benchmark in the real-kernel guest: vrxpr -d against the floor program
# (floor.c: the work no lister can avoid, in one process) and against its
# commands alone, at 128 and at 800 LU paths, with two targets per host and
# with one, one guest run each, and the full drive scan of a run that finds
# no LU. Prints the figures with date and machine.
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
    cmake -S "$repo" -B "$cache/build" -DVRXPR_TESTS=OFF -DCMAKE_BUILD_TYPE=Release -DVRXPR_WERROR=ON >/dev/null
    cmake --build "$cache/build" --target vrxpr -j2 >/dev/null
    exe=$cache/build/vrxpr
fi
floor=$cache/floor
gcc -O2 -Wall -Wextra -Werror -o "$floor" "$here/floor.c"
img=$cache/bench-initrd.img
"$here/mkinitrd.sh" "$img" "$here/guest-bench.sh" "$exe" "$floor"

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores, $(free -g | awk '/Mem:/ { print $2 }') GiB; guest: QEMU TCG, 1 vCPU, 1 GB, kernel $kver"
status=0
for layout in ${BENCH_LAYOUTS:-two one}; do
    for lus in ${BENCH_SIZES:-64 400}; do
        log=$cache/bench-$layout-$lus.log
        # Unknown words of the kernel command line reach /init as variables.
        timeout 1800 qemu-system-x86_64 -accel tcg -smp 1 -m 1024M -nographic -no-reboot \
            -kernel "$cache/kernel/boot/vmlinuz-$kver" -initrd "$img" \
            -append "console=ttyS0 panic=-1 quiet BENCH_LUS=$lus BENCH_LAYOUT=$layout" </dev/null 2>&1 |
            tr -d '\r' >"$log"
        grep -E '^(BENCH|floor:)' "$log" || { echo "bench.sh: no figures; see $log" >&2; status=1; }
        grep -q '^BENCH-ERROR' "$log" && status=1
    done
done
exit $status
