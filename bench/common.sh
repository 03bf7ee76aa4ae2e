# Shared by the benchmark scripts (sourced, not run): where things are, the
# Release build, the generated inputs and the median of a column of numbers.
#
#   bench_build TARGET...   builds the targets in build-release/ (Release)
#   bench_inputs            generates the spectra day and the moments file
#                           into $data once
#   median                  median of the numbers on standard input
#   measure CMD...          runs CMD RUNS times in an empty $work (set by the
#                           script) and prints "median_s max_rss_kb out_bytes"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
data=${QUELLMAR_BENCH_DIR:-/tmp/quellmar-bench}
generator=$root/build-release/bench/quellmar-bench-input

bench_build() {
  cmake -S "$root" -B "$root/build-release" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build-release" -j 2 --target "$@" >/dev/null
}

bench_inputs() {
  mkdir -p "$data"
  if [ ! -s "$data/d02123a.spc" ] || [ ! -s "$data/d02123a.mom" ]; then
    echo "generating benchmark input in $data ..." >&2
    "$generator" "$data"
  fi
}

median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

now() { date +%s.%N; }

# Runs "$@" RUNS times in an empty $work; prints "median_s max_rss_kb out_bytes".
measure() {
  local times=() rss=0 r out=0
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work" && mkdir -p "$work"
    sync
    local t0 t1
    t0=$(now)
    (cd "$work" && /usr/bin/time -v -o "$data/time.txt" "$@" >"$work/stdout.txt" 2>/dev/null)
    t1=$(now)
    times+=("$(echo "$t1 - $t0" | bc -l)")
    r=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$data/time.txt")
    [ "${r:-0}" -gt "$rss" ] && rss=$r
    out=$(du -cb "$work" | tail -1 | cut -f1)
  done
  rm -rf "$work"
  echo "$(printf '%s\n' "${times[@]}" | median) $rss $out"
}

