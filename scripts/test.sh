#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and runs every test: first the
# normal build, then the Debian package built from it, installed and tried,
# then the unit tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer (any finding fails the run), and last a short
# smoke run of the two fuzz targets, reading and saving (clang, libFuzzer;
# BRIGHTMEND_FUZZ_SECONDS, 60 by default, shared between them).
#
# Every phase runs even when one before it failed (a phase that needs a
# failed build is marked as not run), so one flaky test does not hide the
# rest. The script ends with one line per phase and exits non-zero when any
# phase failed.
set -uo pipefail
cd "$(dirname "$0")/.."

names=()
results=()
failed=0
# phase NAME COMMAND...: runs the command, keeps its result.
phase() {
  local name=$1
  shift
  echo "== phase: $name"
  local start=$SECONDS
  if "$@"; then
    results+=("passed ($((SECONDS - start)) s)")
  else
    results+=("FAILED (exit $?, $((SECONDS - start)) s)")
    failed=1
  fi
  names+=("$name")
}
# skip NAME WHY: a phase that cannot run.
skip() {
  names+=("$1")
  results+=("not run: $2")
  failed=1
}
summary() {
  echo
  echo "== Summary"
  local i
  for i in "${!names[@]}"; do
    printf '%-34s %s\n' "${names[$i]}" "${results[$i]}"
  done
}

run_ctest() { (cd "$1" && shift && ctest --output-on-failure -j "$(nproc)" "$@"); }

if ! phase "set-up (Debian packages)" ./scripts/setup.sh; then
  summary
  exit 1
fi
if phase "build" ./scripts/build.sh build; then
  phase "unit, CLI and GUI tests (ctest)" run_ctest build
  phase "Debian package" ./scripts/test_package.sh build
else
  skip "unit, CLI and GUI tests (ctest)" "the build failed"
  skip "Debian package" "the build failed"
fi
# The optimised build of the core and the command line must be as free of
# warnings as the others.
release_build() {
  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    -DBRIGHTMEND_BUILD_UI=OFF -DBRIGHTMEND_BUILD_BENCH=OFF >/dev/null &&
    cmake --build build-release -j "$(nproc)" --target brightmend_core brightmend-cli
}
phase "Release build, no warnings" release_build
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if phase "sanitizer build" ./scripts/build.sh build-asan -DBRIGHTMEND_SANITIZE=ON -DBRIGHTMEND_BUILD_UI=OFF \
  -DBRIGHTMEND_BUILD_BENCH=OFF; then
  phase "unit tests under ASan/UBSan" run_ctest build-asan -L unit
else
  skip "unit tests under ASan/UBSan" "the sanitizer build failed"
fi
phase "fuzz smoke run" ./scripts/fuzz.sh "${BRIGHTMEND_FUZZ_SECONDS:-60}"

summary
exit "$failed"
