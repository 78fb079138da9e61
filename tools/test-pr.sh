#!/usr/bin/env bash
# Builds and runs the reservation tests (test_pr) against the simulated
# storage. VRXPR_SANITIZE=ON runs them under AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build folder of their own.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
suite=pr
bash "$root/tools/install-deps.sh" "$root/tools/deps/pr.txt" || { echo "$suite: 0 passed, 1 failed"; exit 1; }

sanitize=${VRXPR_SANITIZE:-OFF}
dir="$root/build-pr"
[ "$sanitize" = ON ] && dir="$root/build-pr-asan"
mkdir -p "$dir"
if ! cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVRXPR_TESTS=ON \
       -DVRXPR_SANITIZE="$sanitize" >"$dir/pr-configure.log" 2>&1 ||
   ! cmake --build "$dir" -j "$(nproc)" --target test_pr >"$dir/pr-build.log" 2>&1; then
  cat "$dir/pr-configure.log" "$dir/pr-build.log" 2>/dev/null | tail -n 60
  echo "$suite: 0 passed, 1 failed"
  exit 1
fi

log="$dir/pr-test.log"
"$dir/tests/test_pr" --gtest_color=no >"$log" 2>&1
rc=$?
grep -E "^\[ *(FAILED|PASSED) *\]|Failure$" "$log" | tail -n 60
passed=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log" | tail -n 1)
failed=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below:.*/\1/p' "$log" | tail -n 1)
passed=${passed:-0}
failed=${failed:-0}
if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then
  tail -n 40 "$log"
  failed=1
fi
echo "$suite: $passed passed, $failed failed"
[ "$rc" -eq 0 ] && [ "$failed" -eq 0 ]
