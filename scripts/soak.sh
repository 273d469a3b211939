#!/usr/bin/env bash
# The soak: random laptop timelines played twice each by halvex-sim (see
# README, "Soak"). Usage: scripts/soak.sh BUILD_DIR SEEDS EVENTS [RUNS [FIRST_SEED]]
# plays seeds FIRST_SEED .. FIRST_SEED+SEEDS-1 (FIRST_SEED defaults to 1) of
# EVENTS steps each RUNS times (default 2) with BUILD_DIR's halvex-sim, two
# seeds at a time. A failing seed's scenario is written to soak-failures/ in
# the current folder.
set -euo pipefail
build=${1:?build folder}
seeds=${2:?number of seeds}
events=${3:?events per seed}
runs=${4:-2}
first=${5:-1}
sim="$build/tools/halvex-sim/halvex-sim"
# The crash step faults inside a signal handler on purpose (see tests/scenario/CMakeLists.txt).
export TSAN_OPTIONS="${TSAN_OPTIONS:-report_signal_unsafe=0:halt_on_error=1:second_deadlock_stack=1}"
mkdir -p soak-failures
start=$(date +%s)
status=0
seq "$first" $((first + seeds - 1)) |
  xargs -P 2 -I{} "$sim" soak --seed {} --events "$events" --runs "$runs" --save soak-failures/soak-seed-{}.xml || status=1
echo "soak: $seeds seeds x $events events on $build in $(( $(date +%s) - start )) s"
rmdir soak-failures 2>/dev/null || true
exit $status
