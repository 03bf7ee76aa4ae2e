"""read_spectra: the range x Doppler velocity spectra of one record."""

import numbers

import numpy as np
import xarray as xr

from quellmar.errors import QuellmarFileError
from quellmar.products import open_moments


def read_spectra(path, ray):
    """Returns an xarray.Dataset (range, velocity) for record `ray` (counted
    from 0 in file order) of a quellmar-nc file converted from spectra input.

      - spectra(range, velocity): the stored spectral values (linear);
        power(range, velocity): the same in dB (NaN where not positive);
      - range: metres along the beam of each gate; height(range) in m above
        the radar;
      - velocity: m/s of each spectral point, point k of P at
        -nyquist + k * 2 nyquist / P (so the axis spans -nyquist to
        nyquist, with 0 at point P/2).
    attrs: the file's global attributes plus ray, time (ISO 8601 UTC),
    beam, mode, datacode, azimuth, elevation, nyquist_velocity.

    A record's spectrum line is the whole spectrum when it has two windows
    (or one window over every point), which is what the axis assumes: for a
    single narrower window the file does not tell where the window starts.
    Raises QuellmarFileError for another file, a file without spectra or a
    ray out of range.
    """
    with open_moments(path) as ds:
        count = ds.sizes["time"]
        if (not isinstance(ray, numbers.Integral) or isinstance(ray, bool)
                or not 0 <= ray < count):
            raise QuellmarFileError(
                "%s: ray %s out of range (the file has %d records, rays 0 to %d)"
                % (path, ray, count, count - 1))
        if "spectra" not in ds:
            raise QuellmarFileError(
                "%s: holds no spectra (converted from moments input)" % path)
        start = int(ds["ray_start_index"].values[ray])
        n = int(ds["ray_n_gates"].values[ray])
        block = ds["spectra"][start:start + n].values.astype(np.float64)
        first_range = float(ds["ray_start_range"].values[ray])
        spacing = float(ds["ray_gate_spacing"].values[ray])
        elevation = float(ds["elevation"].values[ray])
        nyquist = float(ds["nyquist_velocity"].values[ray])
        attrs = dict(ds.attrs)
        attrs.update(
            ray=int(ray),
            time=np.datetime_as_string(ds["time"].values[ray], unit="s") + "Z",
            beam=int(ds["beam_index"].values[ray]),
            mode=int(ds["mode_index"].values[ray]),
            datacode=int(ds["datacode"].values[ray]),
            azimuth=float(ds["azimuth"].values[ray]),
            elevation=elevation,
            nyquist_velocity=nyquist)

    # The line of this record ends where the fill values of shorter lines
    # begin.
    stored = np.flatnonzero(~np.all(np.isnan(block), axis=0)) if n else []
    points = int(stored[-1]) + 1 if len(stored) else 0
    block = block[:, :points]
    velocity = -nyquist + np.arange(points) * (2.0 * nyquist / points if points else 0.0)
    gate_range = first_range + spacing * np.arange(n)
    with np.errstate(divide="ignore", invalid="ignore"):
        power = np.where(block > 0, 10.0 * np.log10(block), np.nan)
    return xr.Dataset(
        {"spectra": (("range", "velocity"), block, {"long_name": "Doppler spectrum"}),
         "power": (("range", "velocity"), power, {"long_name": "spectral power", "units": "dB"})},
        coords={
            "range": ("range", gate_range, {"units": "m", "long_name": "range along the beam"}),
            "height": ("range", gate_range * np.sin(np.deg2rad(elevation)),
                       {"units": "m", "long_name": "height above the radar", "positive": "up"}),
            "velocity": ("velocity", velocity,
                         {"units": "m s-1", "long_name": "Doppler velocity"}),
        },
        attrs=attrs)
