#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing),
# then configures and builds one preset (default: "default").
#   scripts/setup.sh [PRESET]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}

packages=(build-essential cmake ninja-build pkg-config libyaml-cpp-dev libbz2-dev
          libpcap-dev libssl-dev libgtest-dev libgmock-dev libbenchmark-dev libfmt-dev tcpdump
          libxml2-dev groff-base dpkg-dev ccache)
# The sanitizer, fuzz and coverage presets need clang and its libFuzzer runtime.
uses_clang=false
case $preset in asan | fuzz | coverage) uses_clang=true packages+=(clang) ;; esac
# The gcov preset's report is made by gcovr (scripts/coverage.sh).
[ "$preset" != gcov ] || packages+=(gcovr)

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "== installing: ${missing[*]}"
  local sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
}
install_missing "${packages[@]}"

# The libFuzzer runtime's package carries the compiler's major version
# (libclang-rt-14-dev beside clang 14): ask the clang this release installed.
if $uses_clang; then
  clang_major=$(clang -dumpversion | cut -d. -f1)
  install_missing "libclang-rt-$clang_major-dev"
fi

# Compiler cache: the trees and clones of one machine share their objects
# (paths are taken relative to the checkout, so a fresh clone hits too).
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi

echo "== configuring and building ($preset)"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
