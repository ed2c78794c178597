#!/usr/bin/env bash
# The main job: ./scripts/run.sh [STORE]
#
# Sets up a fresh Debian 12 machine, builds, and recovers every folder of
# STORE into ./recovered/. Without STORE it first generates the demo offline
# store (./demo/outlook.ost, with one damaged B-tree page). Prints what was
# saved and the store checker's verdict on every output store; the exit code
# is 0 only when the saving completed and every output store passed.
# BRIGHTMEND_BUILD_DIR names the build tree (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BRIGHTMEND_BUILD_DIR:-build}
./scripts/setup.sh
# Only what the main job runs: the command line and the demo-store generator.
cmake -S . -B "$build" -G Ninja -DBRIGHTMEND_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target brightmend-cli make_demo_store
cli=$build/src/cli/brightmend-cli

store=${1:-}
if [ -z "$store" ]; then
  store=demo/outlook.ost
  echo "== Generating the demo store $store"
  "$build"/tools/make_demo_store "$store" >/dev/null
fi
if [ ! -f "$store" ]; then
  echo "run.sh: no store file at $store" >&2
  exit 1
fi

out=recovered
mkdir -p "$out"
echo "== Recovering every folder of $store into ./$out/"
report=$(mktemp)
trap 'rm -f "$report"' EXIT
status=0
"$cli" save "$store" --to "$out" --all --json >"$report" || status=$?
/usr/bin/python3 - "$report" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
print("Outcome: %s" % r.get("outcome", "?"))
for path in r.get("outputStores", []):
    print("Output store: %s" % path)
for label, n in r.get("savedCounts", {}).items():
    print("  %-16s %d" % (label, n))
PY

# The store checker's verdict on each output store.
verdicts=0
while IFS= read -r output; do
  [ -n "$output" ] || continue
  echo "== Checking $output"
  "$cli" check "$output" || verdicts=1
done < <(/usr/bin/python3 -c 'import json,sys; [print(p) for p in json.load(open(sys.argv[1])).get("outputStores", [])]' "$report")

if [ "$status" -ne 0 ] || [ "$verdicts" -ne 0 ]; then
  echo "== The recovery did not complete cleanly" >&2
  exit 1
fi
echo "== Done: the recovered store(s) are in ./$out/"
