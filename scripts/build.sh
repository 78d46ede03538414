#!/usr/bin/env bash
# Configures and builds in Release into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache, where the machine has it, keeps rebuilds short; CI does not need it.
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" "$@" >/dev/null
cmake --build build -j "$(nproc)"
