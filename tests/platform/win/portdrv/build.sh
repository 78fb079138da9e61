#!/bin/bash
# Builds the test port driver (x86_64: it runs in the 64-bit winedevice.exe
# whatever the caller's bitness) and its companion portfeed.exe into OUTDIR.
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
