#!/usr/bin/env bash
# Speed of the Python side: quellmar-plot moments on the spectra bench day
# and read_moments on the moments bench file, each beside a baseline
# measured in the same run.
#
# Builds Release in build-release/ (quellmar-nc, quellmar-plot and the
# benchmark input generator), generates the inputs once into
# $QUELLMAR_BENCH_DIR (default /tmp/quellmar-bench, shared with
# bench/run.sh), converts both with quellmar-nc into its plot/ folder, then
# takes the median of RUNS runs (default 3) of:
#   imports_s   Python start-up with the package, xarray and matplotlib
#               imported (the floor of any quellmar-plot run)
#   plot_s      quellmar-plot moments on the spectra day (whole command)
#   open_s      xarray opening the moments file and loading the per-ray
#               variables and every moment field (the floor of reading it)
#   read_s      quellmar.read_moments on the same file (in-process)
# Prints one table; never fails on a slow result.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-3}

bench_build quellmar-nc quellmar-bench-input
if [ ! -x build-release/quellmar-nc ] || [ ! -x build-release/quellmar-plot ]; then
  echo "bench/plot.sh: needs quellmar-nc and quellmar-plot (scripts/install-deps)" >&2
  exit 1
fi
python=$(sed -n '1s/^#!//p' build-release/quellmar-plot)

mkdir -p "$data/plot"
bench_inputs
for input in d02123a.spc d02123a.mom; do
  if [ ! -s "$data/plot/$input.nc" ] || [ "$data/$input" -nt "$data/plot/$input.nc" ]; then
    echo "converting $input ..." >&2
    build-release/quellmar-nc "$data/$input" -o "$data/plot/$input.nc"
  fi
done

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f\n", b - a}'; }

export PYTHONPATH=$root/python
imports=() plots=() opens=() reads=()
for ((i = 0; i < runs; i++)); do
  t0=$(now)
  "$python" -c "import quellmar, quellmar.plots, quellmar.cli"
  t1=$(now)
  imports+=("$(elapsed "$t0" "$t1")")
  t0=$(now)
  build-release/quellmar-plot moments "$data/plot/d02123a.spc.nc" -o "$data/plot/spc-snr.png"
  t1=$(now)
  plots+=("$(elapsed "$t0" "$t1")")
  times=$("$python" - "$data/plot/d02123a.mom.nc" <<'PY'
import sys, time
import xarray as xr
import quellmar
from quellmar.moments import FIELDS, PER_RAY
path = sys.argv[1]
t0 = time.perf_counter()
with xr.open_dataset(path, decode_timedelta=False) as ds:
    for name in ("ray_start_index", "ray_n_gates", "ray_start_range", "ray_gate_spacing",
                 "beam_index", "time", "elevation", "azimuth") + PER_RAY + FIELDS:
        if name in ds:
            ds[name].values
t1 = time.perf_counter()
beams = quellmar.read_moments(path)
t2 = time.perf_counter()
print("%.3f %.3f %d" % (t1 - t0, t2 - t1, sum(d.sizes["time"] for d in beams.values())))
PY
)
  read -r open_s read_s records <<<"$times"
  opens+=("$open_s")
  reads+=("$read_s")
done

m() { printf '%s\n' "$@" | median; }
imp=$(m "${imports[@]}") plt=$(m "${plots[@]}") opn=$(m "${opens[@]}") rd=$(m "${reads[@]}")
spc_records=$("$python" -c "import xarray as xr, sys; print(xr.open_dataset(sys.argv[1]).sizes['time'])" \
  "$data/plot/d02123a.spc.nc")
printf '%-34s %9s %9s %7s %9s\n' measurement baseline_s time_s ratio records
awk -v b="$imp" -v t="$plt" -v n="$spc_records" 'BEGIN {
  printf "%-34s %9.3f %9.3f %7.2f %9d\n", "quellmar-plot moments, spectra day", b, t, t / b, n }'
awk -v b="$opn" -v t="$rd" -v n="$records" 'BEGIN {
  printf "%-34s %9.3f %9.3f %7.2f %9d\n", "read_moments, moments file", b, t, t / b, n }'
echo "baselines: imports only (plot); xarray open + load of the fields (read_moments)"
