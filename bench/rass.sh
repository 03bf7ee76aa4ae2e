#!/usr/bin/env bash
# quellmar-rass against the text tool on the moments bench file: the median
# wall time of RUNS runs of each, in an empty folder, with the page cache
# written back (sync, untimed) before every timed command, their ratio
# (rass_s / tool_s; the goal is at most 1) and the peak RSS of quellmar-rass
# (/usr/bin/time; the goal is below 64 MB). The text tool's standard output
# goes to a file, as in bench/run.sh. Reports; never fails on a slow result.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-5}

bench_build quellmar quellmar-bench-input
if ! bench_build quellmar-rass 2>/dev/null; then
  echo "quellmar-rass is not built (no netCDF library): RASS benchmark skipped"
  exit 0
fi
tool=$root/build-release/quellmar
rass=$root/build-release/quellmar-rass
input=$data/d02123a.mom
bench_inputs

now() { date +%s.%N; }

work=$data/run-rass
tool_times=()
rass_times=()
rss=0
for ((i = 0; i < runs; i++)); do
  rm -rf "$work" && mkdir -p "$work"
  sync
  t0=$(now)
  (cd "$work" && "$tool" "$input" >"$work/stdout.txt")
  t1=$(now)
  tool_times+=("$(echo "$t1 - $t0" | bc -l)")
  sync
  t0=$(now)
  (cd "$work" && /usr/bin/time -f '%M' -o "$data/rass-rss.txt" \
     "$rass" "$input" -o rass.nc --csv rass.csv 2>/dev/null)
  t1=$(now)
  rass_times+=("$(echo "$t1 - $t0" | bc -l)")
  r=$(tail -1 "$data/rass-rss.txt")
  [ "$r" -gt "$rss" ] && rss=$r
done
t=$(printf '%s\n' "${tool_times[@]}" | median)
w=$(printf '%s\n' "${rass_times[@]}" | median)
printf '%-12s %8s %8s %7s %7s\n' input rass_s tool_s ratio rss_MB
awk -v t="$t" -v w="$w" -v rss="$rss" \
  'BEGIN { printf "%-12s %8.3f %8.3f %7.2f %7.1f\n", "d02123a.mom", w, t, w / t, rss / 1024 }'
rm -rf "$work" "$data/rass-rss.txt"
