# Host-side helpers of the guest tests.

# Prints the guest script's own lines of a console log (kernel messages stay
# in the log) and the closing "SUITE: N passed, M failed" line; fails when a
# check failed, none passed, or the script did not finish.
guest_console_report() {  # log suite
    local passed failed
    awk '/GUEST-BEGIN/ { on = 1; next } /^GUEST-END/ { on = 0 } on && !/^\[ *[0-9]+\.[0-9]+\]/' "$1"
    passed=$(grep -c '^GUEST-PASS: ' "$1")
    failed=$(grep -c '^GUEST-FAIL: ' "$1")
    if ! grep -q '^GUEST-END' "$1"; then
        echo "GUEST-FAIL: the guest did not finish its script"
        failed=$((failed + 1))
    fi
    [ "$passed" -eq 0 ] && failed=$((failed + 1))
    echo "$2: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
