#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-fuzz"
seconds=${VRXPR_FUZZ_SECONDS:-45}
if ! cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
       -DVRXPR_FUZZ=ON -DVRXPR_TESTS=OFF -DVRXPR_WERROR=ON >"$dir.log" 2>&1 ||
   ! cmake --build "$dir" --target fuzz_device_data fuzz_device_data_wide >>"$dir.log" 2>&1; then
  tail -n 40 "$dir.log"
  echo "fuzz: 0 passed, 1 failed"
  exit 1
fi
passed=0
failed=0
# Windows' record layout (also the simulated storage's), then Linux's.
for target in fuzz_device_data fuzz_device_data_wide; do
  corpus="$dir/corpus-$target"
  mkdir -p "$corpus"
  cp "$root"/tests/fuzz/seeds/* "$corpus"/ 2>/dev/null
  if "$dir/$target" -max_total_time="$seconds" -max_len=16385 -timeout=5 \
       -print_final_stats=1 -artifact_prefix="$dir/$target-" "$corpus" >"$dir.$target.log" 2>&1; then
    echo "$target:"
    grep -E "stat::number_of_executed_units|Done" "$dir.$target.log" | tail -n 2
    passed=$((passed + 1))
  else
    tail -n 60 "$dir.$target.log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
