# Runs inside the guest (test-wine-guest.sh puts PREFIX, EXE64, EXE32, DRV
# and I686_RUNS above this line): vrxpr.exe under Wine, run from the host's
# userland on a tmpfs overlay, against LIO over tcm_loop, with sg_persist as
# the other cluster node. Each check reports GUEST-PASS or GUEST-FAIL on the
# console.
. /guest/lib.sh

R=/host                     # the shared userland, writable through tmpfs
SVC=vrxprport
PORT=12                     # the port the LUs are served on, as portshift.so
                            # numbers the drives (channel 0 + 12)
X1=naa.5001405000000011     # this server's two paths
X2=naa.5001405000000012
Y=naa.5001405000000013      # the other node

KA=0xa0a0000000000001
KB=0xb0b0000000000002
KU=0x1010101010101010
KX=0x00000000000b0b0b       # this server, registered under a key of its own

elapsed() { echo "$(( ($(now_cs) - $1) / 100 )).$(( ($(now_cs) - $1) % 100 / 10 )) s"; }
t_boot=$(now_cs)

# ---- the target: hosts 0 and 1 are this server's, host 2 the other node's --
mkdir -p /var/target/pr
make_lu a ZORBELT TQ22-STORE SA0001
make_lu b LOX KAMBERLON SB0002
make_lu u LOX KAMBERLON2 SU0003      # one character off a managed model
make_lu e ACME SPARE-E SE0005
make_lu f ACME SPARE-F SF0006
make_lu h ZORBELT TQ44-SWAP SH0007  # presented later where LU a was
make_target $X1 naa.500140500000001a
make_target $X2 naa.500140500000001b
make_target $Y naa.500140500000001c
for t in $X1 $X2 $Y; do
    export_lu $t 0 a
    export_lu $t 1 b
    export_lu $t 2 u
done
H1=$(target_host $X1); H2=$(target_host $X2); HY=$(target_host $Y)
YA=$(sg_of $HY 0); YB=$(sg_of $HY 1); YU=$(sg_of $HY 2)
for h in $H1 $H2 $HY; do
    for l in 0 1 2; do settle "$(sg_of $h $l)"; done
done
echo "hosts: this server $H1 and $H2, the other node $HY (LIO set up at $(elapsed 0))"
# LU h is reserved by the other node and reaches this server only when it
# takes LU a's place.
export_lu $Y 3 h
YH=$(sg_of $HY 3)
settle $YH
persist --out --register --param-sark=$KB $YH >/dev/null
persist --out --reserve --param-rk=$KB --prout-type=5 $YH >/dev/null

# ---- Wine in the shared userland ---------------------------------------------
mount_share host $R || report_fail "setup: mounting the host's userland"
# A terminal for the console case (script).
mkdir -p $R/dev/pts
mount -t devpts devpts $R/dev/pts
# portshift.so puts the drives Wine reports on port 12 (see its source);
# ld.so's $LIB picks the one of each loader's word size.
wenv() {
    chroot $R /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root USER=root \
        WINEPREFIX="$PREFIX" WINEDEBUG=-all LD_PRELOAD="$DRV/"'$LIB'"/portshift.so" \
        WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d;explorer.exe=d" "$@"
}
w64() { wenv /usr/lib/wine/wine64 "$@"; }

# Drives: the managed LUs' paths first, so that the drive scan has mapped
# every managed LU before it would open the unmanaged one's: Wine serves at
# most five distinct device nodes per process.
n=0
for hl in "$H1 0" "$H1 1" "$H2 0" "$H2 1" "$H1 2" "$H2 2"; do
    ln -sf "$(sd_of $hl)" "$R$PREFIX/dosdevices/physicaldrive$n"
    n=$((n + 1))
done
cp "$R$DRV/portdrv.sys" "$R$PREFIX/drive_c/windows/system32/drivers/$SVC.sys"
# The service key goes straight into the registry file, read when the server
# starts, so that services.exe knows the driver. WOW64=0: the driver is
# 64-bit, and services.exe would otherwise load it into the 32-bit
# winedevice.exe.
cat >> "$R$PREFIX/system.reg" <<EOF

