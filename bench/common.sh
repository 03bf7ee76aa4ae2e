# Shared by the benchmark scripts (sourced, not run): where things are, the
# Release build, the generated inputs and the median of a column of numbers.
#
#   bench_build TARGET...   builds the targets in build-release/ (Release)
#   bench_inputs            generates the spectra day and the moments file
#                           into $data once
#   median                  median of the numbers on standard input
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
