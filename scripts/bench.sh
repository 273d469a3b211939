#!/usr/bin/env bash
# Builds the release preset, runs every benchmark under bench/ and prints one
# table: each figure beside its baseline measured in the same run, the ratio
# and the target. Takes about six minutes, 40 s of it the idle measurement.
# BENCH_OUT=<folder> keeps the Google Benchmark JSON files there.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --bench >&2
cmake --preset release >&2
benches=(logging_bench config_bench retention_bench bring_up_bench task_queue_bench idle_bench)
cmake --build --preset release -j2 --target "${benches[@]}" >&2

out="${BENCH_OUT:-$(mktemp -d)}"
mkdir -p "$out"
run_as() {  # <name of its output> <bench> [google benchmark options]
  local name="$1" bench="$2"
  shift 2
  echo "bench: running $bench $*" >&2
  "build/release/bench/$bench" --benchmark_out="$out/$name.json" --benchmark_out_format=json "$@" >"$out/$name.txt"
}
run() {  # <bench> [google benchmark options]
  run_as "$1" "$@"
}
run logging_bench --benchmark_min_time=2
# Each size in a process of its own: the C library's heap adapts its
# thresholds to what was freed before, and after thousands of small loads a
# large one pays for page faults that it does not pay alone.
for models in 500 5000 50000; do
  run_as "config_$models" config_bench --benchmark_filter="models:$models/" --benchmark_min_time=1
done
run retention_bench --benchmark_min_time=1
run bring_up_bench --benchmark_min_time=0.5
run task_queue_bench --benchmark_min_time=0.5
run idle_bench 2>"$out/idle_bench.threads"

# The counter of the first benchmark whose name matches.
counter() {  # <bench> <name regex> <counter>
  jq -r --arg name "$2" --arg counter "$3" \
    '[.benchmarks[] | select(.name | test($name))][0][$counter] // "nan"' "$out/$1.json"
}

rows=()
row() {  # <figure> <value> <baseline> <ratio> <target> <met>
  rows+=("$(printf '%s\t%s\t%s\t%s\t%s\t%s' "$@")")
}
# A figure with a ratio target: "<=" or ">=" the target ratio. The ratio is
# the benchmark's own (the median of the ratios of runs made side by side)
# when it gives one, else value / baseline.
ratio_row() {  # <figure> <unit> <value> <baseline> <op> <target ratio> [ratio]
  local ratio met
  ratio=$(awk -v v="$3" -v b="$4" -v r="${7:-}" 'BEGIN { printf "%.2f", (r != "" ? r : v / b) }')
  met=$(awk -v r="$ratio" -v t="$6" -v op="$5" 'BEGIN { print ((op == "<=" ? r <= t : r >= t) ? "yes" : "no") }')
  row "$1" "$(printf '%.4g %s' "$3" "$2")" "$(printf '%.4g %s' "$4" "$2")" "${ratio}x" "$5 ${6}x" "$met"
}

for line in info single_line; do
  for threads in 1 4; do
    name="BM_CallerSide/$line/threads:$threads/"
    ratio_row "log call, $line, $threads thread(s), caller side (raw spdlog)" ns \
      "$(counter logging_bench "$name" ours_ns_per_call)" "$(counter logging_bench "$name" raw_ns_per_call)" "<=" 1.5 \
      "$(counter logging_bench "$name" ratio)"
  done
done
# The same calls in CPU time (without waits for a core or a lock) against the
# raw call given the two steps LogHelper's interface prescribes, the
# printf-style message and the stamp of the laptop's clock: what remains is
# LogHelper's own bookkeeping.
for line in info single_line; do
  for threads in 1 4; do
    name="BM_CallerSide/$line/threads:$threads/"
    ratio_row "log call, $line, $threads thread(s), CPU (raw + printf message + clock stamp)" ns \
      "$(counter logging_bench "$name" ours_cpu_ns_per_call)" "$(counter logging_bench "$name" raw_printf_cpu_ns_per_call)" \
      "<=" 1.5
  done
done
for threads in 1 4; do
  name="BM_FileThroughput/info/threads:$threads/"
  ratio_row "log file throughput, $threads thread(s) (raw spdlog)" lines/s \
    "$(counter logging_bench "$name" ours_lines_per_s)" "$(counter logging_bench "$name" raw_lines_per_s)" ">=" 0.9 \
    "$(counter logging_bench "$name" ratio)"
done

wall=$(counter bring_up_bench instant_clock wall_ms)
row "bring-up, instant clock: the service's own cost" "$(printf '%.3f ms' "$wall")" "0 ms of waits" "-" "<= 1 ms" \
  "$(awk -v w="$wall" 'BEGIN { print (w <= 1 ? "yes" : "no") }')"
