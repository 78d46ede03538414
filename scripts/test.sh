#!/usr/bin/env bash
# The test command: installs what is missing, checks the includes against
# the layer table (scripts/check-layers.sh) and that CMake builds every
# source (scripts/check-sources.sh), builds with warnings as errors (the
# run command's build, completed: scripts/build.sh), runs every test; then
# the sessions through the window on a virtual X server, the whole suite
# again under AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/sanitize.sh), the server's tests under ThreadSanitizer
# (scripts/tsan.sh) and a few seconds of each fuzz target (scripts/fuzz.sh).
# EXP_QUICK_TEST=1 runs only the two checks and the normal suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/check-layers.sh
bash scripts/check-sources.sh
bash scripts/build.sh
# The normal suite runs beside a throwaway PostgreSQL cluster (the storage
# tests on both backends and the two-instance test need it).
(cd build && bash ../scripts/pg-test-cluster.sh ctest --output-on-failure -j "$(nproc)" --timeout 300)
if [ -n "${EXP_QUICK_TEST:-}" ]; then exit 0; fi
# The sessions through the window once more, on a virtual X server instead of
# the offscreen platform: the window is mapped, focused and drawn for real.
if [ -f build/lib/libexp_qtview.so ]; then
  (cd build && EXP_WINDOW_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" \
     ctest --output-on-failure -R '^window\.' --timeout 120)
fi
bash scripts/sanitize.sh
bash scripts/tsan.sh
bash scripts/fuzz.sh
