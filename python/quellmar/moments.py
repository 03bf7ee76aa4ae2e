"""read_moments: a quellmar-nc file as one time x range Dataset per beam.

The file keeps every ray's own gates one after the other (CF-Radial
variable gates). Here the rays of each beam are put on a grid: one row per
record of the beam in time order, one column per gate. The unpacking is a
single fancy-index per field, with no Python loop over records.

One Dataset per beam, not one with a beam dimension: the beams of a
profiler dwell in turn, so their records never share a time, and a common
time axis would be mostly empty.
"""

import numpy as np
import xarray as xr

from quellmar.errors import open_moments

FIELDS = ("VEL", "WIDTH", "SNR", "NOISE", "SIGNAL_POWER",
          "VEL2", "WIDTH2", "SNR2", "SIGNAL_POWER2", "AUX2")
PER_RAY = ("nyquist_velocity", "prt", "mode_index", "datacode", "spectral_points")


def read_moments(path):
    """Returns {beam number: xarray.Dataset} for a quellmar-nc file.

    Each Dataset has the dimensions (time, range):
      - time: the beam's record times (UTC), sorted;
      - range: metres along the beam of the beam's ray with the most gates
        (the first such ray in time);
      - coordinates height(time, range) in m above the radar, each ray's own
        gate geometry times sin(elevation); azimuth(time), elevation(time)
        in degrees; ray(time), the record's index in the file;
        ray_start_range(time), ray_gate_spacing(time): each ray's own gate
        geometry in m;
      - the moment fields of the file (VEL, WIDTH, SNR, NOISE, SIGNAL_POWER
        and the second set when present) as (time, range), NaN where a ray
        has fewer gates than the widest one and where the file holds its
        fill value;
      - nyquist_velocity, prt, mode_index, datacode and spectral_points
        (2048 or more: a RASS dwell) per record, those the file has.
    attrs: the file's global attributes plus `beam`.
    Raises QuellmarFileError for a file that is not a quellmar-nc file.
    """
    with open_moments(path) as ds:
        start = ds["ray_start_index"].values.astype(np.int64)
        n_gates = ds["ray_n_gates"].values.astype(np.int64)
        first_range = ds["ray_start_range"].values.astype(np.float64)
        spacing = ds["ray_gate_spacing"].values.astype(np.float64)
        beams = ds["beam_index"].values
        times = ds["time"].values
        elevation = ds["elevation"].values
        azimuth = ds["azimuth"].values
        per_ray = {name: ds[name].values for name in PER_RAY if name in ds}
        flat = {name: ds[name].values for name in FIELDS if name in ds}
        field_attrs = {name: dict(ds[name].attrs) for name in flat}
        attrs = dict(ds.attrs)

    out = {}
    for beam in np.unique(beams):
        rays = np.flatnonzero(beams == beam)
        rays = rays[np.argsort(times[rays], kind="stable")]
        n = n_gates[rays]
        width = int(n.max()) if len(n) else 0
        gate = np.arange(width)
        inside = gate[None, :] < n[:, None]
        index = np.where(inside, start[rays][:, None] + gate[None, :], 0)
        gate_range = first_range[rays][:, None] + spacing[rays][:, None] * gate[None, :]
        gate_range[~inside] = np.nan
        height = gate_range * np.sin(np.deg2rad(elevation[rays].astype(np.float64)))[:, None]
        widest = int(np.argmax(n)) if len(n) else 0
        range_axis = (gate_range[widest] if len(n) else np.zeros(0)).astype(np.float32)

        data_vars = {}
        for name, values in flat.items():
            grid = values[index] if values.size else np.full(index.shape, np.nan, np.float32)
            grid[~inside] = np.nan
            data_vars[name] = (("time", "range"), grid, field_attrs[name])
        for name, values in per_ray.items():
            data_vars[name] = (("time",), values[rays])
        coords = {
            "time": ("time", times[rays]),
            "range": ("range", range_axis,
                      {"units": "m", "long_name": "range along the beam",
                       "comment": "ranges of the beam's ray with the most gates; "
                                  "height holds every ray's own"}),
            "height": (("time", "range"), height.astype(np.float32),
                       {"units": "m", "long_name": "height above the radar",
                        "positive": "up"}),
            "azimuth": ("time", azimuth[rays], {"units": "degrees"}),
            "elevation": ("time", elevation[rays], {"units": "degrees"}),
            "ray": ("time", rays, {"long_name": "record index in the file"}),
            "ray_start_range": ("time", first_range[rays], {"units": "m"}),
            "ray_gate_spacing": ("time", spacing[rays], {"units": "m"}),
        }
        result = xr.Dataset(data_vars, coords=coords, attrs=dict(attrs))
        result.attrs["beam"] = int(beam)
        out[int(beam)] = result
    return out
