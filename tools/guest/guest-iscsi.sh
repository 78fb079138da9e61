# Runs inside the guest: vrxpr against tgtd over iSCSI on loopback, two
# sessions (this host, and the other node's through sg_persist) that pass
# through a relay (hold) able to stop tgtd as a chosen command goes by.
# A stop or a tracer while a command waits must not send it again; hosts
# in error recovery must neither freeze a run nor get a late command.
. /guest/lib.sh

IQN=iqn.2026-12.test:vrxpr
KA=0xa0a0000000000001
KB=0xb0b0000000000002
LOG=/tmp/tgtd.log

# ---- target and initiator --------------------------------------------------
ip link set lo up
# iscsid looks up the user of each peer that talks to it.
echo 'root:x:0:0:root:/:/bin/sh' > /etc/passwd
echo 'root:x:0:' > /etc/group
mkdir -p /var/run/tgtd /etc/iscsi /run/lock/iscsi /var/lock
# With -d tgtd logs each command it takes, with its operation code and LUN.
tgtd -f -d 1 > $LOG 2>&1 &
TGTD=$!
i=0
until tgtadm --lld iscsi --mode target --op show >/dev/null 2>&1; do
    i=$((i + 1)); [ $i -lt 100 ] || break
    sleep 0.1
done
tgtadm --lld iscsi --mode target --op new --tid 1 --targetname $IQN
for l in 1 2 3; do
    tgtadm --lld iscsi --mode logicalunit --op new --tid 1 --lun $l --bstype null \
        --backing-store /dev/null/$l
    tgtadm --lld iscsi --mode logicalunit --op update --tid 1 --lun $l \
        --params vendor_id=ZORBELT,product_id=TQ22-ISCSI$l,scsi_sn=SI000$l
done
tgtadm --lld iscsi --mode target --op bind --tid 1 -I ALL
hold 3261 3260 /tmp/arm /tmp/held &

# NOP-Outs off: a stopped tgtd then leaves the connection up; with these
# time-outs for the error handler's steps a host stays in recovery, its
# devices running, for about 20 s.
cat > /etc/iscsi/iscsid.conf <<'EOF'
node.startup = manual
node.conn[0].timeo.noop_out_interval = 0
node.conn[0].timeo.noop_out_timeout = 0
node.session.err_timeo.abort_timeout = 15
node.session.err_timeo.lu_reset_timeout = 30
node.session.err_timeo.tgt_reset_timeout = 15
node.session.timeo.replacement_timeout = 120
EOF
echo "InitiatorName=iqn.2026-12.test:this" > /etc/iscsi/initiatorname.iscsi
iscsid -f > /tmp/iscsid.log 2>&1 &
sleep 1
iscsiadm -m iface -I other -o new >/dev/null
iscsiadm -m iface -I other -o update -n iface.initiatorname -v iqn.2026-12.test:other >/dev/null
# Through the relay, one session after the other: this host's is the
# lower SCSI host.
for iface in default other; do
    iscsiadm -m node -o new -T $IQN -p 127.0.0.1:3261 -I $iface >/dev/null
    iscsiadm -m node -T $IQN -p 127.0.0.1:3261 -I $iface --login >/dev/null ||
        report_fail "setup: login through iface $iface"
done
set -- $(ls /sys/class/scsi_host | sed 's/host//' | sort -n)
HX=$1
HY=$2
isg() {  # host lun
    local d
    for d in /sys/bus/scsi/devices/$1:0:0:$2/scsi_generic/sg*; do echo "/dev/${d##*/}"; done
}
wait_paths $HX 4 && wait_paths $HY 4 || report_fail "setup: the LUs did not appear on hosts $HX and $HY"
for l in 1 2 3; do
    eval "X$l=$(isg $HX $l) Y$l=$(isg $HY $l)"
done
for d in $X1 $X2 $X3 $Y1 $Y2 $Y3; do settle $d; done
echo "hosts: this $HX, other $HY; devices $X1 $X2 $X3 / $Y1 $Y2 $Y3"

define_messages '\n'
lu() { printf '%04X.0000.0000000000000000.%04X' "$@"; }
# The listing: each argument is "count key type" for LUs 1 to 3.
listing() {
    local h l p=0
    echo 'PathID PathName                        KeyCount ReservedKey      Type'
    for h in $HX $HY; do
        for l in 1 2 3; do
            eval "printf '%06d %s %5d    %s %s\n' $p $(lu $h $l) \$$l"
            p=$((p + 1))
        done
    done
}
register_other() {
    persist --out --register --param-sark=$KA $Y1 >/dev/null
    persist --out --reserve --param-rk=$KA --prout-type=5 $Y1 >/dev/null
}
register_other
persist --out --register --param-sark=$KB $Y2 >/dev/null

