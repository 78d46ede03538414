#!/usr/bin/env bash
# The sanitizer suite: every test, built with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/ (no Qt view, no benchmarks).
# Any finding fails the test that met it.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DEXP_SANITIZE=ON -DEXP_WERROR=ON \
  -DEXP_BUILD_QT=OFF -DEXP_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-asan -j "$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd build-asan
ctest --output-on-failure -j "$(nproc)" --timeout 900
