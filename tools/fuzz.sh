#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-fuzz"
seconds=${VRXPR_FUZZ_SECONDS:-60}
if ! cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
       -DVRXPR_FUZZ=ON -DVRXPR_TESTS=OFF -DVRXPR_WERROR=ON >"$dir.log" 2>&1 ||
   ! cmake --build "$dir" --target fuzz_device_data >>"$dir.log" 2>&1; then
  tail -n 40 "$dir.log"
  echo "fuzz: 0 passed, 1 failed"
  exit 1
fi
corpus="$dir/corpus"
mkdir -p "$corpus"
cp "$root"/tests/fuzz/seeds/* "$corpus"/ 2>/dev/null
if "$dir/fuzz_device_data" -max_total_time="$seconds" -max_len=16385 -timeout=5 \
     -print_final_stats=1 -artifact_prefix="$dir/" "$corpus" >"$dir.run.log" 2>&1; then
  grep -E "stat::number_of_executed_units|Done" "$dir.run.log" | tail -n 2
  echo "fuzz: 1 passed, 0 failed"
else
  tail -n 60 "$dir.run.log"
  echo "fuzz: 0 passed, 1 failed"
  exit 1
fi
