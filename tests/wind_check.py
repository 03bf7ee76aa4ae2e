#!/usr/bin/env python3
"""Reads a quellmar-wind file with xarray the documented way and checks it.

Usage: wind_check.py FILE.nc --modes 0,1 [--latitude DEG] [--longitude DEG]
                     [--altitude M]

Run by tests/wind_test.cpp on the files it makes. Checks, for every mode
group: the CF standard names and units, that fill values are masked to NaN
(no -9999 left after decoding, and some NaN present in the profiles), the
time bounds around each period centre, the height coordinate; and the
root attributes and position.
"""

import argparse
import math
import sys

import numpy as np
import xarray as xr

PROFILES = {
    "eastward_wind": ("eastward_wind", "m s-1"),
    "northward_wind": ("northward_wind", "m s-1"),
    "upward_air_velocity": ("upward_air_velocity", "m s-1"),
    "wind_speed": ("wind_speed", "m s-1"),
    "wind_from_direction": ("wind_from_direction", "degree"),
}
FILLED = list(PROFILES) + ["fit_residual", "radial_velocity", "mean_snr",
                           "gate_height"]


def read_winds(path):
    """{mode number: Dataset}, root attributes merged into each."""
    root = xr.open_dataset(path)
    modes = [int(m) for m in root.attrs["modes"].split(", ")]
    out = {}
    for mode in modes:
        ds = xr.open_dataset(path, group=f"mode_{mode}")
        ds.attrs = {**root.attrs, **ds.attrs}
        out[mode] = ds
    return root, out


def check(condition, what):
    if not condition:
        print("wind_check: " + what)
        sys.exit(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("path")
    parser.add_argument("--modes", required=True)
    parser.add_argument("--latitude", type=float)
    parser.add_argument("--longitude", type=float)
    parser.add_argument("--altitude", type=float)
    a = parser.parse_args()

    root, modes = read_winds(a.path)
    check(sorted(modes) == [int(m) for m in a.modes.split(",")], "modes")
    check(root.attrs["Conventions"] == "CF-1.8", "Conventions")
    check(root.attrs["featureType"] == "timeSeriesProfile", "featureType")
    for name in ("period_minutes", "consensus_window_m_s", "min_fraction",
                 "min_snr_db", "azimuth_offset_deg", "velocity_sign",
                 "input_files", "site_name", "title", "source", "history"):
        check(name in root.attrs, "global attribute " + name)
    for name in ("latitude", "longitude", "altitude"):
        given = getattr(a, name)
        value = float(root[name].values)
        if given is None:
            check(math.isnan(value) and name not in root.attrs, name)
        else:
            check(value == given and root.attrs[name] == given, name)

    for mode, ds in modes.items():
        where = f"mode_{mode}: "
        check(ds.attrs["operating_mode"] == mode, where + "operating_mode")
        check(ds.attrs["featureType"] == "timeSeriesProfile",
              where + "root attributes merged")
        for name, (standard, units) in PROFILES.items():
            v = ds[name]
            check(v.dims == ("time", "height"), where + name + " dims")
            check(v.attrs["standard_name"] == standard, where + name)
            check(v.attrs["units"] == units, where + name + " units")
        for name in FILLED:
            v = ds[name]
            check(v.encoding.get("_FillValue") == np.float32(-9999.0),
                  where + name + " _FillValue")
            check(not np.any(v.values == -9999.0), where + name + " masked")
        check(np.isnan(ds.eastward_wind.values).any(),
              where + "missing winds are NaN")
        check(np.isfinite(ds.eastward_wind.values).any(), where + "winds")
        h = ds.height
        check(h.attrs["standard_name"] == "height" and
              h.attrs["positive"] == "up" and h.attrs["units"] == "m",
              where + "height")
        t = ds.time
        check(t.attrs["standard_name"] == "time", where + "time")
        check(t.attrs["bounds"] == "time_bounds", where + "time bounds")
        b = ds.time_bounds.values
        check(np.issubdtype(t.values.dtype, np.datetime64),
              where + "time decoded")
        period = np.timedelta64(int(root.attrs["period_minutes"]), "m")
        check(np.all(b[:, 0] < t.values) and np.all(t.values < b[:, 1]),
              where + "centre inside its bounds")
        check(np.all(b[:, 1] - b[:, 0] <= period), where + "period length")
        check(np.all(t.values - b[:, 0] == b[:, 1] - t.values),
              where + "centre in the middle")
        check(np.all(ds.n_used.values <= ds.n_available.values),
              where + "counts")
    return 0


if __name__ == "__main__":
    sys.exit(main())
