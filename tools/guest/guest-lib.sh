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

# Takes LUN L away from target W; its SCSI device goes with it.
unexport_lu() {
    local t=$T/loopback/$1/tpgt_1
    rm "$t/lun/lun_$2/port_$2"
    rmdir "$t/lun/lun_$2"
}

# A module packed into the guest but not loaded at boot, with parameters
# (a value with spaces in double quotes inside one argument).
load_module() {
    local m=$1
    shift
    insmod "$(find /lib/modules -name "$m.ko" | head -n1)" "$@"
}

target_host() {
    local a
    a=$(cat "$T/loopback/$1/tpgt_1/address")
    echo "${a%%:*}"
}

# The sg device of host H, LUN L (channel 0, target 1 on tcm_loop).
sg_of() {
    node_of "$1" "$2" scsi_generic/sg -c
}

# The /dev node of host H, LUN L under the device's CLASS/PREFIX folder in
# sysfs, once udev-less devtmpfs has made it (TEST: -c or -b).
node_of() {
    local i d
    for i in $(seq 1 100); do
        for d in /sys/bus/scsi/devices/$1:0:1:$2/$3*; do
            if [ -e "$d" ] && [ "$4" "/dev/${d##*/}" ]; then
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

# Waits until process $1 blocks reading its standard input.
wait_for_prompt() {
    local i s
    for i in $(seq 1 300); do
        read -r s < /proc/$1/syscall 2>/dev/null
        case $s in "0 0x0 "*) return 0 ;; esac
        sleep 0.1
    done
    return 1
}

# ---- many LUs -------------------------------------------------------------
# A host's LUs beyond MANY_PER_TARGET go to a second target (TPG) of the
# same SCSI host; the bench also lays them all on one target (LUNs 0 to N-1).
MANY_PER_TARGET=${MANY_PER_TARGET:-200}

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
    node_of "$1" "$2" block/sd -b
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
    # The host's /tmp stays visible: the checkout may live there. Writes
    # land in the overlay's tmpfs all the same.
}

# The catalogue texts the guest scripts expect, with the line end given
# (printf escapes: '\n', or '\r\n' for vrxpr.exe under Wine).
define_messages() {
    MSG_EOL=$1
    M0="ROVT10640-I The vrxpr utility completed normally.$MSG_EOL"
    M5="ROVT10651-I The user terminated the operation.$MSG_EOL"
    M6='ROVT10653-W The entered value is invalid. Please re-enter it [y/n]:'
    M7="ROVT10652-E The entered value is invalid. The operation will now stop.$MSG_EOL"
    M8='ROVT10655-I Specify the PathID of the LU for which you want to clear persistent reservation information. (To cancel, press the x key):'
    M10='ROVT10657-I If you continue this process, the reservation of the LU you specified will be cleared. Please confirm that no other servers are accessing this LU. [y/n]:'
    M16='ROVT10663-W The input value is invalid. Specify the PathID of the LU for you want to clear persistent reservation information. (To cancel: press the x key):'
}
m9() { printf 'ROVT10656-I The persistent reservation information of PathID = %s will be cleared. Is this OK? [y/n]:' "$1"; }
m11() { printf "ROVT10658-I The persistent reservation information of PathID = %s was cleared.$MSG_EOL" "$1"; }
m14() {  # status error LU [code]
    printf "ROVT10661-E The SCSI command failed. SCSI Code=0x%s, Service Action = 0x0, Status Code = 0x%x, Error Code = 0x%x, LU = %s$MSG_EOL" "${4:-5e}" "$1" "$2" "$3"
}
m20() { printf "ROVT10667-C An attempt to the get physical drive number failed. LU = %s$MSG_EOL" "$1"; }
m24() { printf "ROVT10670-E The persistent reservation information of PathID = %s changed after it was listed. Nothing was cleared. Run the utility again to see the LU as it is now.$MSG_EOL" "$1"; }

# Checks shared by the guest scripts; CHECK_TAG, when set, starts each name.
detail() { sed 's/^/  | /'; }

check_report() {  # ok name
    if [ "$1" = 1 ]; then report_pass "${CHECK_TAG:+$CHECK_TAG }$2"; else report_fail "${CHECK_TAG:+$CHECK_TAG }$2"; fi
}

# /tmp/out, /tmp/rc and /tmp/err of the last run against the expected
# output (byte for byte) and exit code; nothing on standard error.
check_run() {  # name expected rc
    local ok=1
    if ! cmp -s "$2" /tmp/out; then
        ok=0
        echo "$1: output differs (expected, then got):"
        od -c "$2" | detail
        od -c /tmp/out | detail
    fi
    if [ "$(cat /tmp/rc)" != "$3" ]; then
        ok=0
        echo "$1: exit code $(cat /tmp/rc), expected $3"
    fi
    if [ -s /tmp/err ]; then
        ok=0
        echo "$1: standard error:"
        detail < /tmp/err
    fi
    check_report $ok "$1"
}

check_value() {  # name expected actual
    local ok=1
    if [ "$2" != "$3" ]; then
        ok=0
        echo "$1: expected '$2', got '$3'"
    fi
    check_report $ok "$1"
}

states() { local d; for d in "$@"; do pr_state $d; done; }

check_same() {  # name before after
    local ok=1
    if ! cmp -s "$2" "$3"; then
        ok=0
        echo "$1: reservation state changed (before, then after):"
        detail < "$2"
        detail < "$3"
    fi
    check_report $ok "$1"
}

check_cleared() {  # name dev
    local keys resv ok=1
    keys=$(persist --in --read-keys $2)
    resv=$(persist --in --read-reservation $2)
    if ! echo "$keys" | grep -q 'there are NO registered reservation keys' ||
        ! echo "$resv" | grep -q 'there is NO reservation held'; then
        ok=0
        echo "$1: still registered or reserved:"
        echo "$keys" | detail
        echo "$resv" | detail
    fi
    check_report $ok "$1"
}

# The clears the operator cancels or leaves: x, n at either confirmation
# and end of input at the second confirmation (for PathID P, which has
# keys), and end of input at the PathID prompt. Takes the caller's
# run_vrxpr, its message texts M5 to M16 and m9, and the listing LIST the
# runs print first.
check_cancels() {  # listing pathid
    run_vrxpr 'x\n' -c
    { echo "$1"; printf "$M8$M5"; } > /tmp/expected
    check_run "clear cancelled with x at the PathID prompt" /tmp/expected 1
    run_vrxpr "$2\\nn\\n" -c
    { echo "$1"; printf "$M8"; m9 $2; printf "$M5"; } > /tmp/expected
    check_run "clear cancelled with n at the first confirmation" /tmp/expected 1
    run_vrxpr "$2\\ny\\nn\\n" -c
    { echo "$1"; printf "$M8"; m9 $2; printf "$M10$M5"; } > /tmp/expected
    check_run "clear cancelled with n at the second confirmation" /tmp/expected 1
    run_vrxpr '' -c
    { echo "$1"; printf "$M8$M16$M16$M7"; } > /tmp/expected
    check_run "clear stopped by end of input" /tmp/expected 3
    run_vrxpr "$2\\ny\\n" -c
    { echo "$1"; printf "$M8"; m9 $2; printf "$M10$M6$M6$M7"; } > /tmp/expected
    check_run "clear stopped by end of input at the second confirmation" /tmp/expected 3
}
