#!/usr/bin/env bash
# The full test suite: builds and runs every test twice, once in the
# ordinary build (gcc) and once under AddressSanitizer and
# UndefinedBehaviorSanitizer (clang, leak detection on), then a short run of
# every fuzz target that tree builds.
#   scripts/test.sh            both trees, then the fuzz smoke run
#   scripts/test.sh default    only the ordinary build
#   scripts/test.sh asan       only the sanitizer build
#   scripts/test.sh fuzz       only the fuzz smoke run
# $FUZZ_SMOKE_SECONDS sets the smoke run's time per target (default 2).
# The end prints the size of the tests against the code (scripts/test-ratio.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan fuzz)

# Any sanitizer report fails the test that produced it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

for preset in "${presets[@]}"; do
  if [ "$preset" = fuzz ]; then
    # Each target briefly, two at a time, from the sanitizer tree (which
    # builds them): one that no longer builds or crashes at once fails
    # the suite.
    echo "== fuzz smoke run"
    FUZZ_PRESET=asan FUZZ_JOBS=2 scripts/fuzz.sh "${FUZZ_SMOKE_SECONDS:-2}"
    continue
  fi
  scripts/setup.sh "$preset"
  echo "== testing ($preset)"
  ctest --preset "$preset"
done
scripts/test-ratio.sh
