#!/usr/bin/env bash
# Configures build-fuzz/: clang, AddressSanitizer, UndefinedBehaviorSanitizer
# and libFuzzer coverage on every library, warnings as errors, no Qt view
# and no benchmarks. Shared by scripts/sanitize.sh (every test) and
# scripts/fuzz.sh (the fuzz targets), so the two build once.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DEXP_FUZZ=ON \
  -DEXP_WERROR=ON -DEXP_BUILD_QT=OFF -DEXP_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
