"""The lazy engine against open_pair: one file, an archive of day files, a
daily mean profile on two dask workers, a file loaded whole.

    python3 bench/archive.py MOMENTS_FILE DAYS_FOLDER [RUNS]
    python3 bench/archive.py --shifted N MOMENTS_FILE FOLDER

The second form writes N files into FOLDER, each the moments bench file
(layout N records, 39 hours) with its record times moved by 2, 4, ... 2N
days: an archive of days as large as that file.

Each measurement runs in a fresh Python process that has imported quellmar,
xarray and dask (not timed); the median of RUNS runs (default 3) is
printed. Memory: RSS after the step less RSS before it (peak RSS for a
file loaded whole), the step having run once on the sample pair before.
Needs PYTHONPATH to reach the package and its extension, and
python3-distributed for the dask line.
"""

import glob
import json
import os
import resource
import statistics
import subprocess
import sys
import time


def rss_mb():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0


def peak_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def step(name, moments, days):
    import numpy as np
    import xarray as xr
    import quellmar
    files = sorted(glob.glob(os.path.join(days, "d*.mom")))
    # The same once on the sample pair, so that the first use's imports and
    # set-up are not counted.
    sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sample",
                          "d02123a.mom")
    if name.startswith("eager"):
        quellmar.open_pair(sample)
    elif name in ("lazy_one", "lazy_all"):
        xr.open_mfdataset([sample], engine="quellmar", beam=0, combine="nested",
                          concat_dim="time", parallel=True)
    elif name == "lazy_load":
        xr.open_dataset(sample, engine="quellmar").load()
    base = rss_mb()
    t0 = time.perf_counter()
    out = {}
    if name == "eager_one":
        beams = quellmar.open_pair(moments)
    elif name == "lazy_one":
        ds = xr.open_dataset(moments, engine="quellmar")
    elif name == "eager_all":
        for p in files:  # read, not kept: the time it takes
            quellmar.open_pair(p)
    elif name == "lazy_all":
        ds = xr.open_mfdataset(files, engine="quellmar", beam=0, combine="nested",
                               concat_dim="time", parallel=True)
    elif name == "eager_mean":
        vel = xr.concat([quellmar.open_pair(p)[0]["VEL"] for p in files], dim="time")
        mean = vel.resample(time="1D").mean()
        out["values"] = np.nan_to_num(mean.values, nan=-1e30).tolist()
    elif name == "dask_mean":
        from distributed import Client, LocalCluster
        with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                          dashboard_address=None) as cluster, Client(cluster):
            t0 = time.perf_counter()  # the cluster's start-up is not counted
            ds = xr.open_mfdataset(files, engine="quellmar", beam=0, combine="nested",
                                   concat_dim="time", parallel=True)
            mean = ds["VEL"].resample(time="1D").mean().compute()
            t1 = time.perf_counter()
        out["values"] = np.nan_to_num(mean.values, nan=-1e30).tolist()
        out["seconds"] = t1 - t0
    elif name == "lazy_load":
        # Every beam, as the engine opens it, from one scan.
        beams = {b: ds.load() for b, ds in quellmar.lazy.open_beams(moments).items()}
    elif name == "eager_load":
        beams = quellmar.open_pair(moments)
    t1 = time.perf_counter()
    out.setdefault("seconds", t1 - t0)
    out["rss_mb"] = rss_mb() - base
    out["peak_mb"] = peak_mb() - base
    if name in ("lazy_load", "eager_load"):
        out["arrays_mb"] = sum(v.values.nbytes for ds in beams.values()
                               for v in ds.variables.values()) / 2**20
    print(json.dumps(out))


def run(name, moments, days, runs):
    results = []
    for _ in range(runs):
        code = ("import sys; sys.path.insert(0, %r); import archive, quellmar, quellmar.lazy, "
                "xarray, dask; archive.step(%r, %r, %r)"
                % (os.path.dirname(os.path.abspath(__file__)), name, moments, days))
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        if done.returncode != 0:
            raise SystemExit("%s failed: %s" % (name, done.stderr.strip().splitlines()[-1]))
        results.append(json.loads(done.stdout.strip().splitlines()[-1]))
    med = {k: statistics.median(r[k] for r in results)
           for k in results[0] if k != "values"}
    med["values"] = results[0].get("values")
    return med


def shifted(n, moments, folder):
    import struct
    with open(moments, "rb") as f:
        data = bytearray(f.read())
    offsets, at = [], 0
    while at + 16 <= len(data):
        offsets.append(at)
        at += struct.unpack_from("<i", data, at + 2)[0]
    os.makedirs(folder, exist_ok=True)
    header = os.path.join(os.path.dirname(moments), "h" + os.path.basename(moments)[1:])
    with open(header, "rb") as f:
        header_bytes = f.read()
    for day in range(1, n + 1):
        for at in offsets:
            struct.pack_into("<i", data, at + 12, struct.unpack_from("<i", data, at + 12)[0]
                             + 2 * 86400)
        name = "02%03da.mom" % (123 + 2 * day)
        with open(os.path.join(folder, "d" + name), "wb") as f:
            f.write(data)
        with open(os.path.join(folder, "h" + name), "wb") as f:
            f.write(header_bytes)


def main():
    if sys.argv[1] == "--shifted":
        shifted(int(sys.argv[2]), sys.argv[3], sys.argv[4])
        return
    moments, days = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    count = len(glob.glob(os.path.join(days, "d*.mom")))
    r = {name: run(name, moments, days, runs)
         for name in ("eager_one", "lazy_one", "eager_all", "lazy_all", "eager_mean",
                      "eager_load", "lazy_load")}
    try:
        import distributed  # noqa: F401  (only whether it is there)
        r["dask_mean"] = run("dask_mean", moments, days, runs)
    except ImportError:
        print("python3-distributed is not installed: no dask line")
    print("%-48s %9s %9s %6s %9s" % ("measurement", "baseline", "value", "ratio", "RSS+MB"))

    def line(what, base, value, memory):
        print("%-48s %8.3fs %8.3fs %6.3f %9.1f" % (what, base, value, value / base, memory))
    line("open one file: engine (lazy) vs open_pair", r["eager_one"]["seconds"],
         r["lazy_one"]["seconds"], r["lazy_one"]["rss_mb"])
    line("open %d day files: open_mfdataset vs open_pair" % count, r["eager_all"]["seconds"],
         r["lazy_all"]["seconds"], r["lazy_all"]["rss_mb"])
    if "dask_mean" in r:
        line("daily mean VEL: 2 dask workers vs eager", r["eager_mean"]["seconds"],
             r["dask_mean"]["seconds"], 0.0)
        print("daily means equal: %s" % (r["dask_mean"]["values"] == r["eager_mean"]["values"]))
    line("one file loaded whole (every beam) vs open_pair", r["eager_load"]["seconds"],
         r["lazy_load"]["seconds"], r["lazy_load"]["peak_mb"])
    print("memory of the file loaded whole: peak %.1f MB for %.1f MB of arrays (%.2fx); "
          "open_pair: peak %.1f MB (%.2fx)"
          % (r["lazy_load"]["peak_mb"], r["lazy_load"]["arrays_mb"],
             r["lazy_load"]["peak_mb"] / r["lazy_load"]["arrays_mb"],
             r["eager_load"]["peak_mb"],
             r["eager_load"]["peak_mb"] / r["eager_load"]["arrays_mb"]))


if __name__ == "__main__":
    main()