# The operation codes of OPS that tgtd took for LUN L after line N of its
# log (its log names no service action).
taken() {  # N L OPS
    sed -n "$1,\$p" $LOG | awk -v lun=$2 -v ops="$3" '
        BEGIN { n = split(ops, o, " "); for (i = 1; i <= n; i++) want[o[i]] = 1 }
        /target_cmd_queue\(/ && $5 == lun && ($4 in want) { printf "%s ", $4 }'
}
# The kernel's command log (SCSI_LOG_MLQUEUE): the PERSISTENT RESERVE
# commands (OP/SA) and identity reads sent to host H, LUN L since the log
# was last cleared.
echo $((7 << 9)) > /proc/sys/dev/scsi/logging_level
sent() {  # H L
    dmesg | awk -v a=" $1:0:0:$2: " 'index($0, a) && /CDB: Persistent reserve/ { printf "%s/%s ", $(NF-9), $(NF-8) }
        index($0, a) && / CDB: Inquiry 12 01 83 / { printf "12/83 " }'
}
log_end() { echo $(($(wc -l < $LOG) + 1)); }

# ---- a command held at the target while the run is stopped or traced ------
# Arms the relay for OP SA; once tgtd is stopped with that command on its
# way, INTERRUPT runs against process $1, then tgtd runs again.
arm() { rm -f /tmp/held; echo "$TGTD $1 $2" > /tmp/arm; }
interrupt_held() {  # pid how
    local i=0
    until [ -e /tmp/held ]; do
        i=$((i + 1)); [ $i -lt 200 ] || { echo "held: the command never passed"; break; }
        sleep 0.05
    done
    # Asleep: waiting for the answer.
    i=0
    until [ "$(cut -d' ' -f3 /proc/$1/stat)" = S ]; do
        i=$((i + 1)); [ $i -lt 100 ] || break
        sleep 0.01
    done
    case $2 in
        stop)
            kill -STOP $1; sleep 0.2; kill -CONT $1; sleep 0.2 ;;
        trace)
            strace -qq -p $1 -o /tmp/strace.out &
            i=0
            until grep -q '^TracerPid:[[:space:]]*[1-9]' /proc/$1/status; do
                i=$((i + 1)); [ $i -lt 100 ] || break
                sleep 0.01
            done
            sleep 0.3 ;;
    esac
    kill -CONT $TGTD
}

run_vrxpr() {
    printf '%b' "$1" | vrxpr $2 >/tmp/out 2>/tmp/err
    echo $? >/tmp/rc
}
LIST0=$(listing "1 A0A0000000000001 WriteExclusiveRegistrantOnly" "1 ---------------- None" \
    "0 ---------------- None")
mark=$(log_end)
dmesg -c >/dev/null
run_vrxpr '' -d
{ echo "$LIST0"; printf "$M0"; } > /tmp/expected
check_run "display: exact listing over iSCSI" /tmp/expected 0
DSEQ="$(sent $HX 1)| $(taken $mark 1 '5e 5f')"
check_value "display: LUN 1 got READ KEYS and READ RESERVATION once through each host" \
    "5e/00 5e/01 | 5e 5e 5e 5e " "$DSEQ"

mark=$(log_end)
dmesg -c >/dev/null
arm 5e 00
vrxpr -d >/tmp/out 2>/tmp/err &
pid=$!
interrupt_held $pid stop
wait $pid
echo $? > /tmp/rc
check_run "stopped while READ KEYS was held: -d lists as before" /tmp/expected 0
check_value "stopped while READ KEYS was held: LUN 1 got what an undisturbed -d sends" \
    "$DSEQ" "$(sent $HX 1)| $(taken $mark 1 '5e 5f')"

# -c on PathID 0, answered up to its second confirmation; the last answer
# goes with OP SA armed, and HOW is done while that command is held.
held_clear() {  # op sa how
    mkfifo /tmp/answers
    vrxpr -c < /tmp/answers > /tmp/out 2>/tmp/err &
    pid=$!
    exec 3> /tmp/answers
    printf '0\ny\n' >&3
    wait_for_prompt $pid || echo "held clear: no second confirmation"
    mark=$(log_end)
    dmesg -c >/dev/null
    arm $1 $2
    printf 'y\n' >&3
    interrupt_held $pid $3
    exec 3>&-
    wait $pid
    echo $? > /tmp/rc
    rm -f /tmp/answers
}
held_check() {  # op sa how name
    held_clear $1 $2 $3
    shift 3
    check_run "$*: -c ends with messages 11 and 0" /tmp/expected 0
    # After the answer: the re-read (READ KEYS, READ RESERVATION), then
    # REGISTER and CLEAR.
    check_value "$*: LUN 1 got the re-read, REGISTER and CLEAR once each" "5e/00 5e/01 5f/00 5f/03 | 5f 5f " \
        "$(sent $HX 1 | sed 's,12/83 ,,g')| $(taken $mark 1 5f)"
    check_cleared "$*: no keys and no reservation left" $Y1
}
{ echo "$LIST0"; printf "$M8"; m9 0; printf "$M10"; m11 0; printf "$M0"; } > /tmp/expected
held_check 5f 00 stop "stopped while REGISTER was held"
register_other
held_check 5f 03 trace "traced while CLEAR was held"

