#!/usr/bin/env bash
# Throughput benchmark: the tool against the I/O floor of its own output,
# on an idle machine and with the cores shared.
#
# Builds Release in build-release/, generates the inputs once into
# $QUELLMAR_BENCH_DIR (default /tmp/quellmar-bench), then for each input and
# each load runs the tool RUNS times, each run into an empty folder, and
# takes medians. The floor is `cat` writing the same output bytes (files and
# summary lines) into a new file, measured under the same load:
#   idle  one run alone;
#   two   two runs at once, each in its own folder (the slower of the two
#         counts), against two cats at once;
#   busy  one run beside a busy loop that this script starts and ends,
#         against one cat beside the same loop.
# Every row gives wall and CPU (user + sys) seconds. The page cache is
# written back (sync, untimed) before every timed command. Prints one table;
# never fails the build on a slow result.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-5}

bench_build quellmar quellmar-bench-input
# QUELLMAR_TOOL times another build of the tool (an older one, say).
tool=${QUELLMAR_TOOL:-$root/build-release/quellmar}

bench_inputs

busy_pid=
stop_busy() {
  if [ -n "$busy_pid" ]; then
    kill "$busy_pid" 2>/dev/null || true
    wait "$busy_pid" 2>/dev/null || true
    busy_pid=
  fi
}
trap stop_busy EXIT

# Runs a command timed into file $1: a line "wall cpu rss_kb", the wall
# clock from date (nanoseconds), CPU (user + sys) and peak RSS from
# /usr/bin/time.
timed() {
  local report=$1 t0 t1
  shift
  t0=$(date +%s.%N)
  /usr/bin/time -f '%U %S %M' -o "$report.cpu" "$@"
  t1=$(date +%s.%N)
  awk -v t0="$t0" -v t1="$t1" '{print t1 - t0, $1 + $2, $3}' "$report.cpu" >"$report"
}
figures() { cat "$1"; }

# One tool run in folder $1 on input $2, timed into $1.time.
tool_run() {
  rm -rf "$1" && mkdir -p "$1"
  (cd "$1" && timed "$1.time" "$tool" "$2" >"$1/stdout.txt")
}
# The floor for folder $1: cat of its output into $1.floor, timed into
# $1.cat.
cat_run() {
  (cd "$1" && timed "$1.cat" sh -c 'cat ./*.r* stdout.txt >"$0"' "$1.floor")
}

printf '%-12s %-5s %8s %8s %8s %8s %7s %8s %7s\n' \
  input load tool_s cpu_s cat_s cat_cpu ratio out_MB rss_MB
for input in d02123a.spc d02123a.mom; do
  for load in idle two busy; do
    tool_wall=() tool_cpu=() cat_wall=() cat_cpu=() rss=()
    a=$data/run-a b=$data/run-b
    [ "$load" = busy ] && { (while :; do :; done) & busy_pid=$!; }
    for ((i = 0; i < runs; i++)); do
      sync
      if [ "$load" = two ]; then
        tool_run "$a" "$data/$input" & tool_run "$b" "$data/$input" & wait
      else
        tool_run "$a" "$data/$input"
      fi
      sync
      if [ "$load" = two ]; then
        cat_run "$a" & cat_run "$b" & wait
      else
        cat_run "$a"
      fi
      out_bytes=$(stat -c %s "$a.floor")
      rm -f "$a.floor" "$b.floor"
      # The slower of two runs at once counts.
      read -r tw tc tr < <(figures "$a.time")
      read -r cw cc _ < <(figures "$a.cat")
      if [ "$load" = two ]; then
        read -r tw2 tc2 _ < <(figures "$b.time")
        read -r cw2 cc2 _ < <(figures "$b.cat")
        if awk -v x="$tw2" -v y="$tw" 'BEGIN {exit !(x > y)}'; then tw=$tw2 tc=$tc2; fi
        if awk -v x="$cw2" -v y="$cw" 'BEGIN {exit !(x > y)}'; then cw=$cw2 cc=$cc2; fi
      fi
      tool_wall+=("$tw") tool_cpu+=("$tc") cat_wall+=("$cw") cat_cpu+=("$cc") rss+=("$tr")
    done
    stop_busy
    t=$(printf '%s\n' "${tool_wall[@]}" | median)
    tc=$(printf '%s\n' "${tool_cpu[@]}" | median)
    c=$(printf '%s\n' "${cat_wall[@]}" | median)
    cc=$(printf '%s\n' "${cat_cpu[@]}" | median)
    r=$(printf '%s\n' "${rss[@]}" | sort -g | tail -1)
    awk -v name="$input" -v load="$load" -v t="$t" -v tc="$tc" -v c="$c" -v cc="$cc" \
        -v ob="$out_bytes" -v rss="$r" 'BEGIN {
      printf "%-12s %-5s %8.3f %8.3f %8.3f %8.3f %7.2f %8.1f %7.1f\n",
        name, load, t, tc, c, cc, (c > 0 ? t / c : 0), ob / 1e6, rss / 1024
    }'
  done
done
rm -rf "$data"/run-a* "$data"/run-b*
[ -n "${SKIP_NC:-}" ] || bench/nc.sh  # the netCDF conversion against the text tool
[ -n "${SKIP_WIND:-}" ] || bench/wind.sh  # wind profiles against the text tool
[ -n "${SKIP_MOMENTS:-}" ] || bench/moments.sh  # recomputed moments against the text tool
[ -n "${SKIP_RASS:-}" ] || bench/rass.sh  # RASS temperatures against the text tool
[ -n "${SKIP_PLOT:-}" ] || bench/plot.sh || true  # the Python reader and plots
[ -n "${SKIP_PAIRS:-}" ] || bench/pairs.sh || true  # open_pair against the text tool
[ -n "${SKIP_ARCHIVE:-}" ] || bench/archive.sh || true  # the lazy engine, archives and dask
[ -n "${SKIP_SITE:-}" ] || bench/site.sh || true  # quellmar-site: -j 2, one new day, nothing changed
