#!/usr/bin/env bash
# Builds the utility with the simulated storage and lists the reservations
# of the sample storage, as an operator would with -d on a cluster node.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh" "$root/tools/deps/build.txt"
cmake -S "$root" -B "$root/build-demo" -G Ninja -DVRXPR_TESTS=OFF >/dev/null
cmake --build "$root/build-demo" --target vrxpr-sim >/dev/null
mkdir -p "$root/demo"
cd "$root/demo"
exec "$root/build-demo/vrxpr-sim" "${@:--d}"
