#!/bin/sh
# Builds the fuzz targets with clang and runs them.
#   scripts/fuzz.sh [seconds] [store|save|all]   (default: 60 all)
# Both targets take libFuzzer's byte mutations and, about half the time, a
# mutation that knows the store's index pages: one entry's offset, size, id
# or key, or one page's level or entry count, changed, with the page's CRC
# made to match again half the time (tests/fuzz/store_mutation.cpp). An
# input that runs longer than the target's time limit is a hang, and a
# finding like a crash (build-fuzz/crashes/<target>-timeout-*).
# store: the reading path (open, index walk, deep scan, every item).
# save:  the saving path (a mutated store analysed, saved whole, and the
#        saved store read by the store checker; an invalid output is a
#        finding like a crash).
# all:   both, one after the other, sharing the seconds (the smoke run CI
#        makes); 0 seconds runs one named target until stopped.
# A longer run of one target: scripts/fuzz.sh 600 save
# The seed corpus is made from the shared stores: each small .pst whole, and
# the first 64 KiB and 128 KiB of every store (the offline stores, 4 KiB
# layout included, are too large to take whole; their cut copies reach the
# deep scan's paths). Each target keeps its own corpus in
# build-fuzz/corpus-<target>; crashes and invalid outputs land in
# build-fuzz/crashes/ (prefix <target>-).
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
which=${2:-all}
stores=${BRIGHTMEND_STORES:-../shared/stores}
case "$which" in
  store|save|all) ;;
  *) echo "usage: scripts/fuzz.sh [seconds] [store|save|all]" >&2; exit 2 ;;
esac
if [ "$which" = all ] && [ "$seconds" -eq 0 ]; then
  echo "scripts/fuzz.sh: 0 seconds (until stopped) needs one target: store or save" >&2
  exit 2
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBRIGHTMEND_FUZZ=ON -DBRIGHTMEND_BUILD_UI=OFF -DBRIGHTMEND_BUILD_TESTS=OFF -DBRIGHTMEND_BUILD_BENCH=OFF >/dev/null
case "$which" in
  all) ninja -C build-fuzz -j2 store_fuzzer save_fuzzer ;;
  *) ninja -C build-fuzz -j2 "${which}_fuzzer" ;;
esac
mkdir -p build-fuzz/corpus-store build-fuzz/corpus-save build-fuzz/seeds build-fuzz/crashes
for s in "$stores"/*.pst "$stores"/*.ost; do
  [ -f "$s" ] || continue
  name=$(basename "$s")
  [ "$(stat -c %s "$s")" -gt 300000 ] || cp "$s" "build-fuzz/seeds/$name"
  head -c 65536 "$s" > "build-fuzz/seeds/$name.64k"
  head -c 131072 "$s" > "build-fuzz/seeds/$name.128k"
done

run() {  # target seconds
  # Inputs are at most 300 KB: the slowest takes well under a second to
  # read and to save, so 10 s reading or 20 s saving is a hang. The input
  # that hangs is written out once its limit has passed, so the limits also
  # bound how far past its share a smoke run that finds one goes.
  timeout=10
  [ "$1" = store ] || timeout=20
  build-fuzz/tests/fuzz/"$1"_fuzzer build-fuzz/corpus-"$1" build-fuzz/seeds -max_len=300000 -timeout="$timeout" \
    -rss_limit_mb=2048 -max_total_time="$2" -artifact_prefix=build-fuzz/crashes/"$1"- -print_final_stats=1
}
case "$which" in
  all)
    # The reading target is quick per input, the saving one slow: the
    # saving one gets the larger share.
    store_seconds=$((seconds / 3))
    [ "$store_seconds" -gt 0 ] || store_seconds=1
    save_seconds=$((seconds - store_seconds))
    [ "$save_seconds" -gt 0 ] || save_seconds=1
    run store "$store_seconds"
    run save "$save_seconds"
    ;;
  *) run "$which" "$seconds" ;;
esac