[System\\\\CurrentControlSet\\\\Services\\\\$SVC] 1700000000
"ErrorControl"=dword:00000001
"ImagePath"="C:\\\\windows\\\\system32\\\\drivers\\\\$SVC.sys"
"Start"=dword:00000003
"Type"=dword:00000001
"WOW64"=dword:00000000
EOF

t=$(now_cs)
# A persistent server started apart from the runs, so that no run's output
# pipe is held by the server or its services.
wenv /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1
# The first run starts Wine's services; what they inherit is /dev/null.
feed() { w64 "$DRV/portfeed.exe" "$@"; }
feed probe $PORT 0 </dev/null >/dev/null 2>&1
echo "Wine started in $(elapsed $t)"

t=$(now_cs)
feed add $SVC 0 1 2 3 </dev/null >/tmp/feed 2>&1 &&
    feed add $SVC 4 5 </dev/null >>/tmp/feed 2>&1 &&
    feed start $SVC </dev/null >/tmp/sc 2>&1
rc=$?
detail < /tmp/feed
if [ $rc = 0 ]; then
    report_pass "port driver: fed with the six paths' addresses and INQUIRY data, started"
else
    detail < /tmp/sc
    report_fail "port driver: fed with the six paths' addresses and INQUIRY data, started"
fi
# What the driver was given: Wine's own numbering (port = channel + 2,
# shifted by 10 here; path = host) and the LUs' identities.
{
    n=0
    for hl in "$H1 0 ZORBELT TQ22-STORE      " "$H1 1 LOX     KAMBERLON       " \
              "$H2 0 ZORBELT TQ22-STORE      " "$H2 1 LOX     KAMBERLON       " \
              "$H1 2 LOX     KAMBERLON2      " "$H2 2 LOX     KAMBERLON2      "; do
        set -- $hl
        echo "PhysicalDrive$n: port $PORT path $1 target 1 lun $2 ${hl#* * }"
        n=$((n + 1))
    done
} | awk '{ printf "%s\r\n", $0 }' > /tmp/expected
if cmp -s /tmp/expected /tmp/feed; then
    report_pass "port driver: Wine reports port $PORT, path = host, target 1 and the LUs' INQUIRY identity"
else
    detail < /tmp/expected
    report_fail "port driver: Wine reports port $PORT, path = host, target 1 and the LUs' INQUIRY identity"
fi
# One bus per path id up to the highest, then six records of 12 + 36 bytes.
buses=$((H2 > H1 ? H2 + 1 : H1 + 1))
size=$(( (4 + 8 * buses + 7) / 8 * 8 + 6 * 48 ))
feed probe $PORT 16384 </dev/null >/tmp/probe 2>&1
feed probe $PORT $((size - 1)) </dev/null >>/tmp/probe 2>&1
printf 'ok %s\r\nerror 234\r\n' $size > /tmp/expected
if cmp -s /tmp/expected /tmp/probe; then
    report_pass "port driver: the whole area in $size bytes, one byte less refused with ERROR_MORE_DATA"
else
    detail < /tmp/probe
    report_fail "port driver: the whole area in $size bytes, one byte less refused with ERROR_MORE_DATA"
fi
echo "driver ready in $(elapsed $t)"

# ---- expected texts (CR LF line ends) ----------------------------------------
define_messages '\r\n'
m17() { printf 'ROVT10664-E An attempt to acquire Inquiry data failed. PortNo = 0x%s, Error Code = 0x%s\r\n' "$1" "$2"; }

# The listing for LUs a and b, each "count key type", through path H1 then H2.
listing() {
    local a=$1 b=$2 p=0 h lun state
    printf 'PathID PathName                        KeyCount ReservedKey      Type\r\n'
    for h in $H1 $H2; do
        lun=0
        for state in "$a" "$b"; do
            set -- $state
            printf '%06d %04X.%04X.0000000000000001.%04X %5d    %s %s\r\n' $p $PORT $h $lun $1 $2 $3
            p=$((p + 1))
            lun=$((lun + 1))
        done
    done
}

