#!/usr/bin/env bash
# With every source listed by name in CMake, a file nobody listed would
# silently never be built or run: this check refuses any tracked .cpp file
# whose name no CMakeLists.txt of the tree mentions (a fuzz target counts by
# its name in fuzz/CMakeLists.txt's list). Exits 1 naming each file and the
# list it belongs in, else 0.
set -euo pipefail
cd "$(dirname "$0")/.."

lists="$(git ls-files -z --cached --others --exclude-standard -- 'CMakeLists.txt' '*/CMakeLists.txt' |
  xargs -0 cat)"

# Where a file that is missing belongs: the first target of the kind in its
# folder's CMakeLists.txt (the module's entry/ and dialogs/ are built by
# screen/'s).
where() {
  local file="$1" dir list kind target
  dir="$(dirname "$file")"
  case "$dir" in
    entry | dialogs) list=screen/CMakeLists.txt ;;
    *) list="$dir/CMakeLists.txt" ;;
  esac
  [ -f "$list" ] || list=CMakeLists.txt
  case "$file" in
    fuzz/*_fuzz.cpp)
      echo "add '$(basename "$file" _fuzz.cpp)' to EXP_FUZZ_TARGETS in $list"
      return ;;
    bench/*) echo "add an add_executable for it in $list"; return ;;
    *_test.cpp) kind='exp_add_test\(|add_executable\([A-Za-z0-9_]*_test' ;;
    *) kind='add_library\(' ;;
  esac
  target="$(grep -oE "($kind)[A-Za-z0-9_-]*" "$list" | head -n 1 | sed -E 's/.*\(//')"
  if [ -n "$target" ]; then
    echo "add it to the sources of $target in $list"
  else
    echo "add it to a target in $list"
  fi
}

status=0
while IFS= read -r -d '' file; do
  name="$(basename "$file")"
  case "$file" in
    fuzz/*_fuzz.cpp) name="${name%_fuzz.cpp}" ;;
    fixtures/* | examples/*) continue ;;
  esac
  if ! grep -qw -- "$name" <<< "$lists"; then
    echo "check-sources: $file is in no CMake list, so it is never built: $(where "$file")" >&2
    status=1
  fi
done < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp')
if [ "$status" -eq 0 ]; then echo "check-sources: every source file is in a CMake list"; fi
exit "$status"
