#!/usr/bin/env bash
# Lint of the C++ sources, fast enough for every CI run:
# - clang-format (.clang-format): no file may drift further from the style
#   than scripts/lint-format-baseline.txt records (lines clang-format would
#   change); new files must be clean. `LINT_UPDATE_BASELINE=1` rewrites the
#   baseline after files were formatted.
# - clang-tidy (.clang-tidy): the C++ sources that differ from LINT_BASE
#   (default: the merge base with main, else the previous commit), or every
#   source with LINT_ALL=1. Needs build/compile_commands.json, which a
#   configure (cmake -S . -B build) writes.
set -euo pipefail
cd "$(dirname "$0")/.."

baseline=scripts/lint-format-baseline.txt
status=0

mapfile -t files < <(git ls-files '*.cc' '*.h' | grep -v '^node_modules/')

declare -A allowed=()
if [[ -f $baseline ]]; then
  while read -r count file; do allowed[$file]=$count; done < "$baseline"
fi

drift() { clang-format --style=file "$1" | diff "$1" - | grep -c '^[<>]' || true; }

if [[ ${LINT_UPDATE_BASELINE:-0} == 1 ]]; then
  for f in "${files[@]}"; do
    n=$(drift "$f")
    [[ $n -gt 0 ]] && echo "$n $f"
  done > "$baseline"
  echo "lint: wrote $baseline"
  exit 0
else
  for f in "${files[@]}"; do
    n=$(drift "$f")
    limit=${allowed[$f]:-0}
    if [[ $n -gt $limit ]]; then
      echo "lint: $f drifts from .clang-format by $n lines (allowed $limit); run clang-format on what you changed"
      status=1
    fi
  done
fi

if [[ ! -f build/compile_commands.json ]]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
fi
if [[ ${LINT_ALL:-0} == 1 ]]; then
  mapfile -t tidy < <(printf '%s\n' "${files[@]}" | grep '\.cc$')
else
  base=${LINT_BASE:-$(git merge-base HEAD main 2>/dev/null || git rev-parse -q --verify HEAD~1 || true)}
  [[ -n $base && $base == $(git rev-parse HEAD) ]] && base=$(git rev-parse -q --verify HEAD~1 || true)
  tidy=()
  if [[ -n $base ]]; then
    mapfile -t tidy < <(git diff --name-only --diff-filter=d "$base" -- '*.cc' | grep -v '^test/x11/' || true)
  else
    # A clone without history (a shallow CI checkout) has nothing to compare.
    echo "lint: no earlier commit to compare with; clang-tidy skipped (LINT_ALL=1 checks every file)"
  fi
fi
# Only files the build compiles have compile commands.
mapfile -t tidy < <(for f in "${tidy[@]}"; do
  grep -q "\"file\": \"$PWD/$f\"" build/compile_commands.json && echo "$f"
done)
if [[ ${#tidy[@]} -gt 0 ]]; then
  echo "lint: clang-tidy on ${#tidy[@]} file(s)"
  if ! printf '%s\n' "${tidy[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p build --quiet 2> /dev/null; then
    status=1
  fi
fi
[[ $status == 0 ]] && echo "lint: clean"
exit $status