# ---- the checks, once per build -----------------------------------------------
run_vrxpr() {  # input args...
    local input=$1
    shift
    printf '%b' "$input" | $VRX "$@" >/tmp/out 2>/tmp/err
    echo $? >/tmp/rc
}

# vrxpr.exe on a terminal whose console's output code page is 437
# (withcp.exe sets it): what reaches the terminal, the console's cursor
# escapes taken out, as /tmp/out. The terminal keeps the console's line
# ends and is wide enough for a listing row (86 columns) to stay whole.
run_on_console() {  # args...
    wenv SHELL=/bin/bash /usr/bin/script -eqc \
        "stty -onlcr cols 200; exec $WINEC $DRV/withcp-$CHECK_TAG.exe 437 $EXE $*" /dev/null </dev/null >/tmp/tty 2>/tmp/err
    echo $? >/tmp/rc
    chroot $R /usr/bin/sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' </tmp/tty >/tmp/out
}

# The area sizes the port was asked with since the last look.
areas() { feed areas $SVC </dev/null 2>&1 | tr -d '\r'; }
setting() { feed set $SVC "$@" </dev/null >/dev/null 2>&1; }

# Registrations and reservations gone, through the other node.
wipe() {
    local d
    for d in "$@"; do
        persist --out --register-ignore --param-sark=0x99 $d >/dev/null
        persist --out --clear --param-rk=0x99 $d >/dev/null
    done
}

expect_clear() {  # listing pathid
    { echo "$1"; printf "$M8"; m9 $2; printf "$M10"; m11 $2; printf "$M0"; } > /tmp/expected
}

# One clear that succeeds: the listing, both prompts, message 11; the LU
# left without keys or reservation, the others as they were.
clear_case() {  # name listing pathid input cleared-dev other-dev...
    local name=$1 list=$2 p=$3 input=$4 dev=$5
    shift 5
    states "$@" > /tmp/before
    run_vrxpr "$input" -c
    expect_clear "$list" $p
    check_run "$name" /tmp/expected 0
    check_cleared "$name: no keys and no reservation left on the LU" $dev
    states "$@" > /tmp/after
    check_same "$name: the other LUs keep theirs" /tmp/before /tmp/after
}

