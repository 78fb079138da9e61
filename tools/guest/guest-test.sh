# Runs inside the guest: vrxpr against the kernel's SCSI target (LIO over
# tcm_loop), with sg_persist as the other cluster node. Each check reports
# GUEST-PASS or GUEST-FAIL on the console; details go on lines of their own.
. /guest/lib.sh

X=naa.5001405000000001   # this host's path
Y=naa.5001405000000002   # the other node's path

KA=0xa0a0000000000001
KB=0xb0b0000000000002
KC=0xc0c0000000000003
KU=0x1010101010101010
KX=0x00000000000b0b0b    # this host, registered under a key of its own


# ---- the target ----------------------------------------------------------
mkdir -p /var/target/pr
make_lu a ZORBELT TQ22-STORE SA0001
make_lu b LOX KAMBERLON SB0002
make_lu u LOX KAMBERLON2 SU0003     # one character off row 8: unmanaged
make_lu c KN VELA-7 SC0004
make_lu e ACME SPARE-E SE0005
make_lu f ACME SPARE-F SF0006
make_target $X naa.500140500000000a
make_target $Y naa.500140500000000b
for t in $X $Y; do
    export_lu $t 0 a
    export_lu $t 1 b
    export_lu $t 2 u
    export_lu $t 3 c
done
HX=$(target_host $X)
HY=$(target_host $Y)
XA=$(sg_of $HX 0); XB=$(sg_of $HX 1); XU=$(sg_of $HX 2); XC=$(sg_of $HX 3)
YA=$(sg_of $HY 0); YB=$(sg_of $HY 1); YU=$(sg_of $HY 2); YC=$(sg_of $HY 3)
for d in $XA $XB $XU $XC $YA $YB $YU $YC; do settle $d; done
echo "hosts: this $HX, other $HY; devices $XA $XB $XU $XC / $YA $YB $YU $YC"
if [ "$HX" -ge "$HY" ]; then
    report_fail "setup: this host's SCSI host number is not the lower one"
fi

persist --out --register --param-sark=$KA $YA >/dev/null
persist --out --reserve --param-rk=$KA --prout-type=5 $YA >/dev/null
persist --out --register --param-sark=$KB $YB >/dev/null
persist --out --reserve --param-rk=$KB --prout-type=6 $YB >/dev/null
persist --out --register --param-sark=$KX $XB >/dev/null
persist --out --register --param-sark=$KC $YC >/dev/null
persist --out --register --param-sark=$KU $YU >/dev/null
persist --out --reserve --param-rk=$KU --prout-type=1 $YU >/dev/null

# ---- expected texts --------------------------------------------------------
define_messages '\n'
M21='ROVT10669-W The utility for clearing VORX persistent reservation (vrxpr) cannot be executed because VORX is installed.\n'

# The listing for the current state of LUs a, b and c: each argument is
# "count key type" for a, b, c in turn, shown once through each host.
row() {
    printf '%06d %04X.0000.0000000000000001.%04X %5d    %s %s\n' "$@"
}
listing() {
    local h lun state p=0
    echo 'PathID PathName                        KeyCount ReservedKey      Type'
    for h in $HX $HY; do
        lun=0
        for state in "$1" "$2" "$3"; do
            row $p $h $lun $state
            p=$((p + 1))
            lun=$((lun + 1))
            [ $lun -eq 2 ] && lun=3
        done
    done
}

# vrxpr with the given input (printf %b escapes), output to /tmp/out.
run_vrxpr() {
    local input=$1
    shift
    printf '%b' "$input" | vrxpr "$@" >/tmp/out 2>/tmp/err
    echo $? >/tmp/rc
}

# ---- display: the exact listing, and nothing but PR IN reaches the LUs ----
LIST0=$(listing "1 A0A0000000000001 WriteExclusiveRegistrantOnly" \
    "2 B0B0000000000002 ExclusiveAccessRegistrantOnly" "1 ---------------- None")
states $YA $YB $YC $YU > /tmp/before
run_vrxpr '' -d
{ echo "$LIST0"; printf "$M0"; } > /tmp/expected
check_run "display: exact listing of every managed LU through both hosts" /tmp/expected 0
states $YA $YB $YC $YU > /tmp/after
check_same "display: PR generation, keys and reservations unchanged" /tmp/before /tmp/after

# ---- not root: every sg device refuses the open ------------------------------
# Discovery reads sysfs (open to all), then the mapping meets /dev/sgN, root's
# alone: message 18 names the first of them, and nothing reaches any LU.
echo 'root:x:0:0:root:/:/bin/sh' > /etc/passwd
echo 'operator:x:1000:1000:operator:/tmp:/bin/sh' >> /etc/passwd
printf 'root:x:0:\noperator:x:1000:\n' > /etc/group
FIRST_SG=$(ls /dev | sed -n 's/^sg\([0-9][0-9]*\)$/\1/p' | sort -n | head -n1)
printf 'ROVT10668-E An attempt to open a device failed. Device name = /dev/sg%s\n' $FIRST_SG \
    > /tmp/expected
