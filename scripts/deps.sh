#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config clang libclang-rt-dev binutils
      libspdlog-dev libfmt-dev libasio-dev rapidjson-dev zlib1g-dev
      libgtest-dev libgmock-dev googletest libbenchmark-dev iproute2 procps locales)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
