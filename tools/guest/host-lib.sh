# Host-side helpers of the guest tests.

# Prints the guest script's own lines of a console log (kernel messages stay
# in the log) and the closing "SUITE: N passed, M failed, K skipped" line;
# fails when a check failed, none passed, or the script did not finish. The
# host's own skips come as "NAME: reason" arguments.
guest_console_report() {  # log suite [skip...]
    local log=$1 suite=$2 passed failed s
    shift 2
    awk '/GUEST-BEGIN/ { on = 1; next } /^GUEST-END/ { on = 0 } on && !/^\[ *[0-9]+\.[0-9]+\]/' "$log"
    passed=$(grep -c '^GUEST-PASS: ' "$log")
    failed=$(grep -c '^GUEST-FAIL: ' "$log")
    if ! grep -q '^GUEST-END' "$log"; then
        echo "GUEST-FAIL: the guest did not finish its script"
        failed=$((failed + 1))
    fi
    [ "$passed" -eq 0 ] && failed=$((failed + 1))
    for s in "$@"; do echo "skipped: $s"; done
    echo "$suite: $passed passed, $failed failed, $# skipped"
    [ "$failed" -eq 0 ]
}
