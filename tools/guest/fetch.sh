#!/bin/bash
# Fetches the guest's kernel and userland as Debian packages into the cache
# and unpacks them. Idempotent: what is already there is kept.
# Prints the cache's kernel release on its last line.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${VRXPR_GUEST_CACHE:-$here/cache}
mkdir -p "$cache/debs"

ensure_lists() {
    if ! apt-cache show linux-image-cloud-amd64 >/dev/null 2>&1; then
        apt-get update -qq >&2
    fi
}

# The cloud kernel: small and boots quickly under TCG.
kernel_pkg() {
    apt-cache depends linux-image-cloud-amd64 2>/dev/null |
        awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}

sgutils_lib_pkg() {
    apt-cache depends sg3-utils 2>/dev/null | awk '/Depends: libsgutils2/ { print $2; exit }'
}

fetch() {
    local pkg=$1
    if ! ls "$cache/debs/${pkg}_"*.deb >/dev/null 2>&1; then
        (cd "$cache/debs" && apt-get download "$pkg") >&2
    fi
}

if [ ! -f "$cache/kernel.release" ]; then
    ensure_lists
    kpkg=$(kernel_pkg)
    [ -n "$kpkg" ] || { echo "fetch.sh: no cloud kernel package found" >&2; exit 1; }
    fetch "$kpkg"
    rm -rf "$cache/kernel"
    mkdir -p "$cache/kernel"
    dpkg-deb -x "$cache/debs/${kpkg}_"*.deb "$cache/kernel"
    kver=$(ls "$cache/kernel/lib/modules" | head -n1)
    depmod -b "$cache/kernel" "$kver"
    echo "$kver" > "$cache/kernel.release"
fi

# strace and the iSCSI target and initiator came later: a cache without
# them is fetched again.
if [ ! -f "$cache/userland.done" ] || [ ! -x "$cache/userland/usr/bin/strace" ] ||
    [ ! -x "$cache/userland/usr/sbin/tgtd" ]; then
    ensure_lists
    libpkg=$(sgutils_lib_pkg)
    rm -rf "$cache/userland"
    mkdir -p "$cache/userland"
    # tgt and open-iscsi with the libraries their programs load; the
    # host may lack them.
    for pkg in busybox-static sg3-utils "$libpkg" kmod libkmod2 strace libunwind8 \
        tgt libaio1 libibverbs1 librdmacm1 libnl-3-200 libnl-route-3-200 \
        open-iscsi libisns0 libopeniscsiusr; do
        fetch "$pkg"
        dpkg-deb -x "$cache/debs/${pkg}_"*.deb "$cache/userland"
    done
    touch "$cache/userland.done"
fi

cat "$cache/kernel.release"
