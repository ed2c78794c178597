#!/bin/sh
# Builds the store fuzzer with clang and runs it.
#   scripts/fuzz.sh [seconds]   (default 60; 0 runs until stopped)
# The seed corpus is made from the shared stores: each small .pst whole, and
# the first 64 KiB and 128 KiB of every store (the offline stores, 4 KiB
# layout included, are too large to take whole; their cut copies reach the
# deep scan's paths). Crashes land in build-fuzz/crashes/.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
stores=${BRIGHTMEND_STORES:-../shared/stores}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBRIGHTMEND_FUZZ=ON -DBRIGHTMEND_BUILD_UI=OFF -DBRIGHTMEND_BUILD_TESTS=OFF -DBRIGHTMEND_BUILD_BENCH=OFF >/dev/null
ninja -C build-fuzz -j2 store_fuzzer
mkdir -p build-fuzz/corpus build-fuzz/seeds build-fuzz/crashes
for s in "$stores"/*.pst "$stores"/*.ost; do
  [ -f "$s" ] || continue
  name=$(basename "$s")
  [ "$(stat -c %s "$s")" -gt 300000 ] || cp "$s" "build-fuzz/seeds/$name"
  head -c 65536 "$s" > "build-fuzz/seeds/$name.64k"
  head -c 131072 "$s" > "build-fuzz/seeds/$name.128k"
done
exec build-fuzz/tests/fuzz/store_fuzzer build-fuzz/corpus build-fuzz/seeds -max_len=300000 -timeout=20 \
  -rss_limit_mb=2048 -max_total_time="$seconds" -artifact_prefix=build-fuzz/crashes/ -print_final_stats=1
