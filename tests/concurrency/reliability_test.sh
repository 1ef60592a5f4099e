#!/usr/bin/env bash
# scripts/reliability's table, from stand-ins for its parts: the counts and
# failures it reads from their summary lines, and the failures it counts for
# parts that are missing, fail or say nothing.
#   reliability_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work="$(mktemp -d /tmp/poolctl-reliability-XXXXXX)"
trap 'rm -rf "$work"' EXIT
failed=0

# part NAME EXIT-STATUS LINES...: a stand-in program printing the lines.
part() {
  local name=$1 status=$2
  shift 2
  { echo '#!/bin/sh'; printf 'echo "%s"\n' "$@"; echo "exit $status"; } >"$work/$name"
  chmod +x "$work/$name"
}

# Times are whole seconds of the wall clock, so they are not compared.
report() {
  HOSTILE_CHECK="$work/hostile" FAULT_CHECK="$work/faults" CONCURRENCY_CHECK="$work/concurrency" \
    FUZZ="$work/fuzz" RELIABILITY_LOGS="$work/logs" "$source_dir/scripts/reliability" --no-build 2>&1 |
    sed -E 's/ [0-9]+ s([ ;),|])/ T s\1/g'
  echo "status ${PIPESTATUS[0]}"
}

expect() {
  local what=$1 expected=$2 actual
  actual="$(report)"
  if [ "$actual" != "$expected" ]; then
    echo "FAIL: $what"
    diff <(echo "$expected") <(echo "$actual") || true
    failed=1
  fi
}

cat >"$work/fuzz" <<'FUZZ'
#!/bin/sh
if [ -e "$(dirname "$0")/fuzz-fails-$1" ]; then
  echo "fuzz: $1: FAILED (status 1) after 77 runs; log x, inputs in y" >&2
  exit 1
fi
echo "fuzz: $1: 1000 runs in $2 s, no crash"
FUZZ
chmod +x "$work/fuzz"

part hostile 0 "RELIABILITY inputs 120 failures 0"
part faults 0 "RELIABILITY faults 300 failures 0" "RELIABILITY crashes 40 failures 0"
part concurrency 0 "RELIABILITY concurrent 900 failures 0"
expect "every part passes" "
| measure | count | wall time | detail |
|---|---:|---:|---|
| inputs tried | 2120 | T s | hostile corpus 120 in T s (0 failed); fuzzing calc_fuzz 1000 in T s (0 failed), loader_fuzz 1000 in T s (0 failed) |
| faults injected | 300 | T s | fault_check, 0 failed |
| crashes simulated | 40 | (same run) | fault_check, 0 failed |
| concurrent runs | 900 | T s | concurrency_check, 0 failed |
| failures found | 0 | T s | all parts |
status 0"

part hostile 1 "bad.yaml: crashed" "RELIABILITY inputs 120 failures 2"
part faults 0 "RELIABILITY faults 300 failures 0"
rm "$work/concurrency"
touch "$work/fuzz-fails-loader_fuzz"
expect "failures, a missing summary, a missing part, a failed fuzz run" "hostile_check: bad.yaml: crashed
reliability: loader_fuzz: loader_fuzz: FAILED (status 1) after 77 runs; log x, inputs in y
reliability: fault_check: no line \"RELIABILITY crashes N failures F\" (status 0)
reliability: concurrency_check: $work/concurrency does not exist
reliability: whole outputs in $work/logs/

| measure | count | wall time | detail |
|---|---:|---:|---|
| inputs tried | 1197 | T s | hostile corpus 120 in T s (2 failed); fuzzing calc_fuzz 1000 in T s (0 failed), loader_fuzz 77 in T s (1 failed) |
| faults injected | 300 | T s | fault_check, 0 failed |
| crashes simulated | 0 | (same run) | fault_check, 1 failed |
| concurrent runs | 0 | T s | concurrency_check, 1 failed |
| failures found | 5 | T s | all parts |
status 1"

part concurrency 3 "RELIABILITY concurrent 900 failures 0"
part hostile 0 "RELIABILITY inputs 120 failures 0" "RELIABILITY inputs 7"
part faults 0 "RELIABILITY faults 300 failures 0" "RELIABILITY crashes 40 failures 0"
rm "$work/fuzz-fails-loader_fuzz"
expect "a status that contradicts the summary" "reliability: concurrency_check: status 3 although it counted no failure
reliability: whole outputs in $work/logs/

| measure | count | wall time | detail |
|---|---:|---:|---|
| inputs tried | 2120 | T s | hostile corpus 120 in T s (0 failed); fuzzing calc_fuzz 1000 in T s (0 failed), loader_fuzz 1000 in T s (0 failed) |
| faults injected | 300 | T s | fault_check, 0 failed |
| crashes simulated | 40 | (same run) | fault_check, 0 failed |
| concurrent runs | 900 | T s | concurrency_check, 1 failed |
| failures found | 1 | T s | all parts |
status 1"

exit "$failed"
