#!/usr/bin/env bash
# The lazy engine against open_pair (bench/archive.py): opening the moments
# bench file, opening an archive of day files with open_mfdataset, a daily
# mean profile of VEL on two dask worker processes, a file loaded whole.
#
# Builds Release in build-release/ (the extension quellmar._pairs and the
# benchmark input generator), generates the moments file once into
# $QUELLMAR_BENCH_DIR (default /tmp/quellmar-bench, shared with
# bench/run.sh) and, from it, DAYS day files (default 30) as large as a
# moments day of an archive (bench/archive.py --shifted, about 45 MB each,
# 1.3 GB for 30 days) into its large-days/ folder, then prints the medians
# of RUNS runs (default 3). With SMALL=1, the same again on DAYS small
# generated days (quellmar-bench-input --days, about 0.9 MB each), where
# the fixed cost of xarray and dask per file dominates. Never fails on a
# slow result.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-3}
days=${DAYS:-30}

bench_build quellmar_pairs quellmar-bench-input
if ! ls build-release/python/quellmar/_pairs*.so >/dev/null 2>&1; then
  echo "bench/archive.sh: needs the extension quellmar._pairs (pybind11, scripts/install-deps)" >&2
  exit 1
fi
python=$(sed -n '1s/^#!//p' build-release/quellmar-plot)
bench_inputs
if [ "$(ls "$data/large-days"/d*.mom 2>/dev/null | wc -l)" -ne "$days" ]; then
  rm -rf "$data/large-days"
  "$python" bench/archive.py --shifted "$days" "$data/d02123a.mom" "$data/large-days"
fi
echo "--- $days days as large as the moments file:"
PYTHONPATH=$root/build-release/python:$root/python \
  "$python" bench/archive.py "$data/d02123a.mom" "$data/large-days" "$runs"
if [ -n "${SMALL:-}" ]; then
  if [ "$(ls "$data/days"/d*.mom 2>/dev/null | wc -l)" -ne "$days" ]; then
    rm -rf "$data/days" && mkdir -p "$data/days"
    "$generator" --days "$days" "$data/days"
  fi
  echo "--- $days small generated days:"
  PYTHONPATH=$root/build-release/python:$root/python \
    "$python" bench/archive.py "$data/d02123a.mom" "$data/days" "$runs"
fi
