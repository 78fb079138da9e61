#!/bin/bash
# Builds the test port driver (x86_64: it runs in the 64-bit winedevice.exe
# whatever the caller's bitness), its companion portfeed.exe, and the
# portshift.so preload for both Wine loaders, where LD_PRELOAD's $LIB finds
# them (OUTDIR/lib/x86_64-linux-gnu, OUTDIR/lib/i386-linux-gnu), into OUTDIR.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
cc=x86_64-w64-mingw32-gcc-win32
flags="-std=c11 -O2 -Wall -Wextra -Werror"
$cc $flags -I/usr/share/mingw-w64/include/ddk -ffreestanding -fno-stack-protector \
    -shared -nostdlib -Wl,--subsystem,native -Wl,--entry,DriverEntry \
    -o "$out/portdrv.sys" "$here/portdrv.c" -lntoskrnl
$cc $flags -static -o "$out/portfeed.exe" "$here/portfeed.c"
for abi in "x86_64-linux-gnu:-m64" "i386-linux-gnu:-m32"; do
    mkdir -p "$out/lib/${abi%%:*}"
    gcc ${abi#*:} $flags -fPIC -shared -nostdlib -o "$out/lib/${abi%%:*}/portshift.so" "$here/portshift.c"
done
