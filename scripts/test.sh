#!/usr/bin/env bash
# The full test suite: builds and runs every test twice, once in the
# ordinary build and once under AddressSanitizer and UndefinedBehaviorSanitizer.
#   scripts/test.sh            both trees
#   scripts/test.sh default    only the ordinary build
#   scripts/test.sh asan       only the sanitizer build
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan)

# Any sanitizer report fails the test that produced it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

for preset in "${presets[@]}"; do
  scripts/setup.sh "$preset"
  echo "== testing ($preset)"
  ctest --preset "$preset"
done
