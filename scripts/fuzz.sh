#!/usr/bin/env bash
# Builds the fuzz targets (clang) and runs each for a while.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# SECONDS per target (default 60); TARGETs by name (default: every
# fuzz_* binary built).  $FUZZ_JOBS targets run at once (default 1).
# $FUZZ_PRESET names the tree: "fuzz" (default, build-fuzz/, optimised for
# long runs) or "asan" (build-asan/, the sanitizer tree, which builds them
# too).  New inputs go to TREE/corpus/TARGET (the seeds of fuzz/corpus are
# read, never written); a crash is kept under fuzz/crashes/TARGET/ and
# makes the script fail.  A summary line per target (executions,
# coverage, features, crashes) ends the output and TREE/fuzz-summary.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
jobs=${FUZZ_JOBS:-1}

preset=${FUZZ_PRESET:-fuzz}
scripts/setup.sh "$preset" >/dev/null
tree=build-$preset
bin=$tree/bin
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  # (the sanitizer tree also holds the seed replays, fuzz_replay_*)
  for f in "$bin"/fuzz_*; do
    case $f in */fuzz_replay_*) ;; *) targets+=("${f##*/fuzz_}") ;; esac
  done
fi

# A target's libFuzzer flags: the "// fuzz-options:" line of its source.
options_of() {
  local src
  for src in "fuzz/families/$1.cc" "fuzz/$1_fuzz.cc"; do
    if [ -f "$src" ]; then
      sed -n 's|^// fuzz-options: *||p' "$src" | head -1
      return
    fi
  done
}

run_target() {
  local t=$1 log=$tree/fuzz-$1.log
  mkdir -p "$tree/corpus/$t" "fuzz/crashes/$t"
  # shellcheck disable=SC2046
  nice "$bin/fuzz_$t" $(options_of "$t") -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$PWD/fuzz/crashes/$t/" \
    "$tree/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1
}

summary() {
  local t=$1 log=$tree/fuzz-$1.log status=$2
  local execs cov ft crashes
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  crashes=$(find "fuzz/crashes/$t" -type f | wc -l)
  printf '%-10s %4ss  execs %-10s cov %-6s ft %-6s crashes %s  %s\n' "$t" "$seconds" \
    "${execs:-?}" "${cov:-?}" "${ft:-?}" "$crashes" "$([ "$status" -eq 0 ] && echo ok || echo FAILED)"
}

declare -A pids
failed=0
: >"$tree/fuzz-summary.txt"
for t in "${targets[@]}"; do
  [ -x "$bin/fuzz_$t" ] || { echo "no fuzz target $t" >&2; exit 2; }
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  echo "== fuzzing $t for ${seconds}s"
  run_target "$t" &
  pids[$t]=$!
done
passed=0
for t in "${targets[@]}"; do
  status=0
  wait "${pids[$t]}" || status=$?
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    tail -40 "$tree/fuzz-$t.log"
  fi
  summary "$t" "$status" | tee -a "$tree/fuzz-summary.txt"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
