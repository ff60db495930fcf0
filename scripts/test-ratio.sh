#!/usr/bin/env bash
# Tests against code: non-blank lines of the source, scenario and script
# files (.cc, .h, .yaml, .py, .sh, CMakeLists.txt) under tests/ and fuzz/
# (the fuzz harnesses; seed corpora, regressions and dictionaries left out)
# against those under vorel/, platform/ and lab/.
#   scripts/test-ratio.sh        prints both counts and the ratio
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  git ls-files -- "$@" | grep -E '\.(cc|h|yaml|py|sh)$|(^|/)CMakeLists\.txt$' |
    grep -v -E '^fuzz/(corpus|regressions)/|\.dict$' |
    while read -r f; do [ -f "$f" ] && grep -c -v '^[[:space:]]*$' "$f" || true; done |
    awk '{s += $1} END {print s + 0}'
}
tests=$(count tests fuzz)
code=$(count vorel platform lab)
awk -v t="$tests" -v c="$code" \
  'BEGIN { printf "tests %d lines, code %d lines: ratio %.3f (target at most 0.330)\n", t, c, t / c }'