cmds_before="$(lu_cmds a) $(lu_cmds b) $(lu_cmds u) $(lu_cmds c)"
for opt in -d -c; do
    printf '0\ny\ny\n' | su operator -c "vrxpr $opt" >/tmp/out 2>/tmp/err
    echo $? > /tmp/rc
    check_run "not root: $opt stops with message 18 naming /dev/sg$FIRST_SG" /tmp/expected 3
done
check_value "not root: no command reached any LU" "$cmds_before" \
    "$(lu_cmds a) $(lu_cmds b) $(lu_cmds u) $(lu_cmds c)"

# ---- cancelled clears change nothing ----------------------------------------
check_cancels "$LIST0" 1

states $YA $YB $YC $YU > /tmp/after
check_same "cancelled clears: every registration and reservation as it was" /tmp/before /tmp/after

# ---- clear an LU this host is not registered on: REGISTER, CLEAR -------------
states $YB $YC $YU > /tmp/before
run_vrxpr '0\ny\ny\n' -c
{ echo "$LIST0"; printf "$M8"; m9 0; printf "$M10"; m11 0; printf "$M0"; } > /tmp/expected
check_run "clear PathID 0 (REGISTER, CLEAR)" /tmp/expected 0
check_cleared "clear PathID 0: no keys and no reservation left on the LU" $YA
states $YB $YC $YU > /tmp/after
check_same "clear PathID 0: the other LUs keep theirs" /tmp/before /tmp/after

# ---- this host already registered under another key ------------------------
LIST1=$(listing "0 ---------------- None" \
    "2 B0B0000000000002 ExclusiveAccessRegistrantOnly" "1 ---------------- None")
states $YA $YC $YU > /tmp/before
# Answers ended by CR LF.
run_vrxpr '1\r\ny\r\ny\r\n' -c
{ echo "$LIST1"; printf "$M8"; m9 1; printf "$M10"; m11 1; printf "$M0"; } > /tmp/expected
check_run "clear PathID 1 with this host registered under another key (CR LF answers)" /tmp/expected 0
check_cleared "clear PathID 1: no keys and no reservation left on the LU" $YB
states $YA $YC $YU > /tmp/after
check_same "clear PathID 1: the other LUs keep theirs" /tmp/before /tmp/after

# ---- after a fresh UNIT ATTENTION ------------------------------------------
persist --out --register --param-sark=$KA $YA >/dev/null
persist --out --reserve --param-rk=$KA --prout-type=5 $YA >/dev/null
LIST2=$(listing "1 A0A0000000000001 WriteExclusiveRegistrantOnly" \
    "0 ---------------- None" "1 ---------------- None")

# A new LUN on this host's target: every LU of that nexus reports
# REPORTED LUNS DATA HAS CHANGED next.
export_lu $X 4 e
XE=$(sg_of $HX 4)
sg_turs $XU >/dev/null 2>&1
if [ $? -eq 6 ]; then
    report_pass "unit attention: a new LUN raises it on this host's LUs"
else
    report_fail "unit attention: a new LUN raises it on this host's LUs"
fi
run_vrxpr '' -d
{ echo "$LIST2"; printf "$M0"; } > /tmp/expected
check_run "display after a unit attention (CHECK CONDITION retried)" /tmp/expected 0

# The unit attention raised while vrxpr waits at its prompt reaches the
# reading again of the LU before the clear.
states $YB $YC $YU > /tmp/before
mkfifo /tmp/answers
vrxpr -c < /tmp/answers > /tmp/out 2>/tmp/err &
pid=$!
exec 3> /tmp/answers
if wait_for_prompt $pid; then
    export_lu $X 5 f
    XF=$(sg_of $HX 5)
    printf '0\ny\ny\n' >&3
else
    echo "clear after a unit attention: vrxpr never read its input"
fi
exec 3>&-
wait $pid
echo $? > /tmp/rc
rm -f /tmp/answers
{ echo "$LIST2"; printf "$M8"; m9 0; printf "$M10"; m11 0; printf "$M0"; } > /tmp/expected
check_run "clear after a unit attention (READ KEYS retried)" /tmp/expected 0
check_cleared "clear after a unit attention: no keys and no reservation left" $YA
sg_turs $XA >/dev/null 2>&1; ra=$?
sg_turs $XC >/dev/null 2>&1; rc=$?
if [ $ra -eq 0 ] && [ $rc -eq 6 ]; then
    report_pass "clear after a unit attention: vrxpr took it on the LU it cleared"
