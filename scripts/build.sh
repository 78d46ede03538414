#!/usr/bin/env bash
# Configures and builds in Release into build/, with the one set of flags
# every command shares: warnings as errors, and ccache where the machine has
# it. The run command builds what the main job needs with it and the test
# command everything, so the test command after the run command builds only
# what the run left out (the tests, the benchmarks), never the shared
# sources again.
#
#   bash scripts/build.sh [-DNAME=VALUE...] [TARGET...]
#
# -D options go to cmake (given again, they stay in build/'s cache and
# change the flags of every later build there); without a target, everything
# is built.
set -euo pipefail
cd "$(dirname "$0")/.."
options=(-DCMAKE_BUILD_TYPE=Release -DEXP_WERROR=ON)
targets=()
for arg in "$@"; do
  case "$arg" in
    -D*) options+=("$arg") ;;
    *) targets+=(--target "$arg") ;;
  esac
done
# ccache, where the machine has it, keeps rebuilds short; CI does not need it.
if command -v ccache >/dev/null 2>&1; then
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
else
  options+=(-UCMAKE_CXX_COMPILER_LAUNCHER)
fi
cmake -S . -B build -G Ninja "${options[@]}" >/dev/null
cmake --build build -j "$(nproc)" "${targets[@]}"
