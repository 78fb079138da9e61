# Helpers for the guest scripts: LIO through configfs, tcm_loop hosts,
# sg_persist as the other cluster node, and the report on the console.
T=/sys/kernel/config/target

report_pass() { echo "GUEST-PASS: $1"; }
report_fail() { echo "GUEST-FAIL: $1"; }

# A RAM-backed LU with the given INQUIRY identity. The identity is fixed
# once the LU is exported, so it is set first.
make_lu() {
    local d=$T/core/rd_mcp_0/$1
    mkdir -p "$d"
    echo "rd_pages=${5:-64}" > "$d/control"
    echo 1 > "$d/enable"
    echo -n "$2" > "$d/wwn/vendor_id"
    echo -n "$3" > "$d/wwn/product_id"
    echo -n "$4" > "$d/wwn/vpd_unit_serial"
}

# A loopback target: one SCSI host with its own I_T nexus.
make_target() {
    mkdir -p "$T/loopback/$1/tpgt_1"
    echo "$2" > "$T/loopback/$1/tpgt_1/nexus"
}

export_lu() {
    local t=$T/loopback/$1/tpgt_1
    mkdir "$t/lun/lun_$2"
    ln -s "$T/core/rd_mcp_0/$3" "$t/lun/lun_$2/port_$2"
}

target_host() {
    local a
    a=$(cat "$T/loopback/$1/tpgt_1/address")
    echo "${a%%:*}"
}

# The sg device of host H, LUN L (channel 0, target 1 on tcm_loop).
sg_of() {
    local i d
    for i in $(seq 1 100); do
        for d in /sys/bus/scsi/devices/$1:0:1:$2/scsi_generic/sg*; do
            if [ -e "$d" ] && [ -c "/dev/${d##*/}" ]; then
                echo "/dev/${d##*/}"
                return 0
            fi
        done
        sleep 0.1
    done
    return 1
}

# A fresh sg device answers UNIT ATTENTION first; take it out of the way.
settle() {
    local i
    for i in $(seq 1 20); do
        sg_turs "$1" >/dev/null 2>&1 && return 0
    done
    return 1
}

# sg_persist as the other node, retried past a UNIT ATTENTION (exit 6).
persist() {
    local i rc
    for i in 1 2 3 4 5; do
        sg_persist "$@" >/tmp/persist.out 2>&1
        rc=$?
        [ $rc -ne 6 ] && break
    done
    cat /tmp/persist.out
    return $rc
}

# Everything sg_persist reads about an LU: keys, generation, reservation.
pr_state() {
    persist --in --read-keys "$1"
    persist --in --read-reservation "$1"
}

now_cs() {
    local up
    read -r up _ < /proc/uptime
    echo "${up%.*}${up#*.}"
}

# ---- many LUs -------------------------------------------------------------
# A LUN is one byte on the way to the utility, so a host's LUs beyond 200
# go to a second target (TPG) of the same SCSI host.
MANY_PER_TARGET=200

# N managed LUs named PREFIXi, exported in order through two SCSI hosts
# (loopback WWNs W1 and W2). Returns once every path has its sg device.
make_many() {
    local prefix=$1 n=$2 w i t
    i=0
    while [ $i -lt $n ]; do
        make_lu $prefix$i ZORBELT "TQ22-$prefix$i" S$prefix$i 16
        i=$((i + 1))
    done
    for w in $3 $4; do
        t=1
        while [ $(( (t - 1) * MANY_PER_TARGET )) -lt $n ]; do
            mkdir -p "$T/loopback/$w/tpgt_$t"
            echo "naa.60014050000000${w#"${w%?}"}$t" > "$T/loopback/$w/tpgt_$t/nexus"
            t=$((t + 1))
        done
        i=0
        while [ $i -lt $n ]; do
            t=$((i / MANY_PER_TARGET + 1))
            mkdir "$T/loopback/$w/tpgt_$t/lun/lun_$((i % MANY_PER_TARGET))"
            ln -s "$T/core/rd_mcp_0/$prefix$i" \
                "$T/loopback/$w/tpgt_$t/lun/lun_$((i % MANY_PER_TARGET))/port_$i"
            i=$((i + 1))
        done
    done
    wait_paths "$(target_host $3)" $n && wait_paths "$(target_host $4)" $n
}

# Waits until host H has N sg devices.
wait_paths() {
    local i
    for i in $(seq 1 600); do
        [ "$(ls -d /sys/bus/scsi/devices/$1:0:*/scsi_generic/sg* 2>/dev/null | wc -l)" -ge "$2" ] &&
            return 0
        sleep 0.1
    done
    return 1
}

# The sg device of LU number I of make_many through host H.
many_sg() {
    local d
    for d in /sys/bus/scsi/devices/$1:0:$(($2 / MANY_PER_TARGET + 1)):$(($2 % MANY_PER_TARGET))/scsi_generic/sg*; do
        echo "/dev/${d##*/}"
    done
}

# The block device of host H, LUN L (channel 0, target 1 on tcm_loop).
sd_of() {
    local i d
    for i in $(seq 1 100); do
        for d in /sys/bus/scsi/devices/$1:0:1:$2/block/sd*; do
            if [ -e "$d" ] && [ -b "/dev/${d##*/}" ]; then
                echo "/dev/${d##*/}"
                return 0
            fi
        done
        sleep 0.1
    done
    return 1
}

# Commands that reached an LU so far, over all its paths.
lu_cmds() {
    cat "$T/core/rd_mcp_0/$1/statistics/scsi_lu/num_cmds"
}

# The host's userland, shared read-only through virtiofs (tag TAG) under a
# tmpfs overlay at ROOT, with the guest's own kernel file systems inside:
# programs run there through chroot and what they write stays in memory.
mount_share() {
    local tag=$1 root=$2
    mkdir -p /share /rw "$root"
    mount -t virtiofs -o ro "$tag" /share || return 1
    mount -t tmpfs tmpfs /rw || return 1
    mkdir -p /rw/upper /rw/work
    mount -t overlay overlay -o lowerdir=/share,upperdir=/rw/upper,workdir=/rw/work "$root" ||
        return 1
    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"
    mount -t configfs configfs "$root/sys/kernel/config"
    mount -o bind /dev "$root/dev"
    mkdir -p "$root/dev/shm"
    mount -t tmpfs tmpfs "$root/dev/shm"
    mount -t tmpfs tmpfs "$root/tmp"
}
