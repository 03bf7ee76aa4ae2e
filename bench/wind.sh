#!/usr/bin/env bash
# quellmar-wind on the moments bench file and on many day files. Reports;
# never fails on a slow result.
#
#   1. against the text tool: the median wall time of RUNS runs of each, in
#      an empty folder, with the page cache written back (sync, untimed)
#      before every timed command, and their ratio (wind_s / tool_s; the
#      goal is at most 1). The text tool's standard output goes to a file,
#      as in bench/run.sh.
#   2. the continuity check's cost: the default run against --qc none
#      (ratio; the goal is at most 1.10).
#   3. bounded memory: peak RSS (/usr/bin/time -v) of one run over 30 and
#      over 365 day files (a year, DAYS to change it), with their times;
#      the goal is below 64 MB whatever the number of files.
#   4. with WIND_BASELINE=PATH/TO/an-earlier/quellmar-wind, that program's
#      time on the moments file against this one's (ratio new / old).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-5}
days=${DAYS:-365}

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

# Median wall time of RUNS runs of "$@" in an empty folder.
timed() {
  local times=() t0 t1
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work" && mkdir -p "$work"
    sync
    t0=$(now)
    (cd "$work" && "$@")
    t1=$(now)
    times+=("$(echo "$t1 - $t0" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | median
}

work=$data/run-wind
t=$(timed sh -c "\"$tool\" \"$input\" >\"$work/stdout.txt\"")
w=$(timed "$wind" "$input" -o winds.nc --csv winds.csv)
n=$(timed "$wind" "$input" -o winds.nc --csv winds.csv --qc none)
printf '%-26s %8s %8s %7s\n' run wind_s base_s ratio
awk -v t="$t" -v w="$w" 'BEGIN { printf "%-26s %8.3f %8.3f %7.2f\n", "d02123a.mom vs quellmar", w, t, w / t }'
awk -v n="$n" -v w="$w" 'BEGIN { printf "%-26s %8.3f %8.3f %7.2f\n", "d02123a.mom vs --qc none", w, n, w / n }'
if [ -n "${WIND_BASELINE:-}" ]; then
  b=$(timed "$WIND_BASELINE" "$input" -o winds.nc --csv winds.csv)
  awk -v b="$b" -v w="$w" 'BEGIN { printf "%-26s %8.3f %8.3f %7.2f\n", "d02123a.mom vs baseline", w, b, w / b }'
fi

# Day files: generated once into their own folder.
if [ ! -x /usr/bin/time ]; then
  echo "no /usr/bin/time (Debian: time): the memory rows are skipped"
  rm -rf "$work"
  exit 0
fi
year=$data/days-$days
if [ ! -s "$year/d02$(printf %03d "$days")a.mom" ]; then
  echo "generating $days day files in $year ..." >&2
  rm -rf "$year" && mkdir -p "$year"
  "$generator" --days "$days" "$year"
fi
printf '\n%-26s %8s %8s %8s\n' run wind_s rss_MB in_MB
for n_days in 30 "$days"; do
  files=()
  for ((d = 1; d <= n_days; d++)); do files+=("$year/d02$(printf %03d "$d")a.mom"); done
  rm -rf "$work" && mkdir -p "$work"
  sync
  t0=$(now)
  (cd "$work" && /usr/bin/time -v "$wind" "${files[@]}" -o winds.nc --csv winds.csv 2>"$work/time.txt")
  t1=$(now)
  rss=$(awk -F: '/Maximum resident set size/ { print $2 + 0 }' "$work/time.txt")
  in_bytes=$(cat "${files[@]}" | wc -c)
  awk -v n="$n_days day files" -v t="$(echo "$t1 - $t0" | bc -l)" -v r="$rss" -v b="$in_bytes" \
    'BEGIN { printf "%-26s %8.3f %8.1f %8.1f\n", n, t, r / 1024, b / 1e6 }'
done
rm -rf "$work"
