#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build
# The suite runs beside a throwaway PostgreSQL cluster (the storage tests on
# both backends and the two-instance test need it).
bash ../scripts/pg-test-cluster.sh ctest --output-on-failure -j "$(nproc)" --timeout 300