# ---- hosts in error recovery, their devices running ---------------------------
# tgtd stopped; a long TEST UNIT READY in flight on LUN 1, a short one (3 s)
# on LUN 3, then a LOGICAL UNIT RESET of one's own on LUN 2, its
# task-management request unanswered. When the short one times out, its
# abort fails at once (one task-management request at a time per session)
# and the host goes into recovery; the devices still read running. (A
# command sent after the reset would not even start: the reset holds the
# host's queue, so the order matters.)
TUR='00 00 00 00 00 00'
mkfifo /tmp/answers
vrxpr -c < /tmp/answers > /tmp/cout 2>/tmp/cerr &
cpid=$!
exec 3> /tmp/answers
printf '1\ny\n' >&3
wait_for_prompt $cpid || echo "recovery: -c never reached its second confirmation"
kill -STOP $TGTD
mark=$(log_end)
dmesg -c >/dev/null
sg_raw -t 60 $X1 $TUR >/dev/null 2>&1 &
b1=$!
sg_raw -t 3 $X3 $TUR >/dev/null 2>&1 &
b3=$!
sleep 0.5
sg_reset -N -d $X2 >/dev/null 2>&1 &
b2=$!
i=0
until [ "$(cat /sys/class/scsi_host/host$HX/state)" != running ]; do
    i=$((i + 1)); [ $i -lt 150 ] || break
    sleep 0.1
done
setup="host $(cat /sys/class/scsi_host/host$HX/state), devices"
for l in 1 2 3; do setup="$setup $(cat /sys/bus/scsi/devices/$HX:0:0:$l/state)"; done
echo "recovery: $setup"
case $setup in
    "host "*recovery*", devices running running running") ;;
    *) report_fail "setup: host $HX in recovery with its devices running" ;;
esac

# Both runs at once; each sampled every 0.1 s until it ends or 15 s pass.
vrxpr -d > /tmp/dout 2>/tmp/derr &
dpid=$!
printf 'y\n' >&3
exec 3>&-
t0=$(now_cs)
d_end= c_end= d_max=0 c_max=0 d_run=0 c_run=0
while :; do
    now=$(now_cs)
    for v in d c; do
        eval "p=\$${v}pid e=\$${v}_end"
        [ -z "$e" ] || continue
        s=$(cut -d' ' -f3 /proc/$p/stat 2>/dev/null)
        case $s in
            Z|'') eval "${v}_end=$((now - t0))" ;;
            D) eval "${v}_run=\$((${v}_run + 10)); [ \$${v}_run -gt \$${v}_max ] && ${v}_max=\$${v}_run" ;;
            *) eval "${v}_run=0" ;;
        esac
    done
    [ -n "$d_end" ] && [ -n "$c_end" ] && break
    [ $((now - t0)) -ge 1500 ] && break
    sleep 0.1
done
echo "recovery: -d ended after ${d_end:-more than 1500} cs, longest in D state $d_max cs;" \
    "-c after ${c_end:-more than 1500} cs, $c_max cs"
kill -CONT $TGTD
wait $dpid
echo $? > /tmp/drc
wait $cpid
echo $? > /tmp/crc
rm -f /tmp/answers
wait $b1 $b2 $b3
# Back to normal, then a command through each path: whatever a run left
# queued has reached the LUs by the time these are answered.
for i in $(seq 1 300); do
    [ "$(cat /sys/class/scsi_host/host$HX/state)" = running ] && break
    sleep 0.1
done
for d in $X1 $X2 $X3; do settle $d; done

ok=1
[ -n "$d_end" ] && [ -n "$c_end" ] || ok=0
check_report $ok "recovery: -d and -c end within 15 s"
over=
[ $d_max -le 200 ] || over="-d $d_max cs"
[ $c_max -le 200 ] || over="$over -c $c_max cs"
check_value "recovery: never in D state longer than a command's time-out (2 s)" "" "$over"
# check_run reads the run's output from /tmp/out, /tmp/err and /tmp/rc.
take_run() { mv /tmp/${1}out /tmp/out; mv /tmp/${1}err /tmp/err; mv /tmp/${1}rc /tmp/rc; }
take_run d
# -d's READ KEYS goes out without the look at the path (a late read
# changes nothing) and is given up at its 2 + 2 s deadline.
m14 0 0x79 $(lu $HX 1) > /tmp/expected
check_run "recovery: -d ends with message 14, Error Code 0x79" /tmp/expected 3
take_run c
LIST1=$(listing "0 ---------------- None" "1 ---------------- None" "0 ---------------- None")
{ echo "$LIST1"; printf "$M8"; m9 1; printf "$M10"; m14 0 0x15 $(lu $HX 2) 12; } > /tmp/expected
check_run "recovery: -c ends with message 14 for INQUIRY, Error Code 0x15" /tmp/expected 3
# -d's first command goes to LUN 1, -c's to LUN 2; LUN 3 gets neither.
check_value "recovery: -d's READ KEYS reached LUN 1 once, and nothing else" "5e/00 " \
    "$(sent $HX 1)"
check_value "recovery: nothing from -c reached LUNs 2 and 3 once tgtd ran again" "" \
    "$(sent $HX 2)$(taken $mark 2 '5e 5f')$(sent $HX 3)$(taken $mark 3 '5e 5f')"
