#!/usr/bin/env bash
# Every program named answers --help: exit code 0, its usage text on stdout,
# and nothing written into the directory it runs in. An option it does not
# know is refused (exit code not 0) and writes nothing either.
#   tools/help_test.sh PROGRAM...   (a *.py program runs with python3)
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for program in "$@"; do
  program=$(realpath "$program")
  name=$(basename "$program")
  run=("$program")
  case "$program" in *.py) run=(/usr/bin/python3 "$program") ;; esac
  cwd=$work/$name
  mkdir -p "$cwd"
  status=0
  (cd "$cwd" && "${run[@]}" --help) >"$work/$name.out" 2>"$work/$name.err" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAIL: $name --help exited $status: $(head -3 "$work/$name.err")"; failed=1
  elif [ ! -s "$work/$name.out" ]; then
    echo "FAIL: $name --help printed nothing on stdout"; failed=1
  fi
  case "$name" in
    store_bench|store_scan_bench) ;;  # google benchmark's own flags: it reports and runs nothing
    *)
      status=0
      (cd "$cwd" && "${run[@]}" --no-such-option) >/dev/null 2>&1 || status=$?
      [ "$status" -ne 0 ] || { echo "FAIL: $name accepted --no-such-option"; failed=1; }
      ;;
  esac
  if [ -n "$(ls -A "$cwd")" ]; then
    echo "FAIL: $name wrote into its directory: $(ls -A "$cwd")"; failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "$# programs answer --help and write nothing"
exit "$failed"
