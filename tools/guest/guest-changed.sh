# Runs inside the guest in guest-test.sh's shell, once LU c (PathID 2 through
# this host) is listed with the other node's key alone: the chosen LU's
# drive, address or reservations changed while -c waits at its second
# confirmation.
# ---- the chosen drive taken by another LU while -c waits ---------------------
# vrxpr -c on PathID P; the shell function CHANGE runs while it waits at its
# second confirmation, then it is answered y.
clear_changed_at_confirmation() {  # P CHANGE
    mkfifo /tmp/answers
    vrxpr -c < /tmp/answers > /tmp/out 2>/tmp/err &
    pid=$!
    exec 3> /tmp/answers
    printf '%s\ny\n' "$1" >&3
    if wait_for_prompt $pid; then
        $2
    else
        echo "$2: vrxpr never reached its second confirmation"
    fi
    printf 'y\n' >&3
    exec 3>&-
    wait $pid
    echo $? > /tmp/rc
    rm -f /tmp/answers
}
# LU NEW, reserved by the other node through its LUN L there.
reserve_elsewhere() {  # NEW L
    export_lu $Y $2 $1
    YN=$(sg_of $HY $2)
    settle $YN
    persist --out --register --param-sark=$KB $YN >/dev/null
    persist --out --reserve --param-rk=$KB --prout-type=5 $YN >/dev/null
    states $YC $YN > /tmp/before
}
{ echo "$LIST3"; printf "$M8"; m9 2; printf "$M10"; m20 $(printf '%04X.0000.0000000000000001.0003' $HX); } > /tmp/stopped

# LU c's path through this host (PathID 2) is deleted and LU g is exported
# so that it takes the same sg device.
renumber_c() {
    reserve_elsewhere g 6
    echo 1 > /sys/bus/scsi/devices/$HX:0:1:3/delete
    export_lu $X 6 g
    XG=$(sg_of $HX 6)
    [ "$XG" = "$XC" ] || report_fail "setup: LU g took $XG, not $XC"
}
make_lu g ZORBELT TQ44-SWAP SG0007
clear_changed_at_confirmation 2 renumber_c
check_run "renumbered drive: -c stops with message 20 naming the chosen LU" /tmp/stopped 3
states $YC $YN > /tmp/after
check_same "renumbered drive: both LUs keep their keys and reservations" /tmp/before /tmp/after
# Back as before: g away, c's path through this host exported again.
unexport_lu $X 6
unexport_lu $Y 6
unexport_lu $X 3
export_lu $X 3 c
XC=$(sg_of $HX 3)
settle $XC

# ---- another LU presented at the chosen address while -c waits --------------
# LU c is unlinked from this host's LUN 3 and LU h linked there: the same
# H:C:T:L and the same sg device, so only the LU's identity tells.
represent_c() {
    reserve_elsewhere h 7
    unexport_lu $X 3
    export_lu $X 3 h
    XH=$(sg_of $HX 3)
    [ "$XH" = "$XC" ] || report_fail "setup: LU h took $XH, not $XC"
}
make_lu h ZORBELT TQ44-SWAP2 SH0008
clear_changed_at_confirmation 2 represent_c
check_run "re-presented LUN: -c stops with message 20 naming the chosen LU" /tmp/stopped 3
states $YC $YN > /tmp/after
check_same "re-presented LUN: both LUs keep their keys and reservations" /tmp/before /tmp/after
unexport_lu $X 3
unexport_lu $Y 7
export_lu $X 3 c
XC=$(sg_of $HX 3)
settle $XC

# ---- another node registers and reserves the chosen LU while -c waits -------
# A third initiator, as a cluster node that comes back: its own nexus to LU
# c registers a key and reserves. The clear must leave both in place.
Z=naa.5001405000000005
make_target $Z naa.500140500000000c
HZ=$(target_host $Z)
node_returns() {
    export_lu $Z 3 c
    ZC=$(sg_of $HZ 3)
    settle $ZC
    persist --out --register --param-sark=$KA $ZC >/dev/null
    persist --out --reserve --param-rk=$KA --prout-type=5 $ZC >/dev/null
    states $YC > /tmp/before
}
clear_changed_at_confirmation 2 node_returns
{ echo "$LIST3"; printf "$M8"; m9 2; printf "$M10"; m24 2; } > /tmp/expected
check_run "node back while -c waits: message 24, exit code 3" /tmp/expected 3
states $YC > /tmp/after
check_same "node back while -c waits: PR generation, keys and reservation as the node left them" \
    /tmp/before /tmp/after
if grep -q '2 registered reservation keys follow' /tmp/after &&
    grep -q "Key=$KA" /tmp/after && grep -q 'type: Write Exclusive, registrants only' /tmp/after; then
    report_pass "node back while -c waits: the LU keeps the node's key and reservation"
else
    detail < /tmp/after
    report_fail "node back while -c waits: the LU keeps the node's key and reservation"
fi
# The node leaves again: LU c as listed before.
persist --out --register --param-rk=$KA --param-sark=0 $ZC >/dev/null
unexport_lu $Z 3
rmdir "$T/loopback/$Z/tpgt_1" "$T/loopback/$Z" 2>/dev/null
