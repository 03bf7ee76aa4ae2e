#!/usr/bin/env bash
# netCDF conversion benchmark: quellmar-nc against the text tool on the same
# inputs, in the same run.
#
# Uses the inputs of bench/run.sh in $QUELLMAR_BENCH_DIR (default
# /tmp/quellmar-bench), generating them if missing, and once a moments file
# four times longer in its long/ folder. For each input it runs `quellmar`,
# `quellmar-nc` (default compression, deflate level 1) and `quellmar-nc
# --deflate 0` RUNS times each into an empty folder, after writing back the
# page cache (sync, not timed), and prints the median wall time, its ratio
# to quellmar's and the largest peak RSS (/usr/bin/time -v), once alone
# (idle) and once beside a busy loop that it starts and ends (busy), each
# ratio against quellmar under the same load. On the spectra day it also
# times `--significant-digits 3`. LOADS chooses the loads (default "idle
# busy"); QUELLMAR_NC times another build of quellmar-nc (an older one,
# say); QUELLMAR_NC_BEFORE times another build beside this one, in the same
# run (rows "before ..."). Reports; never fails.
set -uo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-3}

bench_build quellmar quellmar-bench-input
if ! bench_build quellmar-nc 2>/dev/null; then
  echo "nc.sh: quellmar-nc is not built (no netCDF library): nothing to measure"
  exit 0
fi
text=$root/build-release/quellmar
nc=${QUELLMAR_NC:-$root/build-release/quellmar-nc}

bench_inputs
mkdir -p "$data/long"
if [ ! -s "$data/long/d02123a.mom" ]; then
  echo "generating the long moments input in $data/long ..." >&2
  "$generator" --long-moments "$data/long"
fi

work=$data/run-nc

busy_pid=
stop_busy() {
  if [ -n "$busy_pid" ]; then
    kill "$busy_pid" 2>/dev/null || true
    wait "$busy_pid" 2>/dev/null || true
    busy_pid=
  fi
}
trap stop_busy EXIT

printf '%-16s %-5s %-28s %8s %7s %7s %8s\n' input load program wall_s ratio rss_MB out_MB
for load in ${LOADS:-idle busy}; do
  [ "$load" = busy ] && { (while :; do :; done) & busy_pid=$!; }
  for input in d02123a.spc d02123a.mom long/d02123a.mom; do
    in=$data/$input
    read -r t_text rss_text out_text < <(measure "$text" "$in")
    rows=("quellmar $t_text $rss_text $out_text")
    timed() {  # label, then the program and its arguments
      local label=$1 t rss out
      shift
      read -r t rss out < <(measure "$@")
      rows+=("$label $t $rss $out")
    }
    timed quellmar-nc "$nc" "$in" -o out.nc
    timed quellmar-nc_--deflate_0 "$nc" "$in" -o out.nc --deflate 0
    if [ "$input" = d02123a.spc ]; then
      timed quellmar-nc_--sig._digits_3 "$nc" "$in" -o out.nc --significant-digits 3
    fi
    if [ -n "${QUELLMAR_NC_BEFORE:-}" ]; then
      timed before_quellmar-nc "$QUELLMAR_NC_BEFORE" "$in" -o out.nc
      timed before_--deflate_0 "$QUELLMAR_NC_BEFORE" "$in" -o out.nc --deflate 0
    fi
    for row in "${rows[@]}"; do
      set -- $row
      awk -v input="$input" -v load="$load" -v prog="${1//_/ }" -v t="$2" -v base="$t_text" \
          -v rss="$3" -v ob="$4" 'BEGIN {
        printf "%-16s %-5s %-28s %8.3f %7.2f %7.1f %8.1f\n", input, load, prog, t, t / base, rss / 1024, ob / 1e6
      }'
    done
  done
  stop_busy
done
