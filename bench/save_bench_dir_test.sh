#!/usr/bin/env bash
# save_bench --dir DIR works in a directory of its own inside DIR: the files
# and folders already in DIR are left as they were, nothing of the run is
# left behind, and a DIR that did not exist is gone again afterwards.
#   bench/save_bench_dir_test.sh SAVE_BENCH
set -euo pipefail
bench=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# (Directory times change as the run makes and removes its own directory
# in DIR; the names, sizes and times of the files must not.)
dir=$work/user
mkdir -p "$dir/letters"
printf 'a file of the user\n' >"$dir/notes.txt"
printf 'kept\n' >"$dir/letters/old.pst"
before=$( (cd "$dir" && find . -type f -exec stat -c '%n %s %Y' {} + ; find . ! -type f) | sort)

"$bench" --dir "$dir" --messages 150 >"$work/run1.log" || fail "save_bench --dir exited $?: $(cat "$work/run1.log")"
"$bench" --records --dir "$dir" --messages 30 >"$work/run2.log" || fail "save_bench --records --dir exited $?"
grep -q 'save --all 150 messages (0 failed)' "$work/run1.log" || fail "the run did not save: $(cat "$work/run1.log")"

after=$( (cd "$dir" && find . -type f -exec stat -c '%n %s %Y' {} + ; find . ! -type f) | sort)
[ "$before" = "$after" ] || fail "DIR changed: before [$before] after [$after]"
[ "$(cat "$dir/notes.txt")" = "a file of the user" ] || fail "notes.txt changed"

# A DIR that is not there is made for the run and removed with it.
"$bench" --dir "$work/new/deeper" --messages 20 >/dev/null || fail "save_bench into a new DIR exited $?"
[ ! -e "$work/new" ] || fail "the directories made for the run were left: $(find "$work/new")"

# A DIR that is a file is refused and left alone.
if "$bench" --dir "$dir/notes.txt" --messages 20 >/dev/null 2>&1; then fail "a file as DIR was accepted"; fi
[ "$(cat "$dir/notes.txt")" = "a file of the user" ] || fail "notes.txt changed by --dir notes.txt"
echo "save_bench --dir leaves the directory's own files"
