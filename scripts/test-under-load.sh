#!/usr/bin/env bash
# Runs built test suites while the machine is kept busy, so that a test that leans on timing
# shows itself before CI or a user's shared machine finds it.
#
#   scripts/test-under-load.sh [-r runs] [-l busy] [-j jobs] [build-dir ...]
#
# -l busy   busy-looping processes beside the suites (default: the number of cores)
# -j jobs   ctest's parallel level (default: the number of cores)
# -r runs   how often each suite runs (default 3)
# build dirs default to build, build-asan and build-tsan, those that exist; build them first
# (scripts/test.sh does). Each run's output goes to <build-dir>/load-runs/run-<n>.log; the
# failed tests of every run are listed at the end, and the exit status is 1 when any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/suite-env.sh

cores=$(nproc)
runs=3 busy=$cores jobs=$cores
while getopts "r:l:j:" opt; do
  case $opt in
    r) runs=$OPTARG ;;
    l) busy=$OPTARG ;;
    j) jobs=$OPTARG ;;
    *) sed -n '2,13p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
dirs=("$@")
if ((${#dirs[@]} == 0)); then
  for d in build build-asan build-tsan; do [ -f "$d/CTestTestfile.cmake" ] && dirs+=("$d"); done
fi
((${#dirs[@]})) || { echo "no built suite found: run scripts/test.sh first" >&2; exit 2; }

load_pids=()
stop_load() { ((${#load_pids[@]})) && kill "${load_pids[@]}" 2>/dev/null; wait 2>/dev/null || true; }
trap stop_load EXIT
for ((i = 0; i < busy; i++)); do
  (while :; do :; done) &
  load_pids+=("$!")
done
echo "== $busy busy processes beside ctest -j $jobs, $runs run(s) of: ${dirs[*]}"

summary=()
for ((run = 1; run <= runs; run++)); do
  for dir in "${dirs[@]}"; do
    mkdir -p "$dir/load-runs"
    log="$dir/load-runs/run-$run.log"
    rc=0
    ( suite_env "$dir"; cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300 ) >"$log" 2>&1 || rc=$?
    echo "-- $dir run $run: $(grep -E '^[0-9]+% tests passed' "$log" || echo "exit $rc")  (uptime: $(cut -d' ' -f1-3 /proc/loadavg))"
    if ((rc != 0)); then
      failed=$(sed -n '/The following tests FAILED:/,$p' "$log" | grep -E '^\s+[0-9]+ - ' || true)
      [ -n "$failed" ] || failed="ctest exit $rc"
      while read -r line; do summary+=("$dir run $run: $line"); done <<<"$failed"
    fi
  done
done

if ((${#summary[@]})); then
  echo "== failed:"
  printf '  %s\n' "${summary[@]}"
  exit 1
fi
echo "== every run passed"
