#!/usr/bin/env bash
# Builds the library and runs the example trading application.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target oxa_demo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$OLDPWD/build/examples/oxa_demo")
echo "log written:"
find "$work/oxa_api_log" -type f -printf '  %P\n' 2>/dev/null || true