else
    echo "test unit ready: cleared LU $ra (expected 0), untouched LU $rc (expected 6)"
    report_fail "clear after a unit attention: vrxpr took it on the LU it cleared"
fi
states $YB $YC $YU > /tmp/after
check_same "clear after a unit attention: the other LUs keep theirs" /tmp/before /tmp/after

# ---- the installation guard -----------------------------------------------
dep=/lib/modules/$(uname -r)/modules.dep
cp $dep /tmp/modules.dep.saved
states $YA $YB $YC $YU > /tmp/before
echo 'kernel/drivers/scsi/vrxfdrv.ko:' >> $dep
run_vrxpr '' -d
printf "$M21" > /tmp/expected
check_run "guard: vrxfdrv.ko installed for the running kernel stops -d" /tmp/expected 2
cp /tmp/modules.dep.saved $dep
echo 'updates/VORXdsm.ko.xz: kernel/drivers/scsi/scsi_mod.ko' >> $dep
run_vrxpr '' -c
check_run "guard: VORXdsm.ko.xz installed stops -c" /tmp/expected 2
cp /tmp/modules.dep.saved $dep
states $YA $YB $YC $YU > /tmp/after
check_same "guard: no LU touched" /tmp/before /tmp/after
run_vrxpr '' -d
LIST3=$(listing "0 ---------------- None" "0 ---------------- None" "1 ---------------- None")
{ echo "$LIST3"; printf "$M0"; } > /tmp/expected
check_run "guard: without the module file -d runs" /tmp/expected 0

# ---- an LU that answers no PERSISTENT RESERVE IN, then goes offline --------
# scsi_debug with a managed identity: READ KEYS ends in CHECK CONDITION every
# time.
load_module scsi_debug 'inq_vendor="ZORBELT "' 'inq_product="TQ11-DEBUG      "'
HD=
for h in /sys/class/scsi_host/host*; do
    [ "$(cat $h/proc_name)" = scsi_debug ] && HD=${h##*/host}
done
DD=/sys/bus/scsi/devices/$HD:0:0:0
i=0
while [ $i -lt 100 ] && ! [ -c "/dev/$(ls $DD/scsi_generic 2>/dev/null)" ]; do
    sleep 0.1
    i=$((i + 1))
done
[ $i -lt 100 ] || report_fail "setup: scsi_debug LU on host '$HD' has no sg device"
LUD=$(printf '%04X.0000.0000000000000000.0000' $HD)
states $YA $YB $YC $YU > /tmp/before
m14 2 0 $LUD > /tmp/expected
run_vrxpr '' -d
check_run "no PR IN support: -d stops after 16 CHECK CONDITIONs with message 14" /tmp/expected 3
run_vrxpr '' -c
check_run "no PR IN support: -c stops after 16 CHECK CONDITIONs with message 14" /tmp/expected 3
# A device that is not running gets no command that waits for its path: the
# run waits the command's 2-second time-out for it, then ends with
# ERROR_NOT_READY. READ KEYS goes out at once, and the kernel refuses it for
# an offline device (DID_NO_CONNECT).
echo offline > $DD/state
m14 0 0x37 $LUD > /tmp/expected
t0=$(now_cs)
run_vrxpr '' -d
t1=$(now_cs)
echo "offline LU: -d ended after $(( (t1 - t0) * 10 )) ms"
check_run "offline LU: -d's READ KEYS is refused, Error Code 0x37" /tmp/expected 3
# -c reads the LU's identity first.
m14 0 0x15 $LUD 12 > /tmp/expected
t0=$(now_cs)
run_vrxpr '' -c
t1=$(now_cs)
echo "offline LU: -c ended after $(( (t1 - t0) * 10 )) ms"
check_run "offline LU: -c ends with message 14 for INQUIRY, Error Code 0x15" /tmp/expected 3
# Running again while the run waits (asleep between two looks at the
# state): the identity read goes out, and the LU answers READ KEYS as before.
vrxpr -c >/tmp/out 2>/tmp/err </dev/null &
pid=$!
i=0
until case "$(cat /proc/$pid/syscall 2>/dev/null)" in 230\ *|35\ *) true ;; *) false ;; esac; do
    i=$((i + 1)); [ $i -lt 500 ] || break
    sleep 0.01
done
echo running > $DD/state
wait $pid
echo $? > /tmp/rc
m14 2 0 $LUD > /tmp/expected
check_run "offline LU running again within the wait: -c reads the identity after all" /tmp/expected 3
echo offline > $DD/state
m14 0 0x37 $LUD > /tmp/expected

