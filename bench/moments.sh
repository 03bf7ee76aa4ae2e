#!/usr/bin/env bash
# Moments benchmark: on the spectra day of bench/run.sh ($QUELLMAR_BENCH_DIR,
# default /tmp/quellmar-bench, generated if missing), `quellmar`,
# `quellmar-moments --deflate 0` and `quellmar-wind --from-spectra`, RUNS
# times each into an empty folder; prints the median wall time, the ratio
# of quellmar-moments to quellmar (target at most 1.5), of wind
# --from-spectra to quellmar-moments (target at most 1.5), and the largest
# peak RSS (target for quellmar-moments: below 64 MB); once alone (idle) and
# once beside a busy loop that it starts and ends (busy). LOADS chooses the
# loads (default "idle busy"); QUELLMAR_MOMENTS times another build of
# quellmar-moments; QUELLMAR_MOMENTS_BEFORE times another build beside this
# one, in the same run (rows "before ..."). Reports; never fails.
set -uo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-3}

bench_build quellmar quellmar-bench-input
if ! bench_build quellmar-moments quellmar-wind 2>/dev/null; then
  echo "moments.sh: quellmar-moments is not built (no netCDF library): nothing to measure"
  exit 0
fi
bench_inputs
work=$data/run-moments
in=$data/d02123a.spc
moments=${QUELLMAR_MOMENTS:-$root/build-release/quellmar-moments}
busy_pid=
stop_busy() {
  if [ -n "$busy_pid" ]; then
    kill "$busy_pid" 2>/dev/null || true
    wait "$busy_pid" 2>/dev/null || true
    busy_pid=
  fi
}
trap stop_busy EXIT
printf '%-5s %-34s %8s %14s %7s\n' load program wall_s ratio rss_MB
for load in ${LOADS:-idle busy}; do
  [ "$load" = busy ] && { (while :; do :; done) & busy_pid=$!; }
  read -r t_text rss_text _ < <(measure "$root/build-release/quellmar" "$in")
  read -r t_mom rss_mom _ < <(measure "$moments" "$in" -o out.nc --deflate 0)
  read -r t_mom1 rss_mom1 _ < <(measure "$moments" "$in" -o out.nc)
  read -r t_wind rss_wind _ < <(measure "$root/build-release/quellmar-wind" "$in" -o w.nc --from-spectra)
  if [ -n "${QUELLMAR_MOMENTS_BEFORE:-}" ]; then
    read -r t_b0 rss_b0 _ < <(measure "$QUELLMAR_MOMENTS_BEFORE" "$in" -o out.nc --deflate 0)
    read -r t_b1 rss_b1 _ < <(measure "$QUELLMAR_MOMENTS_BEFORE" "$in" -o out.nc)
  fi
  stop_busy
  awk -v l="$load" -v t="$t_text" -v r="$rss_text" 'BEGIN { printf "%-5s %-34s %8.3f %14s %7.1f\n", l, "quellmar", t, "1.00", r / 1024 }'
  awk -v l="$load" -v t="$t_mom" -v b="$t_text" -v r="$rss_mom" 'BEGIN { printf "%-5s %-34s %8.3f %8.2f/text %7.1f\n", l, "quellmar-moments --deflate 0", t, t / b, r / 1024 }'
  awk -v l="$load" -v t="$t_mom1" -v b="$t_text" -v r="$rss_mom1" 'BEGIN { printf "%-5s %-34s %8.3f %8.2f/text %7.1f\n", l, "quellmar-moments", t, t / b, r / 1024 }'
  awk -v l="$load" -v t="$t_wind" -v b="$t_mom" -v r="$rss_wind" 'BEGIN { printf "%-5s %-34s %8.3f %5.2f/moments %7.1f\n", l, "quellmar-wind --from-spectra", t, t / b, r / 1024 }'
  if [ -n "${QUELLMAR_MOMENTS_BEFORE:-}" ]; then
    awk -v l="$load" -v t="$t_b0" -v b="$t_text" -v r="$rss_b0" 'BEGIN { printf "%-5s %-34s %8.3f %8.2f/text %7.1f\n", l, "before quellmar-moments --deflate 0", t, t / b, r / 1024 }'
    awk -v l="$load" -v t="$t_b1" -v b="$t_text" -v r="$rss_b1" 'BEGIN { printf "%-5s %-34s %8.3f %8.2f/text %7.1f\n", l, "before quellmar-moments", t, t / b, r / 1024 }'
  fi
done
