#!/usr/bin/env bash
# The bench in its short mode (one round, a small Host): it ends well and prints a measured row
# for every figure, so the bench cannot rot between the runs docs/performance.md records.
set -uo pipefail
output=$("$(dirname "$0")/../../scripts/bench" --short 2>&1)
status=$?
echo "$output"
passed=0
figures=("payload check" "payload check, large" "deploy to Host start"
         "update check, nothing newer" "update server refusing" "memory")
for figure in "${figures[@]}"; do
  if grep -qE "^\| $figure \| -?[0-9.]+ (ms|MiB) .*\| (met|MISSED|not judged) \|" <<<"$output"; then
    passed=$((passed + 1))
  else
    echo "FAILED: no measured row for \"$figure\""
  fi
done
echo "bench short mode (exit $status): $((100 * passed / ${#figures[@]}))% tests passed," \
  "$((${#figures[@]} - passed)) tests failed out of ${#figures[@]}"
[[ $status -eq 0 && $passed -eq ${#figures[@]} ]]
