#!/usr/bin/env bash
# Builds the library and runs the example trading application against the simulated gateway
# on loopback: log in, one buy that fills and one that stays working, cancel the working one
# (done) and the filled one (refused), transfer funds, query, log out; then a margin account
# (20001) logs in, orders, cancels, repays and runs two credit queries. The library's log file stays in build/demo/ for a
# look afterwards.
# Last an option account (30001) places a single-leg order, a combination order and one it
# cancels, and runs two option queries.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target oxa_demo oxa_gateway_sim
demo_dir="$root/build/demo"
log_file="$demo_dir/oxa_api_log/oxa.log"
mkdir -p "$demo_dir"
rm -rf "$demo_dir/oxa_api_log"
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The sim picks a free port and names it on its first line.
build/tools/oxa_gateway_sim --port 0 --account-business 20001=2 --account-business 30001=3 >"$work/sim.out" 2>&1 &
sim_pid=$!
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/sim.out" | head -n 1)
  [ -n "$port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$port" ]; then
  echo "the simulated gateway did not start:" >&2
  cat "$work/sim.out" >&2
  exit 1
fi
echo "simulated gateway on 127.0.0.1:$port"

rc=0
(cd "$demo_dir" && timeout 30 "$root/build/examples/oxa_demo" --port "$port" --margin-account 20001 --option-account 30001 "$log_file") || rc=$?
# the daily file sink names each day's file after the base name and the date
kept=$(find "$demo_dir/oxa_api_log" -type f 2>/dev/null | sort)
if [ -n "$kept" ]; then
  echo "log file kept: $kept"
else
  echo "no log file under $demo_dir/oxa_api_log" >&2
  [ "$rc" -ne 0 ] || rc=1
fi
exit "$rc"
