#!/usr/bin/env bash
# Short fuzz runs: builds the libFuzzer targets with clang into build-fuzz/
# and runs each on its seed corpus (fuzz/corpus/<target>/) for
# EXP_FUZZ_SECONDS seconds (default 5). New inputs go to out/fuzz/<target>/,
# never into the repository; a crash leaves its input in out/fuzz/ and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${EXP_FUZZ_SECONDS:-5}"
bash scripts/configure-clang.sh build-fuzz -DEXP_FUZZ=ON
cmake --build build-fuzz --target fuzz_all -j "$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
status=0
for corpus in fuzz/corpus/*/; do
  name="$(basename "$corpus")"
  mkdir -p "out/fuzz/$name"
  echo "fuzz: $name for ${seconds}s"
  if ! "build-fuzz/bin/${name}_fuzz" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
      -print_final_stats=0 -artifact_prefix="out/fuzz/$name-" "out/fuzz/$name" "$corpus" \
      > "out/fuzz/$name.log" 2>&1; then
    tail -n 40 "out/fuzz/$name.log"
    echo "fuzz: $name FAILED (input in out/fuzz/$name-*)"
    status=1
  fi
done
exit "$status"
