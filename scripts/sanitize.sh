#!/usr/bin/env bash
# The sanitizer suite: every test, built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ (no Qt view, no benchmarks).
# Any finding fails the test that met it. The build is the fuzz targets'
# build (the same instrumentation plus coverage), so scripts/fuzz.sh after
# it compiles nothing again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/configure-clang.sh build-fuzz -DEXP_FUZZ=ON
cmake --build build-fuzz -j "$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd build-fuzz
ctest --output-on-failure -j "$(nproc)" --timeout 900
