#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing),
# then configures and builds one preset (default: "default").
#   scripts/setup.sh [PRESET]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}

packages=(build-essential cmake ninja-build pkg-config libyaml-cpp-dev libbz2-dev
          libpcap-dev libssl-dev libgtest-dev libgmock-dev libbenchmark-dev tcpdump)
# The fuzz targets need clang and its libFuzzer runtime.
[ "$preset" != fuzz ] || packages+=(clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

echo "== configuring and building ($preset)"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
