#!/usr/bin/env bash
# Builds the library and runs the example trading application against the simulated gateway
# on loopback: log in, buy at a limit price, cancel, transfer funds, log out.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target oxa_demo oxa_gateway_sim
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
build/tools/oxa_gateway_sim --port 0 >"$work/sim.out" 2>&1 &
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
(cd "$work" && timeout 20 "$OLDPWD/build/examples/oxa_demo" --port "$port") || rc=$?
echo "log written:"
find "$work/oxa_api_log" -type f -printf '  %P\n' 2>/dev/null || true
exit "$rc"
