#!/usr/bin/env bash
# Throughput benchmark: the tool against the I/O floor of its own output.
#
# Builds Release in build-release/, generates the inputs once into
# $QUELLMAR_BENCH_DIR (default /tmp/quellmar-bench), then for each input runs
# the tool RUNS times into an empty folder and takes the median; the floor is
# the median time of `cat` writing the same output bytes into a new file in
# the same folder. GNU cat copies file to file inside the kernel
# (copy_file_range), so a second floor, dd with read/write through a user
# buffer, shows the cost of handing the same bytes to the kernel from user
# space, as any writer must. Before every timed command the page cache is
# written back (sync, not timed), so that no command pays for the writeback
# of the one before it. Prints one table; never fails the build on a slow
# result.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
data=${QUELLMAR_BENCH_DIR:-/tmp/quellmar-bench}
runs=${RUNS:-5}

cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j 2 --target quellmar quellmar-bench-input >/dev/null
tool=$root/build-release/quellmar

mkdir -p "$data"
if [ ! -s "$data/d02123a.spc" ] || [ ! -s "$data/d02123a.mom" ]; then
  echo "generating benchmark input in $data ..." >&2
  "$root/build-release/bench/quellmar-bench-input" "$data"
fi

now() { date +%s.%N; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

printf '%-12s %8s %8s %7s %8s %7s %8s %8s %9s %7s %8s\n' \
  input tool_s cat_s ratio dd_s ratio in_MB/s out_MB/s ns/value rss_MB out_MB
for input in d02123a.spc d02123a.mom; do
  work=$data/run-${input#*.}
  tool_times=()
  floor_times=()
  dd_times=()
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work" && mkdir -p "$work"
    sync
    t0=$(now)
    (cd "$work" && "$tool" "$data/$input" >"$data/stdout.txt")
    t1=$(now)
    tool_times+=("$(echo "$t1 - $t0" | bc -l)")
    # The floor: the same bytes (files and summary lines) written by cat.
    sync
    t0=$(now)
    cat "$work"/*.r* "$data/stdout.txt" >"$work/floor.out"
    t1=$(now)
    floor_times+=("$(echo "$t1 - $t0" | bc -l)")
    out_bytes=$(stat -c %s "$work/floor.out")
    rm -f "$work/floor.out"
    sync
    t0=$(now)
    : >"$work/floor.out"
    for f in "$work"/*.r* "$data/stdout.txt"; do
      dd if="$f" of="$work/floor.out" bs=1M oflag=append conv=notrunc status=none
    done
    t1=$(now)
    dd_times+=("$(echo "$t1 - $t0" | bc -l)")
    rm -f "$work/floor.out"
  done
  rss_kb=$( (cd "$work" && rm -f ./*.r* && /usr/bin/time -v "$tool" "$data/$input" 2>&1 >/dev/null) |
    awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}')
  values=$(cat "$work"/*.r* | awk '{n += NF} END {print n}')
  in_bytes=$(stat -c %s "$data/$input")
  t=$(printf '%s\n' "${tool_times[@]}" | median)
  f=$(printf '%s\n' "${floor_times[@]}" | median)
  d=$(printf '%s\n' "${dd_times[@]}" | median)
  awk -v name="$input" -v t="$t" -v f="$f" -v d="$d" -v ib="$in_bytes" -v ob="$out_bytes" \
      -v nv="$values" -v rss="$rss_kb" 'BEGIN {
    printf "%-12s %8.3f %8.3f %7.2f %8.3f %7.2f %8.1f %8.1f %9.2f %7.1f %8.1f\n",
      name, t, f, t / f, d, t / d, ib / 1e6 / t, ob / 1e6 / t, t * 1e9 / nv, rss / 1024, ob / 1e6
  }'
done
bench/wind.sh
