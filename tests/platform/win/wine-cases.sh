# Cases run against one built vrxpr.exe under Wine. Sourced by
# tools/win/test-wine.sh, which sets:
#   WINE      the Wine loader to start programs with
#   EXE       the vrxpr.exe under test
#   ARCH      x86_64 or i686 (for messages and the objdump to use)
#   WORK      a scratch folder of this architecture
#   CASES     full, or reduced (the i686 build started through qemu-user,
#             where every start of a 32-bit program costs about a minute)
#   RUN_TIMEOUT  seconds allowed to one run of the program
#   WITHCP    withcp.exe of this architecture (console code page cases)
#   JA_LOCPATH   LOCPATH holding ja_JP.UTF-8
# and reads the counters PASSED and FAILED.

CASE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
KEY1='HKLM\SYSTEM\CurrentControlSet\Services\VORXdsm'
KEY2='HKLM\SYSTEM\CurrentControlSet\Services\vrxfdrv'

pass() { PASSED=$((PASSED + 1)); echo "PASS [$ARCH] $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL [$ARCH] $1: $2"; }

# Expected bytes: the catalogue text with %s replaced by the argument,
# code page 932 for Japanese (or the character set given), CR LF line ends
# as the runtime's text mode writes them.
expect_text() { # lang file [arg [charset]] > bytes
    local lang=$1 file=$CASE_DIR/expected/$1/$2 arg=${3-} charset=${4-}
    [ -z "$charset" ] && [ "$lang" = ja ] && charset=CP932
    local esc=${arg//\\/\\\\}
    esc=${esc//&/\\&}
    esc=${esc//|/\\|}
    sed "s|%s|$esc|" "$file" |
        if [ -n "$charset" ]; then iconv -f UTF-8 -t "$charset"; else cat; fi |
        sed 's/$/\r/'
}

# Runs the program: stdin from $1, language $2 (en or ja), then arguments.
# Leaves stdout in $WORK/out, stderr in $WORK/err, exit code in RC and the
# wall time in ELAPSED (seconds, 3 decimals).
run_exe() {
    local in=$1 lang=$2 lc=C
    shift 2
    [ "$lang" = ja ] && lc=ja_JP.UTF-8
    local t0 t1
    t0=$(date +%s.%N)
    env -u LANG -u LANGUAGE -u LC_MESSAGES -u LC_CTYPE LC_ALL=$lc \
        timeout "$RUN_TIMEOUT" "$WINE" "$EXE" "$@" <"$in" >"$WORK/out" 2>"$WORK/err"
    RC=$?
    t1=$(date +%s.%N)
    ELAPSED=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
}

# Compares the last run with the expected bytes and exit code.
check_run() { # name expected-bytes-file exit-code
    local name=$1 exp=$2 code=$3
    if [ "$RC" = 124 ]; then
        fail "$name" "timed out after ${RUN_TIMEOUT}s"
    elif ! cmp -s "$exp" "$WORK/out"; then
        fail "$name" "output differs (exit $RC); expected then got:"
        od -c "$exp" | head -20 | sed 's/^/    /'
        echo "    ---"
        od -c "$WORK/out" | head -20 | sed 's/^/    /'
    elif [ "$RC" != "$code" ]; then
        fail "$name" "exit code $RC, expected $code"
    else
        pass "$name (${ELAPSED}s)"
    fi
}

# One case: name lang stdin-file exit-code expected(file[:arg]) args...
case_out() {
    local name=$1 lang=$2 in=$3 code=$4 spec=$5
    shift 5
    local file=${spec%%:*} arg=
    [ "$file" != "$spec" ] && arg=${spec#*:}
    expect_text "$lang" "$file" "$arg" >"$WORK/expected"
    run_exe "$in" "$lang" "$@"
    check_run "$name" "$WORK/expected" "$code"
}

# Whether the process is still there and not a zombie.
running() { # pid
    local state
    state=$(awk '{ sub(/^.*\) /, ""); print $1 }' "/proc/$1/stat" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}

# The description waits for one key, standard output a file or a pipe
# (vrxpr.exe | tee, a remote shell). The key is written only once every
# byte of the description is out and the program has had 2 s to end
# without it; a description held back gives up after PIPE_WAIT seconds
# instead of hanging. Then the program must end, exit 0, with the key's
# line still open.
case_description_waits() { # file or pipe
    local to=$1 name="no option, output a $1: the description is out and waits for the key"
    local wait=${PIPE_WAIT:-120} n inw outr pid t0 before alive
    expect_text en description.txt >"$WORK/expected"
    n=$(wc -c <"$WORK/expected")
    rm -f "$WORK/in.fifo" "$WORK/out.fifo" "$WORK/out"
    mkfifo "$WORK/in.fifo"
    [ "$to" = pipe ] && mkfifo "$WORK/out.fifo"
    t0=$(date +%s.%N)
    if [ "$to" = pipe ]; then
        env -u LANG LC_ALL=C timeout "$RUN_TIMEOUT" "$WINE" "$EXE" \
            <"$WORK/in.fifo" >"$WORK/out.fifo" 2>"$WORK/err" &
        pid=$!
        exec {inw}>"$WORK/in.fifo" {outr}<"$WORK/out.fifo"
        timeout "$wait" head -c "$n" <&$outr >"$WORK/out"
    else
        env -u LANG LC_ALL=C timeout "$RUN_TIMEOUT" "$WINE" "$EXE" \
            <"$WORK/in.fifo" >"$WORK/out" 2>"$WORK/err" &
        pid=$!
        exec {inw}>"$WORK/in.fifo"
        local i
        for ((i = 0; i < wait * 10; i++)); do
            [ "$(wc -c <"$WORK/out")" -ge "$n" ] && break
            running "$pid" || break
            sleep 0.1
        done
    fi
    before=$(wc -c <"$WORK/out")
    sleep 2
    running "$pid" && alive=yes || alive=no
    # In a subshell: a run that already ended must not take SIGPIPE here.
    (printf 'k' >&$inw) 2>/dev/null
    if [ "$to" = pipe ]; then
        cat <&$outr >>"$WORK/out"
        exec {outr}<&-
    fi
    wait "$pid"
    RC=$?
    exec {inw}>&-
    ELAPSED=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
    rm -f "$WORK/in.fifo" "$WORK/out.fifo"
    if [ "$before" != "$n" ]; then
        fail "$name" "$before of $n bytes had arrived after ${wait}s of waiting for them"
    elif [ "$alive" != yes ]; then
        fail "$name" "ended (exit $RC) before the key was written"
    else
        check_run "$name" "$WORK/expected" 0
    fi
}

# Standard output that cannot be written (a full disk) ends the run with
# code 3 and one line on standard error, whatever the run's own end; a
# reader that went away leaves the run its own code and says nothing.
case_output_failures() {
    local none=/dev/null row name code opt
    local full='vrxpr: cannot write standard output: No space left on device (Windows error 112)'
    for row in "0 -h" "2 -x" "2 -c:-d"; do
        code=${row%% *} opt=${row#* }
        name="output a full disk (${opt//:/ })"
        env -u LANG LC_ALL=C timeout "$RUN_TIMEOUT" "$WINE" "$EXE" ${opt//:/ } <$none >/dev/full 2>"$WORK/err"
        RC=$?
        if [ "$RC" != 3 ]; then
            fail "$name" "exit code $RC, expected 3"
        elif [ "$(cat "$WORK/err")" != "$full"$'\r' ]; then
            fail "$name" "standard error: $(od -c "$WORK/err" | head -5)"
        else
            pass "$name"
        fi
        name="output a pipe without a reader (${opt//:/ })"
        env -u LANG LC_ALL=C timeout "$RUN_TIMEOUT" "$WINE" "$EXE" ${opt//:/ } <$none 2>"$WORK/err" | true
        RC=${PIPESTATUS[0]}
        if [ "$RC" != "$code" ] || [ -s "$WORK/err" ]; then
            fail "$name" "exit code $RC (expected $code), standard error: $(head -c 200 "$WORK/err")"
        else
            pass "$name"
        fi
    done
}

reg_run() { timeout 60 "$WINE" reg "$@" </dev/null >/dev/null 2>&1; }

reset_keys() {
    reg_run delete "$KEY1" /f
    reg_run delete "$KEY2" /f
    if reg_run query "$KEY1" || reg_run query "$KEY2"; then
        fail "registry reset" "a service key is still there"
        return 1
    fi
    return 0
}

# Device names the last run opened, one a line, from Wine's file trace.
opened_devices() {
    grep 'trace:file:CreateFileW L"\\\\\\\\.\\\\' "$WORK/err" |
        sed -e 's/^.*CreateFileW L"//' -e 's/\\\\/\\/g' -e 's/" / /'
}

# Guard case: with the registry as the caller left it, -d (and -c) must
# stop with message 21 and exit 2 without opening any device.
case_guard() { # name lang option
    local name=$1 lang=$2 opt=$3
    expect_text "$lang" msg21.txt >"$WORK/expected"
    WINEDEBUG=-all,trace+file run_exe /dev/null "$lang" "$opt"
    check_run "$name" "$WORK/expected" 2
    local n
    n=$(opened_devices | wc -l)
    if [ "$n" != 0 ]; then
        fail "$name: no device opened" "$n device opens, first: $(opened_devices | head -1)"
    else
        pass "$name: no device opened"
    fi
}

# The buffers handed to IOCTL_SCSI_PASS_THROUGH_DIRECT must sit on a page
# boundary in the linked image (the loader relocates by 64 KiB steps).
case_alignment() {
    local objdump=$ARCH-w64-mingw32-objdump list bad
    list=$("$objdump" --dwarf=info "$EXE" 2>/dev/null | awk -f "$CASE_DIR/pr-data-align.awk")
    if [ -z "$list" ]; then
        fail "PR_DATA objects page-aligned" "no static PR_DATA object found in the debug information"
        return
    fi
    bad=$(echo "$list" | while read -r n a; do
        [ $((16#$a % 4096)) = 0 ] || echo "$n@0x$a"
    done)
    if [ -n "$bad" ]; then
        fail "PR_DATA objects page-aligned" "misaligned: $bad"
    else
        pass "PR_DATA objects page-aligned ($(echo "$list" | awk '{ printf "%s%s@0x%s", s, $1, $2; s = " " }'))"
    fi
}

case_imports() {
    local got
    got=$("$ARCH-w64-mingw32-objdump" -p "$EXE" | awk '/DLL Name:/ { print toupper($3) }' | sort | tr '\n' ' ')
    if [ "$got" = "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL " ]; then
        pass "imports only system DLLs"
    else
        fail "imports only system DLLs" "imports: $got"
    fi
}

run_wine_cases() {
    local none=/dev/null key=$WORK/key
    printf 'k\n' >"$key"

    case_imports
    case_alignment

    # Options and the two simple modes.
    case_out "-h: help" en $none 0 help.txt -h
    case_out "no option, end of input: description" en $none 0 description.txt
    case_out "-c -d: conflicting options" en $none 2 msg01.txt:"-c -d" -c -d
    case_out "-h (Japanese): help in code page 932" ja $none 0 help.txt -h
    if [ "$CASES" = full ]; then
        case_out "-cd: one unrecognised argument" en $none 2 msg03.txt:-cd -cd
        case_out "-H: help" en $none 0 help.txt -H
        case_out "no option, a key waiting: description" en "$key" 0 description.txt
        case_out "-d -d: repeated option" en $none 2 msg01.txt:"-d -d" -d -d
        case_out "-x: unrecognised option" en $none 2 msg03.txt:-x -x
        case_out "-d -x: unrecognised option wins" en $none 2 msg03.txt:-x -d -x
        case_out "-x -d: parsing stops at -x" en $none 2 msg03.txt:-x -x -d
        case_out "no option (Japanese): description in code page 932" ja $none 0 description.txt
        case_out "-c -d (Japanese)" ja $none 2 msg01.txt:"-c -d" -c -d
        case_out "-x (Japanese)" ja $none 2 msg03.txt:-x -x

    fi
    if [ "$CASES" = full ]; then
        case_description_waits file
        case_description_waits pipe
        case_output_failures
    fi

    # Installation guard against Wine's own registry.
    reset_keys || return 0

    if [ "$CASES" = full ]; then
        # Only the second key.
        reg_run add "$KEY2" /f
        case_guard "guard: only the second key (-d)" en -d
        case_guard "guard: only the second key (-c)" en -c
        case_guard "guard: only the second key (Japanese)" ja -d
    fi
    reset_keys || return 0

    # The first key without a default value (query: ERROR_FILE_NOT_FOUND).
    # Wine's reg prints "(value not set)" for a missing default value.
    reg_run add "$KEY1" /f
    reg_run delete "$KEY1" /ve /f
    if ! timeout 60 "$WINE" reg query "$KEY1" /ve </dev/null 2>/dev/null | grep -q "value not set"; then
        fail "guard: first key without a default value" "could not set the key up"
    else
        case_guard "guard: first key without a default value" en -d
    fi
    reset_keys || return 0

    if [ "$CASES" = full ]; then
        # The first key with a default value longer than the 4-byte buffer
        # (query: ERROR_MORE_DATA).
        reg_run add "$KEY1" /ve /d 0123456789 /f
        case_guard "guard: first key, default value of 10 characters" en -d
        reset_keys || return 0

        # The first key with an empty default value (query succeeds).
        reg_run add "$KEY1" /f
        case_guard "guard: first key, empty default value" en -c
        reset_keys || return 0
    fi

    # Neither key: the scan runs through every port and drive name and
    # finds nothing.
    case_out "neither key, -d: no LU (message 13)" en $none 0 msg13.txt -d
    echo "TIME [$ARCH] no-LU run (256 ports, 32768 drives, real CreateFileA): ${ELAPSED}s"
    if [ "$CASES" = full ]; then
        case_out "neither key, -c: no LU" en $none 0 msg13.txt -c
        case_out "neither key (Japanese): no LU" ja $none 0 msg13.txt -d

    fi

    # Every name opened, in order, with the access, sharing and
    # disposition of the device opens: ports named in decimal, as Windows
    # names them, up to the one byte of SCSI_ADDRESS.PortNumber.
    expect_text en msg13.txt >"$WORK/expected"
    WINEDEBUG=-all,trace+file run_exe $none en -d
    check_run "no-LU run traced" "$WORK/expected" 0
    {
        seq 0 255 | awk '{ printf "\\\\.\\Scsi%d: GENERIC_READ GENERIC_WRITE FILE_SHARE_READ FILE_SHARE_WRITE  creation 3 attributes 0x0\n", $1 }'
        seq 0 32767 | awk '{ printf "\\\\.\\PhysicalDrive%d GENERIC_READ GENERIC_WRITE FILE_SHARE_READ FILE_SHARE_WRITE  creation 3 attributes 0x0\n", $1 }'
    } >"$WORK/devices.expected"
    opened_devices >"$WORK/devices"
    if cmp -s "$WORK/devices.expected" "$WORK/devices"; then
        pass "no-LU run opened Scsi0: to Scsi255: and PhysicalDrive0 to 32767, read/write, shared, OPEN_EXISTING"
    else
        fail "no-LU run device opens" "differ from the expected 33024 opens:"
        diff "$WORK/devices.expected" "$WORK/devices" | head -10 | sed 's/^/    /'
    fi

    run_console_cases
}

# Runs the program on a terminal (script) under the Japanese user language,
# through withcp.exe, which sets the console's output code page first. The
# terminal's bytes, the console's cursor escapes taken out, go to
# $WORK/tty; with a file named, the program's standard output goes there
# instead (a console still exists, with that code page). Exit code in RC.
# LC_CTYPE decides Wine's ANSI code page: C.UTF-8 gives 1252, as on a
# server installed in English whose user language is Japanese.
run_on_console() { # codepage ctype stdout-file-or-empty args...
    local page=$1 ctype=$2 redirect=$3 cmd a t0
    shift 3
    # The terminal keeps the line ends the console writes, and is wide
    # enough that the console never wraps a line.
    cmd="stty -onlcr cols 200; exec $WINE $WITHCP $page $EXE"
    for a in "$@"; do cmd+=" $(printf '%q' "$a")"; done
    [ -n "$redirect" ] && cmd+=" >$redirect"
    t0=$(date +%s.%N)
    env -u LANG -u LANGUAGE -u LC_ALL SHELL=/bin/bash LOCPATH="$JA_LOCPATH" \
        LC_MESSAGES=ja_JP.UTF-8 LC_CTYPE="$ctype" \
        timeout "$RUN_TIMEOUT" script -eqc "$cmd" /dev/null </dev/null >"$WORK/tty.raw" 2>"$WORK/err"
    RC=$?
    ELAPSED=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
    sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$WORK/tty.raw" >"$WORK/tty"
}

# Japanese messages on a console whose output code page is not 932: the
# terminal must show the catalogue's text (UTF-8 there) and the operator's
# argument as typed, whatever the ANSI code page; with standard output in
# a file, the bytes stay code page 932 with CR LF, the argument as the
# runtime gave it.
run_console_cases() {
    local pages="437 65001" page row file code arg ctype argbytes name
    # file exit-code argument LC_CTYPE the argument's bytes in the ANSI code page
    local rows=("help.txt|0|-h|ja_JP.UTF-8|" "msg03.txt|2|-テスト|ja_JP.UTF-8|-\x83e\x83X\x83g"
                "msg03.txt|2|-é|C.UTF-8|-\xe9")
    [ "$CASES" = full ] || pages=437
    for row in "${rows[@]}"; do
        IFS='|' read -r file code arg ctype argbytes <<<"$row"
        for page in $pages; do
            name="console, code page $page, LC_CTYPE $ctype: $file $arg reads as typed"
            expect_text ja "$file" "$arg" UTF-8 >"$WORK/expected"
            run_on_console "$page" "$ctype" "" "$arg"
            cp "$WORK/tty" "$WORK/out"
            check_run "$name" "$WORK/expected" "$code"
        done
        name="console at code page 437, LC_CTYPE $ctype, output in a file: $file $arg in code page 932"
        expect_text ja "$file" @ARG@ | LC_ALL=C sed "s/@ARG@/$argbytes/" >"$WORK/expected"
        rm -f "$WORK/redirected"
        run_on_console 437 "$ctype" "$WORK/redirected" "$arg"
        cp "$WORK/redirected" "$WORK/out" 2>/dev/null || : >"$WORK/out"
        check_run "$name" "$WORK/expected" "$code"
        if [ -s "$WORK/tty" ]; then
            fail "$name: nothing on the terminal" "$(od -c "$WORK/tty" | head -3)"
        fi
    done
}
