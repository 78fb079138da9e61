#!/usr/bin/env bash
# Installs what the tests need (as root, only what is missing), then builds
# and runs every suite: unit and end-to-end tests on the simulated storage,
# the same under AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz
# targets for a bounded time, the Windows builds under Wine, the Linux build
# and both Windows builds against the kernel's SCSI target in a QEMU guest,
# and the release packages.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

bash tools/install-deps.sh || { echo "package installation failed"; exit 1; }

total_pass=0
total_fail=0
total_skip=0
summary=()
skipped=()

record() {  # suite passed failed skipped
  total_pass=$((total_pass + $2))
  total_fail=$((total_fail + $3))
  total_skip=$((total_skip + $4))
  summary+=("$1: $2 passed, $3 failed, $4 skipped")
}

# Each test's result from ctest's JUnit file: "pass", "fail" or "skip NAME:
# reason" lines. A test skipped on purpose (GTEST_SKIP, through
# gtest_discover_tests' skip pattern) is a skip, its reason the message
# GoogleTest printed; one that did not run for another cause (its program
# missing) failed.
junit_results() {  # junit-file
  python3 - "$1" <<'PY'
import sys
import xml.etree.ElementTree as ET
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    status = case.get("status")
    skip = case.find("skipped")
    if status == "run":
        print("pass")
    elif status == "disabled":
        print("skip %s: disabled" % case.get("name"))
    elif status == "notrun" and skip is not None and skip.get("message", "").startswith("SKIP_"):
        out = (case.findtext("system-out") or "").splitlines()
        reason = []
        for line in out:
            if line.startswith("[  SKIPPED ]"):
                break
            if reason or line.endswith(": Skipped"):
                reason.append(line.strip())
        text = " ".join(r for r in reason[1:] if r) or "no reason given"
        print("skip %s: %s" % (case.get("name"), text))
    else:
        print("fail")
PY
}

# ctest's closing line: "100% tests passed, 0 tests failed out of 42"; the
# counts come from its JUnit file, where a skipped test is not a passed one.
run_ctest() {  # suite builddir cmake-args...
  local suite=$1 dir=$2
  shift 2
  echo "=== $suite"
  if ! cmake -S "$root" -B "$dir" -G Ninja -DVRXPR_TESTS=ON -DVRXPR_WERROR=ON "$@" >"$dir.configure.log" 2>&1 ||
     ! cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1; then
    cat "$dir.configure.log" "$dir.build.log" 2>/dev/null | tail -n 60
    record "$suite" 0 1 0
    return
  fi
  local log="$dir.test.log" junit="$dir.junit.xml"
  rm -f "$junit"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 600 --output-junit "$junit") >"$log" 2>&1
  grep -E "tests passed|Failed|\*\*\*" "$log" | tail -n 40
  local results
  if ! grep -qE "tests passed, [0-9]+ tests failed out of [0-9]+" "$log" ||
     ! results=$(junit_results "$junit"); then
    tail -n 40 "$log"
    record "$suite" 0 1 0
    return
  fi
  local line p=0 f=0 k=0
  while read -r line; do
    case $line in
      pass) p=$((p + 1)) ;;
      fail) f=$((f + 1)) ;;
      skip\ *) k=$((k + 1)); skipped+=("$suite: ${line#skip }") ;;
    esac
  done <<<"$results"
  record "$suite" "$p" "$f" "$k"
}

# Scripts that close with "<suite>: N passed, M failed" or "<suite>: N
# passed, M failed, K skipped", each skipped test named on a line of its own
# as "skipped: NAME: reason".
run_script() {  # suite script
  local suite=$1 script=$2
  echo "=== $suite"
  local log
  log=$(mktemp)
  bash "$script" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E "^$suite: [0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?$" "$log" | tail -n 1)
  local reasons
  reasons=$(sed -n 's/^skipped: //p' "$log")
  rm -f "$log"
  if [ -z "$line" ]; then
    record "$suite" 0 1 0
    return
  fi
  local p f k=0
  p=$(sed -E 's/^[^:]*: ([0-9]+) passed.*/\1/' <<<"$line")
  f=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")
  [[ $line == *skipped ]] && k=$(sed -E 's/.* ([0-9]+) skipped$/\1/' <<<"$line")
  [ "$rc" -ne 0 ] && [ "$f" -eq 0 ] && f=1
  local r
  while IFS= read -r r; do
    [ -n "$r" ] && skipped+=("$suite: $r")
  done <<<"$reasons"
  # A skip the script counted but did not name still shows.
  local named
  named=$(grep -c . <<<"$reasons")
  [ "$named" -lt "$k" ] && skipped+=("$suite: $((k - named)) skipped tests not named by the script")
  record "$suite" "$p" "$f" "$k"
}

run_ctest unit "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_ctest sanitizers "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVRXPR_SANITIZE=ON
run_script fuzz tools/fuzz.sh
[ -f tools/win/test-wine.sh ] && run_script wine tools/win/test-wine.sh
[ -f tools/guest/test-guest.sh ] && run_script guest tools/guest/test-guest.sh
[ -f tools/guest/test-wine-guest.sh ] && run_script wineguest tools/guest/test-wine-guest.sh
run_script package tests/package/test-package.sh

echo
for s in "${summary[@]}"; do echo "  $s"; done
if [ ${#skipped[@]} -gt 0 ]; then
  echo "skipped:"
  for s in "${skipped[@]}"; do echo "  $s"; done
fi
echo "all: $total_pass passed, $total_fail failed, $total_skip skipped"
[ "$total_fail" -eq 0 ]
