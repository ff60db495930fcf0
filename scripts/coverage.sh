#!/usr/bin/env bash
# Line and branch coverage of vorel/ and platform/ by the ctest suite:
# a gcc --coverage -O0 build in its own tree (preset gcov, build-gcov/),
# the whole ctest suite, then gcovr's summary of each directory.
#   scripts/coverage.sh        build, run the suite, print both summaries
# Counters from an earlier run are cleared first, so figures are this run's.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh gcov
find build-gcov -name '*.gcda' -delete
# CMake's compiler probe leaves a note file with no source: gcovr would warn.
find build-gcov/CMakeFiles -name '*CompilerId*.gcno' -delete
echo "== testing (gcov)"
# A failing case still counts what it ran; the suite's verdict is reported.
status=0
ctest --preset gcov >build-gcov/ctest.log 2>&1 || status=$?
tail -n 3 build-gcov/ctest.log

# The full report goes to a file of the tree, never to /dev/null: gcovr
# replaces its output file, and would put a regular file in the device's place.
for dir in vorel platform; do
  echo "== coverage of $dir/"
  gcovr -r . --object-directory build-gcov --filter "$dir/" --print-summary \
    --output "build-gcov/coverage-$dir.txt" build-gcov | grep -E '^(lines|branches):'
done
exit $status
