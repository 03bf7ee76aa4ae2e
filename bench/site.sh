#!/usr/bin/env bash
# quellmar-site on generated days. Reports; never fails on a slow result.
#
# Builds Release in build-release/ (the companions, the extension and the
# benchmark input generator), generates DAYS day files (default 30) once
# into $QUELLMAR_BENCH_DIR/site-days (default /tmp/quellmar-bench), then
# prints the median of RUNS runs (default 3; 1 for the whole sites) of:
#   1. a whole site of the DAYS days with -j 2 against -j 1 (ratio; the
#      goal is at most 0.6);
#   2. one new day added to a site of the other days against that day's
#      products and pictures made alone (bench/site_day.py: quellmar-wind,
#      quellmar-rass and quellmar-plot's figures in one Python process; the
#      goal is at most 1.5);
#   3. a run with nothing changed (the goal is under 1 s).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-3}
days=${DAYS:-30}

if ! bench_build quellmar-info quellmar-wind quellmar-rass quellmar-moments quellmar_pairs \
    quellmar-bench-input 2>/dev/null || [ ! -x build-release/quellmar-site ]; then
  echo "bench/site.sh: needs the companions, the extension and quellmar-site (scripts/install-deps)" >&2
  exit 1
fi
site=$root/build-release/quellmar-site
python=$(sed -n '1s/^#!//p' "$site")
in=$data/site-days
if [ "$(ls "$in"/d*.mom 2>/dev/null | wc -l)" -ne "$days" ]; then
  rm -rf "$in" && mkdir -p "$in"
  "$generator" --days "$days" "$in"
fi
work=$data/site-work
rm -rf "$work" && mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f\n", b - a}'; }
# Median wall time of $1 runs of the rest, each after "$prepare" (untimed).
timed_runs() {
  local n=$1 times=() t0 t1
  shift
  for ((i = 0; i < n; i++)); do
    eval "$prepare"
    sync
    t0=$(now)
    "$@" >/dev/null 2>&1
    t1=$(now)
    times+=("$(elapsed "$t0" "$t1")")
  done
  printf '%s\n' "${times[@]}" | median
}

prepare='rm -rf "$work/j1"'
j1=$(timed_runs 1 "$site" "$in" -o "$work/j1" -j 1)
prepare='rm -rf "$work/j2"'
j2=$(timed_runs 1 "$site" "$in" -o "$work/j2" -j 2)

# One new day: the last day file joins an archive of the others.
last=$(ls "$in"/d*.mom | tail -n 1)
name=$(basename "$last")
mkdir -p "$work/rest"
for f in "$in"/d*.mom; do
  [ "$f" = "$last" ] || cp -p "$f" "$in/h${f##*/d}" "$work/rest/"
done
"$site" "$work/rest" -o "$work/rest-site" -j 2 2>/dev/null
cp -a "$work/rest-site" "$work/rest-site.orig"
prepare='rm -f "$work/rest/$name" "$work/rest/h${name#d}"; rm -rf "$work/rest-site"; cp -a "$work/rest-site.orig" "$work/rest-site"; cp -p "$last" "$in/h${name#d}" "$work/rest/"'
new_day=$(timed_runs "$runs" "$site" "$work/rest" -o "$work/rest-site" -j 2)
prepare='rm -rf "$work/alone"; mkdir -p "$work/alone"'
alone=$(timed_runs "$runs" env PYTHONPATH="$root/build-release/python:$root/python" \
  "$python" bench/site_day.py "$root/build-release" "$last" "$work/alone")
prepare=':'
unchanged=$(timed_runs "$runs" "$site" "$work/rest" -o "$work/rest-site" -j 2)

printf '%-44s %9s %9s %7s %6s\n' measurement baseline_s time_s ratio goal
awk -v b="$j1" -v t="$j2" -v n="$days" 'BEGIN {
  printf "%-44s %9.3f %9.3f %7.2f %6s\n", "site of " n " days: -j 2 against -j 1", b, t, t / b, "0.6" }'
awk -v b="$alone" -v t="$new_day" 'BEGIN {
  printf "%-44s %9.3f %9.3f %7.2f %6s\n", "one new day against its products alone", b, t, t / b, "1.5" }'
awk -v t="$unchanged" 'BEGIN {
  printf "%-44s %9s %9.3f %7s %6s\n", "nothing changed", "-", t, "-", "< 1 s" }'
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
