#!/usr/bin/env bash
# quellmar.open_pair on the moments bench file against the text tool, and
# the memory it takes against the arrays it returns.
#
# Builds Release in build-release/ (quellmar, the extension quellmar._pairs
# and the benchmark input generator), generates the inputs once into
# $QUELLMAR_BENCH_DIR (default /tmp/quellmar-bench, shared with
# bench/run.sh), then takes the median of RUNS runs (default 3) of:
#   tool_s     quellmar on the moments file, into an empty folder
#   open_s     quellmar.open_pair on the same file, in a Python process that
#              has imported quellmar already (the import is not timed)
#   extra_mb   peak RSS of that process after open_pair less its RSS after
#              `import quellmar`
#   arrays_mb  the bytes of the arrays open_pair returned (every variable
#              and coordinate of every beam)
# Prints one table: time ratio open_s / tool_s and memory ratio
# extra_mb / arrays_mb. Never fails on a slow result.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-3}

bench_build quellmar quellmar_pairs quellmar-bench-input
if ! ls build-release/python/quellmar/_pairs*.so >/dev/null 2>&1; then
  echo "bench/pairs.sh: needs the extension quellmar._pairs (pybind11, scripts/install-deps)" >&2
  exit 1
fi
python=$(sed -n '1s/^#!//p' build-release/quellmar-plot)
bench_inputs
input=$data/d02123a.mom

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f\n", b - a}'; }

export PYTHONPATH=$root/build-release/python:$root/python
tools=() opens=() extras=() arrays=()
for ((i = 0; i < runs; i++)); do
  rm -rf "$data/pairs-out" && mkdir -p "$data/pairs-out"
  sync
  t0=$(now)
  (cd "$data/pairs-out" && "$root/build-release/quellmar" "$input" >/dev/null)
  t1=$(now)
  tools+=("$(elapsed "$t0" "$t1")")
  read -r open_s extra_mb arrays_mb <<<"$("$python" - "$input" <<'PY'
import resource, sys, time
import quellmar

def rss_mb():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0

base = rss_mb()
t0 = time.perf_counter()
beams = quellmar.open_pair(sys.argv[1])
t1 = time.perf_counter()
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0
arrays = sum(v.values.nbytes for ds in beams.values() for v in ds.variables.values())
print("%.3f %.1f %.1f" % (t1 - t0, peak - base, arrays / 2**20))
PY
)"
  opens+=("$open_s") extras+=("$extra_mb") arrays+=("$arrays_mb")
done
rm -rf "$data/pairs-out"

m() { printf '%s\n' "$@" | median; }
tool=$(m "${tools[@]}") opn=$(m "${opens[@]}") extra=$(m "${extras[@]}") arr=$(m "${arrays[@]}")
printf '%-34s %10s %10s %7s\n' measurement baseline value ratio
awk -v b="$tool" -v t="$opn" 'BEGIN {
  printf "%-34s %9.3fs %9.3fs %7.2f\n", "open_pair vs quellmar, moments", b, t, t / b }'
awk -v b="$arr" -v t="$extra" 'BEGIN {
  printf "%-34s %8.1fMB %8.1fMB %7.2f\n", "open_pair memory vs its arrays", b, t, t / b }'
echo "baselines: the text tool on the same file; the bytes of the arrays returned"
echo "(memory: peak RSS after open_pair less RSS after import quellmar)"
