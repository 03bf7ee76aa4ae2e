"""open_pair and inspect: profiler file pairs read directly, through the
access module (the extension quellmar._pairs), with no netCDF file between.
"""

import json
import os

import numpy as np

from quellmar.damage import check_on_damage, warn_damage
from quellmar.moments import beam_datasets

try:
    from quellmar import _pairs
except ImportError as e:  # built only where pybind11 is
    _pairs = None
    _missing = str(e)

def _extension():
    if _pairs is None:
        raise ImportError(
            "quellmar.open_pair and quellmar.inspect need the extension quellmar._pairs, "
            "which was not built or installed with this package (it is built by CMake "
            "when pybind11 is there, Debian: pybind11-dev python3-pybind11): %s" % _missing)
    return _pairs


def _path(path):
    path = os.fspath(path)
    if isinstance(path, bytes):
        path = os.fsdecode(path)
    return path


def _radar(radar):
    """The extension's radar number (-1: every radar)."""
    if radar is None:
        return -1
    if isinstance(radar, bool) or not isinstance(radar, (int, np.integer)) or radar < 0:
        raise ValueError("radar must be a radar number (0 or more) or None")
    return int(radar)


def open_pair(path, *, radar=0, spectra=False, on_damage="warn"):
    """Returns {beam number: xarray.Dataset} for the file pair of the data
    file `path` (d*.mom or d*.spc; the header file beside it as quellmar
    finds it).

    The Datasets are those read_moments gives for the file quellmar-nc
    converts from the pair (same variables, coordinates, attributes and
    values) when the pair holds only records of `radar` (None: every
    radar; quellmar-nc converts every radar unless --radar is given).

    spectra=True (a spectra file only) adds spectra(time, range, doppler):
    spectral point k + 1 at doppler index k (linear), NaN for points outside
    the spectral windows; and the coordinate doppler_velocity(time, doppler)
    in m/s, (k - P/2) * 2 V / P for P points and Nyquist velocity V of the
    record, NaN beyond its spectrum.

    on_damage: "warn" (read what can be read, as quellmar-nc converts it,
    with a QuellmarDamageWarning per finding), "raise" (QuellmarFileError
    naming the first finding, as quellmar-nc reports it) or "ignore".
    Records of radars other than `radar` are not read and are no finding.

    Everything is read at once; xr.open_dataset(path, engine="quellmar")
    reads a beam's fields only when they are indexed.

    Raises QuellmarFileError for a pair that cannot be opened or read,
    MemoryError when a record's arrays cannot be allocated.
    """
    check_on_damage(on_damage)
    path = _path(path)
    raw = _extension().read_pair(path, _radar(radar), bool(spectra), on_damage == "raise")
    if on_damage == "warn":
        warn_damage(path, raw["damage"], raw["damage_count"])
    rays = raw["rays"]
    rays["time"] = rays["time"].astype("datetime64[s]").astype("datetime64[ns]")
    attrs = raw["attrs"]
    extra = None
    if spectra:
        extra = {"spectra": raw.pop("spectra"), "doppler_velocity": raw.pop("doppler_velocity")}
    return beam_datasets(rays, raw["fields"], raw["field_attrs"], attrs, extra)


def inspect(path):
    """The damage report of quellmar-info for the pair: the same data as
    `quellmar-info PATH --json`, as a dict. Raises QuellmarFileError for a
    pair that cannot be opened."""
    return json.loads(_extension().inspect(_path(path)))


