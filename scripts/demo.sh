#!/usr/bin/env bash
# Builds the library and runs the example trading application against the simulated gateway
# on loopback: log in, one buy that fills and one that stays working, cancel the working one
# (done) and the filled one (refused), transfer funds, query, log out; then a margin account
# (20001) logs in, orders, cancels, repays and runs two credit queries. The library's log file stays in build/demo/ for a
# look afterwards.
# Last an option account (30001) places a single-leg order, a combination order and one it
# cancels, and runs two option queries.
# Then a second simulated gateway with its bus side (--bus) serves a spot account (10002) that
# logs in with socket type 2: its orders, cancels and transfer go over the bus to the gateway's
# order server and their events come back over it.
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
bus_sim_pid=
cleanup() {
  for pid in $sim_pid $bus_sim_pid; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
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

# The bus: a gateway that answers with the bus mode, and a spot account with socket type 2.
if [ "$rc" -eq 0 ]; then
  build/tools/oxa_gateway_sim --port 0 --bus >"$work/bus_sim.out" 2>&1 &
  bus_sim_pid=$!
  bus_port=
  for _ in $(seq 1 100); do
    bus_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/bus_sim.out" | head -n 1)
    grep -q '^bus coordinator on ' "$work/bus_sim.out" && [ -n "$bus_port" ] && break
    kill -0 "$bus_sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  if grep -q '^bus coordinator on ' "$work/bus_sim.out"; then
    echo "simulated gateway with its bus side on 127.0.0.1:$bus_port ($(sed -n 's/^bus //p' "$work/bus_sim.out"))"
    (cd "$demo_dir" && timeout 30 "$root/build/examples/oxa_demo" --port "$bus_port" --account 10002 --sock-type 2 \
      "$log_file") || rc=$?
  else
    echo "the simulated gateway's bus side did not start:" >&2
    cat "$work/bus_sim.out" >&2
    rc=1
  fi
  kill -TERM "$bus_sim_pid" 2>/dev/null || true
  wait "$bus_sim_pid" 2>/dev/null || true
fi
# the daily file sink names each day's file after the base name and the date
kept=$(find "$demo_dir/oxa_api_log" -type f 2>/dev/null | sort)
if [ -n "$kept" ]; then
  echo "log file kept: $kept"
else
  echo "no log file under $demo_dir/oxa_api_log" >&2
  [ "$rc" -ne 0 ] || rc=1
fi
exit "$rc"
