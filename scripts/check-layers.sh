#!/usr/bin/env bash
# The layer check: every #include "folder/..." in a source file must name
# its own folder or one that the layer table of README.md lets it include
# (column "may include"; test sources, *_test.cpp and testing/, also the
# column "its tests also"). Only qtview/ includes Qt. Prints each refused
# include as FILE:LINE: text and exits 1 when there is one, 0 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

# "folder|allowed...|test-allowed..." for every table row that names a folder.
rules="$(awk -F'|' '
  /^## Layout/ { in_table = 1; next }
  in_table && /^## / { exit }
  in_table && /^\| `[a-z_]+\/`/ {
    folder = $2; gsub(/[ `\/]/, "", folder)
    allowed = $5; gsub(/`/, "", allowed)
    tests = $6; gsub(/`/, "", tests)
    print folder "|" allowed "|" tests
  }' README.md)"
if [ -z "$rules" ]; then
  echo "check-layers: no layer table found under \"## Layout\" in README.md" >&2
  exit 2
fi

declare -A allowed tests known
while IFS='|' read -r folder may test_may; do
  known[$folder]=1
  allowed[$folder]=" $folder $may "
  tests[$folder]=" $test_may "
done <<< "$rules"

status=0
while IFS= read -r -d '' file; do
  folder="${file%%/*}"
  [ -n "${known[$folder]:-}" ] || continue
  is_test=""
  case "$file" in *_test.cpp | */testing/*) is_test=1 ;; esac
  while IFS=: read -r line text; do
    if [[ "$text" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([a-z_]+)/ ]]; then
      target="${BASH_REMATCH[1]}"
      [ -n "${known[$target]:-}" ] || continue
      [[ "${allowed[$folder]}" == *" $target "* ]] && continue
      [ -n "$is_test" ] && [[ "${tests[$folder]}" == *" $target "* ]] && continue
      echo "$file:$line: $folder/ may not include $target/: $text"
      status=1
    elif [[ "$text" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<Q[A-Za-z]*\> ]] &&
        [ "$folder" != qtview ]; then
      echo "$file:$line: only qtview/ includes Qt: $text"
      status=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h')

# The benchmarks' checker judges the planners' answers, so it reads the
# instances with its own code: bench/check/ includes nothing of the project
# but itself.
while IFS=: read -r file line text; do
  if [[ "$text" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([a-z_/]+)/ ]] &&
      [[ "${BASH_REMATCH[1]}/" != bench/check/* ]]; then
    echo "$file:$line: bench/check/ includes only itself: $text"
    status=1
  fi
done < <(git ls-files -z --cached --others --exclude-standard -- 'bench/check/*.cpp' 'bench/check/*.h' |
  xargs -0 -r grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' || true)

if [ "$status" -eq 0 ]; then echo "check-layers: every include follows the layer table"; fi
exit "$status"