for variant in real_clock real_clock_modem_30ms; do
  wall=$(counter bring_up_bench "/$variant/" wall_ms)
  waited=$(counter bring_up_bench "/$variant/" waited_ms)
  label="modem at once"
  [ "$variant" = real_clock_modem_30ms ] && label="modem 30 ms per command"
  cpu=$(counter bring_up_bench "/$variant/" thread_cpu_ms)
  row "bring-up, real clock, $label; its thread ran $(printf '%.2f' "$cpu") ms (recorded waits)" \
    "$(printf '%.3f ms' "$wall")" "$(printf '%.0f ms' "$waited")" \
    "$(awk -v w="$wall" -v b="$waited" 'BEGIN { if (b > 0) printf "%.4fx", w / b; else print "-" }')" \
    "<= 1.01 x waits + 1 ms" "$(awk -v w="$wall" -v b="$waited" 'BEGIN { print (w <= 1.01 * b + 1 ? "yes" : "no") }')"
done

for models in 500 5000 50000; do
  ratio_row "config of $models models: load + platform check, CPU (bare tinyxml2 load)" ms \
    "$(counter "config_$models" models ours_ms)" "$(counter "config_$models" models bare_ms)" "<=" 2 \
    "$(counter "config_$models" models ratio)"
done
ratio_row "config load + check per model, 50,000 models (500 models)" us \
  "$(counter config_50000 models ours_us_per_model)" "$(counter config_500 models ours_us_per_model)" "<=" 1.5

ratio_row "retention pass over 10,000 files, CPU (bare FindFirstFile/FindNextFile)" ms \
  "$(counter retention_bench files ours_ms)" "$(counter retention_bench files bare_ms)" "<=" 1.5 \
  "$(counter retention_bench files ratio)"

# Figures without a baseline: Google Benchmark's real time per iteration.
time_row() {  # <figure> <bench> <name regex>
  row "$1" "$(jq -r --arg name "$3" '[.benchmarks[] | select(.name | test($name))][0] | "\(.real_time | . * 10 | round / 10) \(.time_unit)"' \
    "$out/$2.json")" "-" "-" "-" "-"
}
time_row "log call with the switch off" logging_bench BM_LogWhenSwitchedOff
time_row "task queue: post and take one task" task_queue_bench BM_PushPop
time_row "task queue: a duplicate post" task_queue_bench BM_DuplicatePost

wakeups=$(counter idle_bench Idle wakeups_per_min)
woken=$(counter idle_bench Idle threads_woken)
row "idle: wake-ups per minute, $(printf '%.0f' "$woken") thread(s) (the 3 s log flush: flusher + writer)" \
  "$(printf '%.0f' "$wakeups")" "40" "$(awk -v v="$wakeups" 'BEGIN { printf "%.2fx", v / 40 }')" \
  "flush only: <= 40, 2 threads" "$(awk -v v="$wakeups" -v t="$woken" 'BEGIN { print (v <= 40 && t <= 2 ? "yes" : "no") }')"
row "idle: CPU time over 30 s (the laptop alone)" "$(printf '%.2f ms' "$(counter idle_bench Idle cpu_ms)")" \
  "$(printf '%.2f ms' "$(counter idle_bench Idle laptop_cpu_ms)")" "-" "flush only (row above)" "-"
beyond=$(counter idle_bench Idle rss_beyond_laptop_mib)
row "idle: resident memory beyond the laptop's, of $(printf '%.2f' "$(counter idle_bench Idle rss_mib)") MiB (the laptop alone)" \
  "$(printf '%.2f MiB' "$beyond")" "$(printf '%.2f MiB' "$(counter idle_bench Idle laptop_rss_mib)")" "-" "<= 4 MiB" \
  "$(awk -v v="$beyond" 'BEGIN { print (v <= 4 ? "yes" : "no") }')"

{
  printf 'figure\tvalue\tbaseline\tratio\ttarget\tmet\n'
  printf '%s\n' "${rows[@]}"
} | awk -F'\t' '
  { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > width[i]) width[i] = length($i) } }
  END {
    for (r = 1; r <= NR; r++) {
      line = ""
      for (i = 1; i <= 6; i++) line = line sprintf("%-" width[i] "s", cell[r, i]) (i < 6 ? " | " : "")
      print line
      if (r == 1) { sep = ""; for (i = 1; i <= 6; i++) sep = sep sprintf("%" width[i] "s", "") (i < 6 ? "-+-" : ""); gsub(/ /, "-", sep); print sep }
    }
  }'
grep "wake-ups per thread" "$out/idle_bench.threads" >&2 || true
echo "bench: Google Benchmark output in $out" >&2
