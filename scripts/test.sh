#!/usr/bin/env bash
# Builds and runs every test: the plain build, then AddressSanitizer + UndefinedBehaviorSanitizer,
# then ThreadSanitizer, then the fuzz targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/deps.sh
source scripts/suite-env.sh

jobs=$(nproc)
fuzz_seconds=${OXA_FUZZ_SECONDS:-45}

run_suite() {   # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (suite_env "$dir"; cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300)
}

# The code-page tests and fuzz target need the locale zh_CN.GB18030: each build makes it in its
# own tree (<dir>/locale, with localedef), the host's locales left alone.

echo "== plain build"
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== address + undefined sanitizers"
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DOXA_SANITIZE=address,undefined \
    -DOXA_BUILD_BENCH=OFF -DOXA_BUILD_TOOLS=ON

echo "== thread sanitizer"
run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DOXA_SANITIZE=thread -DOXA_BUILD_BENCH=OFF

echo "== fuzz targets (${fuzz_seconds}s each)"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DOXA_SANITIZE=address,undefined -DOXA_BUILD_FUZZ=ON \
  -DOXA_BUILD_TESTS=OFF -DOXA_BUILD_BENCH=OFF -DOXA_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"
shopt -s nullglob
# The targets run side by side, a few at a time; each prints its last lines when it ends.
fuzz_parallel=$(( jobs > 1 ? jobs / 2 : 1 ))
mkdir -p build-fuzz/logs
run_fuzz() {   # target
  local target=$1 name corpus seeds=()
  name=$(basename "$target")
  corpus="$root/build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus" "${seeds[@]}" \
    >"build-fuzz/logs/$name.log" 2>&1
}
targets=(build-fuzz/fuzz/*_fuzz)
failed=0
for ((i = 0; i < ${#targets[@]}; i += fuzz_parallel)); do
  pids=()
  for target in "${targets[@]:i:fuzz_parallel}"; do
    run_fuzz "$target" & pids+=("$!:$target")
  done
  for entry in "${pids[@]}"; do
    pid=${entry%%:*} target=${entry#*:} name=$(basename "$target")
    rc=0; wait "$pid" || rc=$?
    echo "-- $name (exit $rc)"
    tail -n 5 "build-fuzz/logs/$name.log"
    ((rc == 0)) || failed=1
  done
done
((failed == 0)) || { echo "a fuzz target failed: see build-fuzz/logs" >&2; exit 1; }
echo "all suites passed"
