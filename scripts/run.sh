#!/usr/bin/env bash
# The run command: installs what is missing, builds, and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ -x build/bin/exp-host ]; then
  exec build/bin/exp-host "$@"
fi
echo "run: the host program is not built yet; the data layer and its benchmarks are."
[ -x build/bin/exp-bench-data ] && build/bin/exp-bench-data --benchmark_min_time=0.05
