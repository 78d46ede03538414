#!/usr/bin/env bash
# The thread-sanitizer run: the server's tests, built with clang and
# ThreadSanitizer into build-tsan/ (warnings as errors, the lock
# annotations checked by -Wthread-safety), run beside a throwaway
# PostgreSQL cluster. Any data race fails the run. The test programs start
# exp-appserver, which is built the same way.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DEXP_TSAN=ON \
  -DEXP_WERROR=ON -DEXP_BUILD_QT=OFF -DEXP_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-tsan -j "$(nproc)" --target exp_appserver_test exp-appserver
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp}"
export EXP_SOURCE_DIR="$PWD"
bash scripts/pg-test-cluster.sh build-tsan/bin/exp_appserver_test --gtest_brief=1
