# Runs inside the guest after guest-test.sh's checks, in its shell: hosts
# numbered 16 and up, LUNs past one byte, and a drive node made by hand.

# ---- hosts numbered 16 and up, and a LUN past one byte -----------------------
# A new host takes the lowest free number: fill 0 to 15 first.
i=0
while [ $i -lt 16 ]; do
    if [ ! -e /sys/class/scsi_host/host$i ]; then
        make_target naa.50014050000001$(printf %02d $i) naa.50014050000002$(printf %02d $i)
    fi
    i=$((i + 1))
done
W16=naa.5001405000000116
W17=naa.5001405000000117
make_lu h MRB NOVA-HIGH SH0016
for w in $W16 $W17; do
    make_target $w naa.60014050000001${w#naa.50014050000001}
    export_lu $w 0 h
done
H16=$(target_host $W16)
H17=$(target_host $W17)
echo "high hosts: $H16 and $H17"
[ "$H16" -ge 16 ] && [ "$H17" -ge 16 ] || report_fail "setup: the new hosts are not numbered 16 and up"
D16=$(sg_of $H16 0)
D17=$(sg_of $H17 0)
settle $D16
settle $D17
persist --out --register --param-sark=$KB $D17 >/dev/null
persist --out --reserve --param-rk=$KB --prout-type=5 $D17 >/dev/null
LAST_STATE="0 ---------------- None"
HIGHID=$((LASTID + 1))
LISTH=$({ big_listing
    for h in $H16 $H17; do
        printf '%06d %04X.0000.0000000000000001.0000 %5d    %s %s\n' $HIGHID $h 1 \
            B0B0000000000002 WriteExclusiveRegistrantOnly
        HIGHID=$((HIGHID + 1))
    done; })
HIGHID=$((LASTID + 1))
run_vrxpr "$HIGHID\ny\ny\n" -c
{ echo "$LISTH"; printf "$M8"; m9 $HIGHID; printf "$M10"; m11 $HIGHID; printf "$M0"; } > /tmp/expected
check_run "high hosts: listed under their own numbers, PathID $HIGHID (host $H16) cleared" /tmp/expected 0
check_cleared "high hosts: no keys and no reservation left on the LU" $D17

# ---- LUNs past one byte through both high hosts -----------------------------
# LU h at LUN 0, p at LUN 300 and q at LUN 511 of each host, in LUN order.
make_lu p ZORBELT TQ22-L300 SP0300
make_lu q ZORBELT TQ22-L511 SQ0511
for w in $W16 $W17; do
    export_lu $w 300 p
    export_lu $w 511 q
done
P16=$(sg_of $H16 300); P17=$(sg_of $H17 300)
Q16=$(sg_of $H16 511); Q17=$(sg_of $H17 511)
for d in $P16 $P17 $Q16 $Q17; do settle $d; done
persist --out --register --param-sark=$KA $P17 >/dev/null
persist --out --reserve --param-rk=$KA --prout-type=3 $P17 >/dev/null
persist --out --register --param-sark=$KC $Q16 >/dev/null
wide_rows() {  # first PathID, then "count key type" of h, p and q
    local id=$1 h state lun
    shift
    for h in $H16 $H17; do
        for lun in 0 300 511; do
            case $lun in 0) state=$1 ;; 300) state=$2 ;; 511) state=$3 ;; esac
            printf '%06d %04X.0000.0000000000000001.%04X %5d    %s %s\n' $id $h $lun $state
            id=$((id + 1))
        done
    done
}
LAST_STATE="0 ---------------- None"
LISTW=$({ big_listing
    wide_rows $HIGHID "0 ---------------- None" "1 A0A0000000000001 ExclusiveAccess" \
        "1 ---------------- None"; })
PID16=$((HIGHID + 1))   # LU p through host H16
QID17=$((HIGHID + 5))   # LU q through host H17
states $P17 $Q16 > /tmp/before
run_vrxpr '' -d
{ echo "$LISTW"; printf "$M0"; } > /tmp/expected
check_run "LUNs 300 and 511 through hosts $H16 and $H17: listed whole, in LUN order" /tmp/expected 0
check_cancels "$LISTW" $PID16
states $P17 $Q16 > /tmp/after
check_same "LUNs 300 and 511: -d and the cancels change nothing" /tmp/before /tmp/after
states $Q16 > /tmp/before
cmds_q=$(lu_cmds q)
run_vrxpr "$PID16\ny\ny\n" -c
{ echo "$LISTW"; printf "$M8"; m9 $PID16; printf "$M10"; m11 $PID16; printf "$M0"; } > /tmp/expected
check_run "LUN 300: PathID $PID16 (host $H16) cleared" /tmp/expected 0
check_cleared "LUN 300: no keys and no reservation left on LU p" $P17
# The survey's identity read, READ KEYS and READ RESERVATION through each
# of q's two paths, and nothing more.
check_value "LUN 300: LU q got the survey's reads alone" $((cmds_q + 6)) "$(lu_cmds q)"
states $Q16 > /tmp/after
check_same "LUN 300: LU q keeps its registration" /tmp/before /tmp/after

# ---- a drive node made by hand outlives its device ---------------------------
# LU q's path through H17 gets a node made with mknod in place of devtmpfs's.
# While -c waits at its second confirmation the path is deleted (devtmpfs
# leaves a node it did not make) and LU r, reserved by the other node,
# takes the freed sg number: the hand-made node now opens LU r.
make_lu r ZORBELT TQ22-NODE SR0512
num=$(cat /sys/class/scsi_generic/${Q17#/dev/}/dev)
rm $Q17
mknod $Q17 c ${num%:*} ${num#*:}
retake_q17() {
    echo 1 > /sys/bus/scsi/devices/$H17:0:1:511/delete
    export_lu $Y 9 r
    YR=$(sg_of $HY 9)
    [ "$YR" = "$Q17" ] || report_fail "setup: LU r took $YR, not $Q17"
    settle $YR
    persist --out --register --param-sark=$KB $YR >/dev/null
    persist --out --reserve --param-rk=$KB --prout-type=5 $YR >/dev/null
    states $Q16 $YR > /tmp/before
    cmds_r=$(lu_cmds r)
}
LISTW=$({ big_listing
    wide_rows $HIGHID "0 ---------------- None" "0 ---------------- None" \
        "1 ---------------- None"; })
{ echo "$LISTW"; printf "$M8"; m9 $QID17; printf "$M10"
  m20 $(printf '%04X.0000.0000000000000001.01FF' $H17); } > /tmp/stopped
clear_changed_at_confirmation $QID17 retake_q17
check_run "hand-made node of a deleted path: -c stops with message 20" /tmp/stopped 3
check_value "hand-made node: nothing reached LU r" "$cmds_r" "$(lu_cmds r)"
states $Q16 $YR > /tmp/after
check_same "hand-made node: LU q and LU r keep their keys and reservations" /tmp/before /tmp/after
