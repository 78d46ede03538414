#!/usr/bin/env bash
# With every source listed by name in CMake, a file nobody listed would
# silently never be built or run: this check refuses any tracked .cpp file
# whose name no CMakeLists.txt of the tree mentions (a fuzz target counts by
# its name in fuzz/CMakeLists.txt's list). Exits 1 naming each, else 0.
set -euo pipefail
cd "$(dirname "$0")/.."

lists="$(git ls-files -z --cached --others --exclude-standard -- 'CMakeLists.txt' '*/CMakeLists.txt' |
  xargs -0 cat)"
status=0
while IFS= read -r -d '' file; do
  name="$(basename "$file")"
  case "$file" in
    fuzz/*_fuzz.cpp) name="${name%_fuzz.cpp}" ;;
    fixtures/* | examples/*) continue ;;
  esac
  if ! grep -qw -- "$name" <<< "$lists"; then
    echo "$file: no CMakeLists.txt builds it"
    status=1
  fi
done < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp')
if [ "$status" -eq 0 ]; then echo "check-sources: every source file is in a CMake list"; fi
exit "$status"
