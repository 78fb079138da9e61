#!/bin/bash
# Builds the guest's initramfs: busybox, sg3-utils, kmod, strace, the utility and
# the SCSI target modules, with a guest script run by /init.
# Usage: mkinitrd.sh OUT.img GUEST-SCRIPT VRXPR-EXE [MORE-EXE...]
# (more executables go into /usr/bin under their own names)
# VRXPR-EXE "-" packs no utility; VRXPR_GUEST_MODULES names further modules
# (with their dependencies) to load at boot. scsi_debug is packed too, for
# the guest script to load with parameters of its own (load_module).
set -euo pipefail

out=$1
script=$2
exe=$3
here=$(cd "$(dirname "$0")" && pwd)
cache=${VRXPR_GUEST_CACHE:-$here/cache}
kver=$(cat "$cache/kernel.release")
kroot=$cache/kernel
user=$cache/userland
modules="configfs scsi_common scsi_mod sd_mod sg target_core_mod target_core_file tcm_loop ${VRXPR_GUEST_MODULES:-}"
packed_only="scsi_debug"

stage=$(mktemp -d "$cache/stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
# mktemp's 0700 would become the guest's /, closed to any user but root.
chmod 755 "$stage"
# LIO keeps reservation state under db_root (/etc/target when it exists, else
# /var/target); a PR OUT that cannot write it ends in NOT READY.
mkdir -p "$stage"/{bin,sbin,usr/bin,usr/sbin,lib64,lib/x86_64-linux-gnu,proc,sys,dev,tmp,run,var/target/pr,etc/target/pr,guest}

cp "$user/bin/busybox" "$stage/bin/busybox"
ln -s busybox "$stage/bin/sh"

# A binary and the shared libraries it loads, at the paths the loader
# looks in.
add_binary() {
    local src=$1 dest=$2
    cp "$src" "$stage$dest"
    chmod 755 "$stage$dest"
    LD_LIBRARY_PATH="$user/usr/lib/x86_64-linux-gnu:$user/lib/x86_64-linux-gnu" ldd "$src" |
    while read -r a b c _; do
        local lib=
        if [ "$b" = "=>" ] && [ -n "$c" ] && [ "${c#/}" != "$c" ]; then
            lib=$c
        elif [ "${a#/}" != "$a" ]; then
            lib=$a
        fi
        [ -n "$lib" ] || continue
        case $lib in
            */ld-linux-x86-64.so.2) cp -L "$lib" "$stage/lib64/ld-linux-x86-64.so.2" ;;
            *) cp -L "$lib" "$stage/lib/x86_64-linux-gnu/$(basename "$lib")" ;;
        esac
    done
}

for tool in sg_persist sg_turs sg_inq sg_readcap strace; do
    add_binary "$user/usr/bin/$tool" "/usr/bin/$tool"
done
add_binary "$user/bin/kmod" /bin/kmod
[ "$exe" = - ] || add_binary "$exe" /usr/bin/vrxpr
for more in "${@:4}"; do
    add_binary "$more" "/usr/bin/$(basename "$more")"
done

# The modules in load order, as the kernel's own dependency data gives it;
# those only packed come last and are not listed for boot.
: > "$stage/guest/modules.order"
for m in $modules - $packed_only; do
    if [ "$m" = - ]; then echo -; continue; fi
    modprobe -d "$kroot" -S "$kver" --show-depends "$m" | awk '$1 == "insmod" { print $2 }'
done | awk '!seen[$0]++' | while read -r path; do
    if [ "$path" = - ]; then boot=no; continue; fi
    rel=${path#"$kroot"}
    mkdir -p "$stage$(dirname "$rel")"
    case $path in
        *.ko.xz) xz -dc "$path" > "$stage${rel%.xz}"; rel=${rel%.xz} ;;
        *.ko.zst) zstd -qdc "$path" > "$stage${rel%.zst}"; rel=${rel%.zst} ;;
        *.ko.gz) gzip -dc "$path" > "$stage${rel%.gz}"; rel=${rel%.gz} ;;
        *) cp "$path" "$stage$rel" ;;
    esac
    [ "${boot:-yes}" = no ] || echo "$rel" >> "$stage/guest/modules.order"
done
cp "$kroot/lib/modules/$kver/modules.order" "$kroot/lib/modules/$kver/modules.builtin" \
    "$kroot/lib/modules/$kver/modules.builtin.modinfo" \
    "$stage/lib/modules/$kver/" 2>/dev/null || true
depmod -b "$stage" "$kver"

cp "$here/guest-lib.sh" "$stage/guest/lib.sh"
cp "$here/guest-wide.sh" "$stage/guest/wide.sh"
cp "$here/guest-changed.sh" "$stage/guest/changed.sh"
cp "$script" "$stage/guest/run.sh"

cat > "$stage/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s
export PATH=/usr/bin:/bin:/usr/sbin:/sbin
export LD_LIBRARY_PATH=/lib/x86_64-linux-gnu
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
while read -r m; do
    insmod "$m" || echo "GUEST-FAIL: insmod $m"
done < /guest/modules.order
mount -t configfs configfs /sys/kernel/config
cd /tmp
echo "GUEST-BEGIN"
sh /guest/run.sh
echo "GUEST-END"
sync
poweroff -f
INIT
chmod 755 "$stage/init"

(cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) > "$out"