# The same failure with a standard descriptor closed at start: the closed
# one is held by /dev/null, so the drive (open while message 14 is written)
# never takes its number.
for k in 0 1 2; do
    strace -qq -e trace=openat,write -o /tmp/trace sh -c "exec vrxpr -d $k>&-" \
        >/tmp/out 2>/tmp/err
    echo $? > /tmp/rc
    if [ $k = 1 ]; then : > /tmp/expected; else m14 0 0x37 $LUD > /tmp/expected; fi
    check_run "descriptor $k closed: output and exit code" /tmp/expected 3
    ok=1
    # strace pads short calls before " = ".
    if ! grep -Eq "^openat\(AT_FDCWD, \"/dev/null\", O_RDWR\) += $k\$" /tmp/trace; then
        ok=0
        echo "descriptor $k closed: not held by /dev/null at start"
    fi
    if [ "$(grep -c 'openat(AT_FDCWD, "/dev/sg' /tmp/trace)" -eq 0 ] ||
        grep -E 'openat\(AT_FDCWD, "/dev/sg[0-9]+", .*\) += [012]$' /tmp/trace; then
        ok=0
        echo "descriptor $k closed: no drive opened, or one opened as a standard descriptor"
    fi
    if [ $ok = 0 ]; then detail < /tmp/trace; fi
    check_report $ok "descriptor $k closed: no drive takes a standard descriptor's number"
done
echo running > $DD/state
rmmod scsi_debug
states $YA $YB $YC $YU > /tmp/after
check_same "scsi_debug LU: the other LUs keep theirs" /tmp/before /tmp/after
run_vrxpr '' -d
{ echo "$LIST3"; printf "$M0"; } > /tmp/expected
check_run "scsi_debug LU removed: -d lists as before" /tmp/expected 0

# Changes while -c waits at its second confirmation.
. /guest/changed.sh

# ---- 400 managed LUs through two more hosts: 800 paths -----------------------
# Each host's records are far past the first 16 KB area.
N=400
W1=naa.5001405000000003
W2=naa.5001405000000004
t0=$(now_cs)
if make_many m $N $W1 $W2; then
    report_pass "scale: $N LUs exported through two more hosts"
else
    report_fail "scale: $N LUs exported through two more hosts"
fi
H1=$(target_host $W1)
H2=$(target_host $W2)
t1=$(now_cs)
echo "scale: hosts $H1 and $H2 set up in $(( (t1 - t0) / 100 )) s"
free | detail

# The other node reserves the last LU and registers on the one before it.
LAST=$(many_sg $H1 $((N - 1)))
PREV=$(many_sg $H1 $((N - 2)))
persist --out --register --param-sark=$KA $LAST >/dev/null
persist --out --reserve --param-rk=$KA --prout-type=5 $LAST >/dev/null
persist --out --register --param-sark=$KC $PREV >/dev/null

# The six paths of the LUs above, then every path of host H1 and of H2.
big_listing() {
    local h i p=6 state
    echo "$LIST3"
    for h in $H1 $H2; do
        i=0
        while [ $i -lt $N ]; do
            case $i in
                $((N - 1))) state=$LAST_STATE ;;
                $((N - 2))) state="1 ---------------- None" ;;
                *) state="0 ---------------- None" ;;
            esac
            printf '%06d %04X.0000.%016X.%04X %5d    %s %s\n' $p $h \
                $((i / MANY_PER_TARGET + 1)) $((i % MANY_PER_TARGET)) $state
            p=$((p + 1))
            i=$((i + 1))
        done
    done
}
LAST_STATE="1 A0A0000000000001 WriteExclusiveRegistrantOnly"
LISTN=$(big_listing)
LASTID=$((6 + 2 * N - 1))

t0=$(now_cs)
run_vrxpr '' -d
t1=$(now_cs)
echo "scale: vrxpr -d over $((6 + 2 * N)) paths took $(( (t1 - t0) * 10 )) ms"
{ echo "$LISTN"; printf "$M0"; } > /tmp/expected
check_run "scale: -d lists all $((2 * N)) paths of $N LUs exactly" /tmp/expected 0

states $PREV > /tmp/before
run_vrxpr "$LASTID\ny\ny\n" -c
{ echo "$LISTN"; printf "$M8"; m9 $LASTID; printf "$M10"; m11 $LASTID; printf "$M0"; } > /tmp/expected
check_run "scale: clear of the last PathID ($LASTID)" /tmp/expected 0
check_cleared "scale: clear of PathID $LASTID: no keys and no reservation left" $LAST
states $PREV > /tmp/after
check_same "scale: clear of PathID $LASTID: the LU before keeps its registration" /tmp/before /tmp/after

# Hosts numbered 16 and up, LUNs past one byte, and hand-made nodes.
. /guest/wide.sh
