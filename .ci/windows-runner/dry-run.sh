#!/usr/bin/env bash
# The dry run of the Windows runner's driver: vexo-windows-runner, the program the workflow's
# Windows job runs, runs here under Wine against copies of a stand-in test program
# (dry_run_program.cpp) and a real test program of the build, under small plans, and each case
# checks its exit code and what its summary says. The job objects, processes, reports and exit
# codes are Wine's real ones; only the token differs from a hosted runner's (Wine's processes
# have a linked limited token, so the case of a runner without one is met first on Windows).
#
#   dry-run.sh WINE_RUN PREFIX BIN_DIR REAL_PROGRAM REAL_ROW
set -euo pipefail
wine_run=$1 prefix=$2 bin=$3 real_program=$4 real_row=$5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/bin"
for name in passes fails skips crashes silent empty hangs; do
  cp "$bin/dry_run_program.exe" "$work/tree/bin/$name.exe"
done
cp "$bin/$real_program.exe" "$work/tree/bin/"
windows() { echo "Z:${1//\//\\}"; }

failures=0
# case NAME EXIT-CODE "TEXT THE OUTPUT MUST HOLD"... -- PLAN LINES (one per argument)
case_() {
  local name=$1 expected=$2
  shift 2
  local texts=()
  while [[ $1 != -- ]]; do texts+=("$1"); shift; done
  shift
  printf '%s\n' "$@" >"$work/tree/plan.txt"
  rm -rf "$work/results" "$work/summary.md"
  local status=0
  GITHUB_STEP_SUMMARY=$(windows "$work/summary.md") "$wine_run" "$prefix" \
    "$bin/vexo-windows-runner.exe" "$(windows "$work/tree/plan.txt")" \
    "$(windows "$work/results")" --job-minutes 5 >"$work/out" 2>&1 || status=$?
  local verdict=ok
  [[ $status -eq $expected ]] || verdict="exit code $status, expected $expected"
  for text in "${texts[@]}"; do
    grep -qF -- "$text" "$work/out" || verdict="no \"$text\" in its output"
  done
  if [[ $verdict != ok ]]; then
    failures=$((failures + 1))
    echo "FAILED: $name: $verdict"
    sed 's/^/    /' "$work/out"
  else
    echo "ok: $name"
  fi
}

case_ "every planned row passes; the step summary gets the table" 0 \
  "| passes | 2 | 2 | 0 | 0 | 0 |" "| $real_program | 1 | 1 | 0 | 0 | 0 |" \
  "Every row the plan expects here passed." -- \
  "program passes 60" "full Row.Full" "limited Row.Limited" \
  "program $real_program 60" "full $real_row"
grep -qF "| passes | 2 | 2 | 0 | 0 | 0 |" "$work/summary.md" ||
  { failures=$((failures + 1)); echo "FAILED: no table in the step summary file"; }
case_ "a failing row fails the job, saying why" 1 "fails: Row.Full failed: " "failed on purpose" -- \
  "program fails 60" "full Row.Full" "limited Row.Limited"
case_ "a limited row skipped where a limited token exists is not run" 1 \
  "| skips | 2 | 1 | 0 | 1 1 x skipped on purpose; | 0 |" \
  "skips: Row.Limited not run here, though the plan expects it: skipped on purpose" -- \
  "program skips 60" "full Row.Full" "limited Row.Limited"
case_ "a program without a report is not run" 1 "silent: not run: it wrote no report" -- \
  "program silent 60" "full Row.Full"
case_ "a program that cannot be started is not run" 1 \
  "absent: not run: it could not be started (Windows error 2)" -- "program absent 60" "full Row.Full"
case_ "a program that ran no test is not run" 1 "empty: not run: it ran no test" -- \
  "program empty 60" "full Row.Full"
case_ "a planned row missing and a row the plan does not name" 1 \
  "passes: Row.Gone not run: missing from the report" "passes: Row.Limited is not in the plan" -- \
  "program passes 60" "full Row.Full" "full Row.Gone"
case_ "an exit code other than 0 after passing rows" 1 "crashes: ended with exit code 3" -- \
  "program crashes 60" "full Row.Full" "limited Row.Limited"
case_ "a program past its limit is ended with what it started" 1 \
  "hangs: ended at its time limit of 3 s" -- "program hangs 3" "full Row.Full"
"$wine_run" "$prefix" "$work/tree/bin/passes.exe" --ended "$(windows "$work/tree/bin/hangs.pid")" ||
  { failures=$((failures + 1)); echo "FAILED: the hanging program's child outlived the runner"; }
case_ "limits above the job's minutes refuse to start" 2 "more than the job's 5 minutes" -- \
  "program passes 200" "full Row.Full" "program fails 200" "full Row.Full"
case_ "a plan line of no known kind refuses to start" 2 "plan line 2 is not a program or a row" -- \
  "program passes 60" "ful Row.Full"

echo "$failures case(s) failed"
[[ $failures -eq 0 ]]
