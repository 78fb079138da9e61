# Host-side helpers of the guest tests.
GUEST_SKIPS=()

# Prints the guest scripts' own lines of console logs (kernel messages stay
# in the logs) and the closing "SUITE: N passed, M failed, K skipped" line
# over all of them; fails when a check failed, none passed, or a script did
# not finish. The host's own skips come as "NAME: reason" entries of the
# array GUEST_SKIPS.
guest_console_report() {  # suite log...
    local suite=$1 log passed=0 failed=0 s
    shift
    for log in "$@"; do
        awk '/GUEST-BEGIN/ { on = 1; next } /^GUEST-END/ { on = 0 } on && !/^\[ *[0-9]+\.[0-9]+\]/' "$log"
        passed=$((passed + $(grep -c '^GUEST-PASS: ' "$log")))
        failed=$((failed + $(grep -c '^GUEST-FAIL: ' "$log")))
        if ! grep -q '^GUEST-END' "$log"; then
            echo "GUEST-FAIL: the guest did not finish its script ($log)"
            failed=$((failed + 1))
        fi
    done
    [ "$passed" -eq 0 ] && failed=$((failed + 1))
    for s in "${GUEST_SKIPS[@]}"; do echo "skipped: $s"; done
    echo "$suite: $passed passed, $failed failed, ${#GUEST_SKIPS[@]} skipped"
    [ "$failed" -eq 0 ]
}
