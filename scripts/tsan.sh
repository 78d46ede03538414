#!/usr/bin/env bash
# The thread-sanitizer run: the server's tests, built with clang and
# ThreadSanitizer into build-tsan/ (warnings as errors, the lock
# annotations checked by -Wthread-safety), run beside a throwaway
# PostgreSQL cluster. Any data race fails the run. The test programs start
# exp-appserver, which is built the same way.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/configure-clang.sh build-tsan -DEXP_TSAN=ON
cmake --build build-tsan -j "$(nproc)" --target exp_appserver_test exp-appserver
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp}"
export EXP_SOURCE_DIR="$PWD"
bash scripts/pg-test-cluster.sh build-tsan/bin/exp_appserver_test --gtest_brief=1