# A clear started on answers still to come (fd 3); returns once its survey
# is over: the last commands go to LU b (PathIDs 1 and 3, the identity
# read, READ KEYS and READ RESERVATION each), and vrxpr then sends nothing
# until answered.
start_waiting_clear() {
    local cb i=0
    cb=$(lu_cmds b)
    rm -f /tmp/answers
    mkfifo /tmp/answers
    $VRX -c < /tmp/answers > /tmp/out 2>/tmp/err &
    pid=$!
    exec 3> /tmp/answers
    while [ $(($(lu_cmds b) - cb)) -lt 6 ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
}
answer_waiting_clear() {  # answers (printf %b)
    # (in a subshell: a vrxpr that ended early must not take this shell along)
    (printf '%b' "$1" >&3) 2>/dev/null
    exec 3>&-
    wait $pid
    echo $? > /tmp/rc
    rm -f /tmp/answers
}

scenario() {
    wipe $YA $YB $YU
    persist --out --register --param-sark=$KA $YA >/dev/null
    persist --out --reserve --param-rk=$KA --prout-type=5 $YA >/dev/null
    persist --out --register --param-sark=$KB $YB >/dev/null
    persist --out --reserve --param-rk=$KB --prout-type=6 $YB >/dev/null
    persist --out --register --param-sark=$KX "$(sg_of $H1 1)" >/dev/null
    persist --out --register --param-sark=$KU $YU >/dev/null
    persist --out --reserve --param-rk=$KU --prout-type=1 $YU >/dev/null

    LIST0=$(listing "1 A0A0000000000001 WriteExclusiveRegistrantOnly" \
        "2 B0B0000000000002 ExclusiveAccessRegistrantOnly")

    # -- display: the exact listing; only PR IN reaches the LUs
    states $YA $YB $YU > /tmp/before
    areas >/dev/null
    ca=$(lu_cmds a); cb=$(lu_cmds b); cu=$(lu_cmds u)
    run_vrxpr '' -d
    { echo "$LIST0"; printf "$M0"; } > /tmp/expected
    check_run "display: exact listing of both managed LUs through both paths" /tmp/expected 0
    # READ KEYS and READ RESERVATION per path; the unmanaged LU untouched.
    check_value "display: commands per LU (a, b, unmanaged)" "4 4 0" \
        "$(($(lu_cmds a) - ca)) $(($(lu_cmds b) - cb)) $(($(lu_cmds u) - cu))"
    states $YA $YB $YU > /tmp/after
    check_same "display: PR generation, keys and reservations unchanged" /tmp/before /tmp/after
    check_value "display: one inquiry request into 16384 bytes" "00400000" "$(areas)"
    # The same listing through the console at code page 437.
    run_on_console -d
    check_run "display on a console at code page 437: the same listing" /tmp/expected 0

    # -- drives renumbered while the clear waits: physicaldrive0 (LU a
    # through H1) now leads to LU b; neither LU may get a command.
    states $YA $YB $YU > /tmp/before
    start_waiting_clear
    ca=$(lu_cmds a); cb=$(lu_cmds b)
    ln -sf "$(sd_of $H1 1)" "$R$PREFIX/dosdevices/physicaldrive0"
    answer_waiting_clear '0\ny\ny\n'
    ca=$(($(lu_cmds a) - ca)); cb=$(($(lu_cmds b) - cb))
    ln -sf "$(sd_of $H1 0)" "$R$PREFIX/dosdevices/physicaldrive0"
    { echo "$LIST0"; printf "$M8"; m9 0; printf "$M10"
      m20 "$(printf '%04X.%04X.0000000000000001.0000' $PORT $H1)"; } > /tmp/expected
    check_run "drives renumbered while the clear waits: message 20 for the LU chosen" /tmp/expected 3
    check_value "drives renumbered while the clear waits: no command to either LU" "0 0" "$ca $cb"
    states $YA $YB $YU > /tmp/after
    check_same "drives renumbered while the clear waits: keys and reservations as they were" \
        /tmp/before /tmp/after

    # -- another LU presented at the chosen address while the clear waits:
    # LU a leaves H1's LUN 0 and LU h takes it. physicaldrive0 leads to the
    # new device and Wine reports the same address: only the identity,
    # read through the pass-through, tells.
    states $YA $YH > /tmp/before-h
    start_waiting_clear
    unexport_lu $X1 0
    export_lu $X1 0 h
    ln -sf "$(sd_of $H1 0)" "$R$PREFIX/dosdevices/physicaldrive0"
    settle "$(sg_of $H1 0)"
    sleep 1
    ca=$(lu_cmds a); ch=$(lu_cmds h)
    answer_waiting_clear '0\ny\ny\n'
    ca=$(($(lu_cmds a) - ca)); ch=$(($(lu_cmds h) - ch))
    { echo "$LIST0"; printf "$M8"; m9 0; printf "$M10"
      m20 "$(printf '%04X.%04X.0000000000000001.0000' $PORT $H1)"; } > /tmp/expected
    check_run "another LU at the chosen address: message 20 for the LU chosen" /tmp/expected 3
    check_value "another LU at the chosen address: nothing to LU a, the identity read alone to LU h" \
        "0 1" "$ca $ch"
    states $YA $YH > /tmp/after-h
    check_same "another LU at the chosen address: keys and reservations as they were" \
        /tmp/before-h /tmp/after-h
    unexport_lu $X1 0
    export_lu $X1 0 a
    ln -sf "$(sd_of $H1 0)" "$R$PREFIX/dosdevices/physicaldrive0"
    settle "$(sg_of $H1 0)"

    # -- cancelled clears change nothing
    check_cancels "$LIST0" 3
    states $YA $YB $YU > /tmp/after
    check_same "cancelled clears: every registration and reservation as it was" /tmp/before /tmp/after

    # -- this server not registered: REGISTER, CLEAR
    clear_case "clear PathID 0 (REGISTER, CLEAR)" "$LIST0" 0 '0\ny\ny\n' $YA $YB $YU

    # -- this server registered under another key: REGISTER AND IGNORE EXISTING KEY
    LIST1=$(listing "0 ---------------- None" "2 B0B0000000000002 ExclusiveAccessRegistrantOnly")
    clear_case "clear PathID 1 with this server registered under another key" "$LIST1" 1 \
        '1\r\ny\r\ny\r\n' $YB $YA $YU

    # -- after a fresh UNIT ATTENTION: a new LUN on path 1 raises REPORTED
    # LUNS DATA HAS CHANGED on its LUs while vrxpr waits at its prompt.
    persist --out --register --param-sark=$KA $YA >/dev/null
    persist --out --reserve --param-rk=$KA --prout-type=5 $YA >/dev/null
    persist --out --register --param-sark=$KB $YB >/dev/null
    LIST2=$(listing "1 A0A0000000000001 WriteExclusiveRegistrantOnly" "1 ---------------- None")
    states $YB $YU > /tmp/before
    start_waiting_clear
    export_lu $X1 $NEWLUN $NEWLU
    sg_of $H1 $NEWLUN >/dev/null
    answer_waiting_clear '0\ny\ny\n'
    expect_clear "$LIST2" 0
    check_run "clear after a unit attention (REGISTER retried)" /tmp/expected 0
    check_cleared "clear after a unit attention: no keys and no reservation left" $YA
    sg_turs "$(sg_of $H1 0)" >/dev/null 2>&1; ra=$?
    sg_turs "$(sg_of $H1 1)" >/dev/null 2>&1; rb=$?
    check_value "clear after a unit attention: vrxpr took it on the LU it cleared only" "0 6" "$ra $rb"
    states $YB $YU > /tmp/after
    check_same "clear after a unit attention: the other LUs keep theirs" /tmp/before /tmp/after
}

# The scenario with one build, started by its own Wine loader; the LU that
# takes LU a's place is another one each time.
build_checks() {  # tag new-lun new-lu loader exe
    t=$(now_cs)
    CHECK_TAG=$1 NEWLUN=$2 NEWLU=$3 WINEC=$4 EXE=$5
    VRX="wenv $WINEC $EXE"
    scenario
    echo "$CHECK_TAG checks took $(elapsed $t)"
}
build_checks x86_64 3 e /usr/lib/wine/wine64 "$EXE64"

t=$(now_cs)
# A port that refuses 16 KB is asked again with twice the area, whichever of
# its two refusals it gives; one that refuses every area ends the run.
LIST3=$(listing "0 ---------------- None" "1 ---------------- None")
setting RefuseBelow 40000
areas >/dev/null
run_vrxpr '' -d
{ echo "$LIST3"; printf "$M0"; } > /tmp/expected
check_run "display through a port that refuses areas below 40000 bytes" /tmp/expected 0
check_value "... asked with 16384, 32768, 65536 bytes" "004000000080000000000100" "$(areas)"
setting TooSmall 0xc0000023
run_vrxpr '' -d
check_run "display through a port that refuses with STATUS_BUFFER_TOO_SMALL" /tmp/expected 0
check_value "... asked with 16384, 32768, 65536 bytes" "004000000080000000000100" "$(areas)"
setting RefuseBelow 0x10000000
run_vrxpr '' -d
m17 "$(printf %x $PORT)" 7a > /tmp/expected
check_run "a port that refuses every area: message 17 with error 122" /tmp/expected 3
setting RefuseBelow -
setting TooSmall -
echo "refusing port checks took $(elapsed $t)"

[ "$I686_RUNS" != yes ] || build_checks i686 4 f /usr/lib/wine/wine "$EXE32"

wenv /usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1
echo "guest script took $(elapsed $t_boot) from LIO set-up to the end"
