#!/usr/bin/env bash
# quellmar-wind against the text tool on the moments bench file: the median
# wall time of RUNS runs of each, in an empty folder, with the page cache
# written back (sync, untimed) before every timed command, and their ratio
# (wind_s / tool_s; the goal is at most 1). The text tool's standard output
# goes to a file, as in bench/run.sh. Reports; never fails on a slow result.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-5}

bench_build quellmar quellmar-bench-input
if ! bench_build quellmar-wind 2>/dev/null; then
  echo "quellmar-wind is not built (no netCDF library): wind benchmark skipped"
  exit 0
fi
tool=$root/build-release/quellmar
wind=$root/build-release/quellmar-wind
input=$data/d02123a.mom
bench_inputs

now() { date +%s.%N; }

work=$data/run-wind
tool_times=()
wind_times=()
for ((i = 0; i < runs; i++)); do
  rm -rf "$work" && mkdir -p "$work"
  sync
  t0=$(now)
  (cd "$work" && "$tool" "$input" >"$work/stdout.txt")
  t1=$(now)
  tool_times+=("$(echo "$t1 - $t0" | bc -l)")
  sync
  t0=$(now)
  (cd "$work" && "$wind" "$input" -o winds.nc --csv winds.csv)
  t1=$(now)
  wind_times+=("$(echo "$t1 - $t0" | bc -l)")
done
t=$(printf '%s\n' "${tool_times[@]}" | median)
w=$(printf '%s\n' "${wind_times[@]}" | median)
printf '%-12s %8s %8s %7s\n' input wind_s tool_s ratio
awk -v t="$t" -v w="$w" 'BEGIN { printf "%-12s %8.3f %8.3f %7.2f\n", "d02123a.mom", w, t, w / t }'
rm -rf "$work"
