#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and runs every test: first the
# normal build, then (compiled only, warnings as errors) the optimised build
# of the core and the command line, then the Debian package built from the
# normal build, installed and tried, then the unit tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer (any finding fails the
# run), and last a short smoke run of the two fuzz targets, reading and
# saving (clang, libFuzzer; BRIGHTMEND_FUZZ_SECONDS, 60 by default, shared
# between them).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh build
(cd build && ctest --output-on-failure -j "$(nproc)")
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DBRIGHTMEND_BUILD_UI=OFF -DBRIGHTMEND_BUILD_BENCH=OFF >/dev/null && cmake --build build-release -j "$(nproc)" --target brightmend_core brightmend-cli
./scripts/test_package.sh build
./scripts/build.sh build-asan -DBRIGHTMEND_SANITIZE=ON -DBRIGHTMEND_BUILD_UI=OFF -DBRIGHTMEND_BUILD_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$(nproc)" -L unit)
./scripts/fuzz.sh "${BRIGHTMEND_FUZZ_SECONDS:-60}"
