#!/usr/bin/env bash
# Writes a store of about SIZE_MB MB through the writer's public API and has
# both checkers read it whole: Microsoft's open reader (opst-validate
# --no-rebuild) and `brightmend-cli check --strict`, the latter under
# /usr/bin/time -v for its peak memory. Opt-in (minutes and gigabytes of
# disk per run), never part of ctest.
#
#   bench/big_store_check.sh SIZE_MB [BUILD_DIR] [PARENT_DIR]
#
#   SIZE_MB     in MiB: 2100 makes 2.2 GB (past 2.1 GB and 2 GiB), 4200 makes
#               4.4 GB (past 4.3 GB and 4 GiB)
#   BUILD_DIR   where pst_write_bench and brightmend-cli were built
#               (default: build beside this script's folder)
#   PARENT_DIR  where a working directory is made for the store and removed
#               afterwards (default: the temporary directory)
#
# OPST_VALIDATE names the reader (default: ../shared/tools/opst-validate
# beside the project). Prints one verdict line per checker and exits 0 only
# when both accept the store.
set -uo pipefail

usage() { sed -n '8,19p' "$0" | sed 's/^# \{0,1\}//'; }
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  ''|*[!0-9]*) usage >&2; exit 2 ;;
esac
size_mb=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${2:-$root/build}
parent=${3:-${TMPDIR:-/tmp}}
opst=${OPST_VALIDATE:-$root/../shared/tools/opst-validate}
[ -d "$root/../shared/tools" ] || opst=${OPST_VALIDATE:-$root/../../shared/tools/opst-validate}
bench=$build/bench/pst_write_bench
cli=$build/src/cli/brightmend-cli
for program in "$bench" "$cli" "$opst" /usr/bin/time; do
  [ -x "$program" ] || { echo "big_store_check: $program is missing" >&2; exit 2; }
done

work=$(mktemp -d "$parent/brightmend-big-store.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
store=$work/big.pst

echo "== writing a store of about $size_mb MB into $work"
"$bench" --store-mb "$size_mb" --out "$store" || { echo "big_store_check: writing failed" >&2; exit 1; }
bytes=$(stat -c %s "$store")
echo "store: $bytes bytes ($(awk -v b="$bytes" 'BEGIN { printf "%.2f", b / 1e9 }') GB)"

echo "== opst-validate --no-rebuild"
start=$(date +%s)
"$opst" --no-rebuild "$store" >"$work/opst.log" 2>&1
opst_rc=$?
grep -m 20 '^ERROR\|^KIND' "$work/opst.log"
opst_summary=$(grep '^SUMMARY' "$work/opst.log" | tail -1)
echo "opst-validate: exit $opst_rc, ${opst_summary:-no SUMMARY line} ($(( $(date +%s) - start )) s)"

echo "== brightmend-cli check --strict"
start=$(date +%s)
/usr/bin/time -v "$cli" check --strict "$store" >"$work/check.log" 2>"$work/check.time"
check_rc=$?
head -n 20 "$work/check.log"
peak_kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/check.time")
echo "check --strict: exit $check_rc, peak memory ${peak_kb:-?} KB ($(( $(date +%s) - start )) s)"

if [ "$opst_rc" -eq 0 ] && [ "$check_rc" -eq 0 ] && grep -q ' errors=0 ' <<<"$opst_summary "; then
  echo "big store of $bytes bytes: both checkers accept it"
  exit 0
fi
echo "big store of $bytes bytes: REJECTED (opst-validate exit $opst_rc, check exit $check_rc)"
exit 1
