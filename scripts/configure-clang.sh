#!/usr/bin/env bash
# Configures a clang build for the checking runs: `configure-clang.sh DIR
# OPTION...` makes DIR a Debug build with warnings as errors, no Qt view and
# no benchmarks, plus the given CMake options. scripts/sanitize.sh and
# scripts/fuzz.sh share build-fuzz/ (-DEXP_FUZZ=ON: AddressSanitizer,
# UndefinedBehaviorSanitizer and libFuzzer coverage), so the two build once;
# scripts/tsan.sh uses build-tsan/ (-DEXP_TSAN=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1"
shift
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DEXP_WERROR=ON \
  -DEXP_BUILD_QT=OFF -DEXP_BUILD_BENCH=OFF "$@" "${launcher[@]}" >/dev/null
