#!/usr/bin/env bash
# Line coverage of what the fuzz corpora reach: builds the replay drivers
# with clang's source coverage (preset "coverage"), replays each target's
# grown corpus (build-fuzz/corpus/TARGET) and seeds (fuzz/corpus/TARGET),
# and prints llvm-cov's report for the files each target is meant to reach.
#   scripts/fuzz-coverage.sh [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(channel scenario snapshot tcplog fwnat msp softwire ha ids ipsec)

# The files each target drives; a family target reaches its own files.
files_of() {
  case $1 in
    channel) echo platform/services_ui.cc ;;
    snapshot) echo vorel/vorel_db_load.cc vorel/vorel_db.cc platform/rtslib.cc platform/rtslib_wire.cc platform/chassis.cc ;;
    scenario) echo lab/scenario.cc lab/layouts.cc lab/kernel_module.cc lab/agents_module.cc lab/chassis_module.cc lab/lab.cc ;;
    fwnat_sfw) echo vorel/vorel_cmd_fwnat_sip.cc vorel/vorel_cmd_fwnat_analysis.cc vorel/vorel_cmd_fwnat_stats.cc ;;
    msp) ls vorel/vorel_cmd_msp*.cc; echo vorel/vorel_plugins.cc vorel/vorel_driver.cc ;;
    softwire) ls vorel/vorel_cmd_sw*.cc; echo vorel/vorel_driver.cc ;;
    *) ls vorel/vorel_cmd_"$1"*.cc; echo vorel/vorel_driver.cc ;;
  esac
}

cmake --preset coverage >/dev/null
cmake --build --preset coverage --target $(printf 'fuzz_replay_%s ' "${targets[@]}") >/dev/null
for t in "${targets[@]}"; do
  echo "== $t"
  LLVM_PROFILE_FILE="build-cov/$t.profraw" "build-cov/bin/fuzz_replay_$t" \
    "build-fuzz/corpus/$t" "fuzz/corpus/$t" "fuzz/regressions/$t" 2>/dev/null
  llvm-profdata merge -o "build-cov/$t.profdata" "build-cov/$t.profraw"
  # shellcheck disable=SC2046
  llvm-cov report "build-cov/bin/fuzz_replay_$t" -instr-profile="build-cov/$t.profdata" \
    $(files_of "$t") | awk '$10 ~ /%$/ { printf "%-40s lines %5s  missed %5s  %s\n", $1, $8, $9, $10 }'
done
