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
summary=()

record() {  # suite passed failed
  total_pass=$((total_pass + $2))
  total_fail=$((total_fail + $3))
  summary+=("$1: $2 passed, $3 failed")
}

# ctest's closing line: "100% tests passed, 0 tests failed out of 42"
run_ctest() {  # suite builddir cmake-args...
  local suite=$1 dir=$2
  shift 2
  echo "=== $suite"
  if ! cmake -S "$root" -B "$dir" -G Ninja -DVRXPR_TESTS=ON -DVRXPR_WERROR=ON "$@" >"$dir.configure.log" 2>&1 ||
     ! cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1; then
    cat "$dir.configure.log" "$dir.build.log" 2>/dev/null | tail -n 60
    record "$suite" 0 1
    return
  fi
  local log="$dir.test.log"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 600) >"$log" 2>&1
  grep -E "tests passed|Failed|\*\*\*" "$log" | tail -n 40
  local line
  line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$log" | tail -n 1)
  if [ -z "$line" ]; then
    tail -n 40 "$log"
    record "$suite" 0 1
    return
  fi
  local failed all
  failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  all=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  record "$suite" $((all - failed)) "$failed"
}

# Scripts that close with "<suite>: N passed, M failed".
run_script() {  # suite script
  local suite=$1 script=$2
  echo "=== $suite"
  local log
  log=$(mktemp)
  bash "$script" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E "^$suite: [0-9]+ passed, [0-9]+ failed$" "$log" | tail -n 1)
  rm -f "$log"
  if [ -z "$line" ]; then
    record "$suite" 0 1
    return
  fi
  local p f
  p=$(sed -E 's/.*: ([0-9]+) passed, ([0-9]+) failed/\1/' <<<"$line")
  f=$(sed -E 's/.*: ([0-9]+) passed, ([0-9]+) failed/\2/' <<<"$line")
  [ "$rc" -ne 0 ] && [ "$f" -eq 0 ] && f=1
  record "$suite" "$p" "$f"
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
echo "all: $total_pass passed, $total_fail failed"
[ "$total_fail" -eq 0 ]
