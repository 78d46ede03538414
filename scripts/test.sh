#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build
ctest --output-on-failure -j "$(nproc)" --timeout 300
