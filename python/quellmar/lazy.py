"""A beam of a file pair as a Dataset whose fields are read on demand.

Opening reads the RecordHeaders only (the scan quellmar-nc makes before it
converts): which records belong to the beam, their offsets, times and gate
counts. Coordinates and the per-record variables come from that scan; each
field (and the spectra) is a lazy array that decodes, when indexed, only
the records of the time steps asked for, through the extension (under its
lock, the interpreter lock released). Nothing stays open between reads: a
lazy array holds the path and the offsets of its records, so it can be
pickled and read in another process.
"""

import threading

import numpy as np
import xarray as xr
from xarray.backends import BackendArray
from xarray.core import indexing

from quellmar.damage import check_on_damage, warn_damage
from quellmar.errors import QuellmarFileError
from quellmar.moments import (SPECTRA_ATTRS, beam_dataset, beam_grids, doppler_axis,
                              gate_heights)
from quellmar.pairs import _extension, _path, _radar


# The other fields of the last read of every record of a beam, decoded
# with the one asked for: loading a Dataset reads its fields one after the
# other, and each then takes its values from here instead of decoding the
# records again. Each is taken once; a new read of all records replaces
# them.
_parked = {}
_parked_lock = threading.Lock()


def _all_records(path, offsets, name, siblings, width):
    key = (path, width, offsets.tobytes())
    with _parked_lock:
        values = _parked.pop((key, name), None)
    if values is not None:
        return values
    names = [name] + [n for n in siblings if n != name]
    read = _extension().read_records(path, offsets, names, width, 0)
    with _parked_lock:
        _parked.clear()
        _parked.update(((key, n), read[n]) for n in names[1:])
    return read[name]


def _outer(values, steps, key):
    """values (rows of the time steps asked for, then the other axes
    whole) indexed by the rest of the outer indexing key: each axis on its
    own, the last first, so that an integer dropping its axis moves none of
    the axes still to index."""
    for axis in range(len(key) - 1, 0, -1):
        values = values[(slice(None),) * axis + (key[axis],)]
    return values[0] if np.ndim(steps) == 0 else values


class RecordArray(BackendArray):
    """Field `name` (time, range) or the spectra (time, range, doppler) of
    the records at `offsets` (one per time step), `width` gates wide.
    `siblings`: the fields of the same records that a read of all of them
    decodes along (see _parked)."""

    def __init__(self, path, offsets, name, width, points=0, siblings=()):
        self.path = path
        self.offsets = np.asarray(offsets, dtype=np.int64)
        self.name = name
        self.width = int(width)
        self.points = int(points)
        self.siblings = tuple(siblings)
        self.shape = (len(self.offsets), self.width) + ((self.points,) if name == "spectra" else ())
        self.dtype = np.dtype(np.float32)

    def __getitem__(self, key):
        return indexing.explicit_indexing_adapter(
            key, self.shape, indexing.IndexingSupport.OUTER, self._read)

    def _read(self, key):
        steps = np.arange(len(self.offsets))[key[0]]
        rows = np.atleast_1d(steps)
        if self.name == "spectra":
            values = _extension().read_records(self.path, self.offsets[rows], [], self.width,
                                               self.points)["spectra"]
        elif len(rows) == len(self.offsets) and (np.diff(rows) == 1).all():
            values = _all_records(self.path, self.offsets, self.name, self.siblings, self.width)
        else:
            values = _extension().read_records(self.path, self.offsets[rows], [self.name],
                                               self.width, 0)[self.name]
        return _outer(values, steps, key)


class HeightArray(BackendArray):
    """height (time, range) of a beam's rays, computed from their gate
    geometry when indexed (gate_heights), as open_pair holds it."""

    def __init__(self, first_range, spacing, elevation, n_gates, width):
        self.first_range = first_range
        self.spacing = spacing
        self.elevation = elevation
        self.n_gates = n_gates
        self.shape = (len(n_gates), int(width))
        self.dtype = np.dtype(np.float32)

    def __getitem__(self, key):
        return indexing.explicit_indexing_adapter(
            key, self.shape, indexing.IndexingSupport.OUTER, self._read)

    def _read(self, key):
        steps = np.arange(self.shape[0])[key[0]]
        rows = np.atleast_1d(steps)
        return _outer(gate_heights(self.first_range[rows], self.spacing[rows],
                                   self.elevation[rows], self.n_gates[rows], self.shape[1]),
                      steps, key)


def scan(path, *, radar=0, spectra=False, on_damage="warn", beam=None):
    """The extension's scan of the pair: per-ray arrays (time as
    datetime64[ns]) of the rays of `beam` (None: of all), fields,
    attributes, the beams of all rays; findings warned or raised."""
    check_on_damage(on_damage)
    path = _path(path)
    raw = _extension().scan_pair(path, _radar(radar), bool(spectra), on_damage == "raise",
                                 -1 if beam is None else int(beam))
    if on_damage == "warn":
        warn_damage(path, raw["damage"], raw["damage_count"])
    rays = raw["rays"]
    rays["time"] = rays["time"].astype("datetime64[s]").astype("datetime64[ns]")
    return path, raw


def open_beams(path, *, beams=None, radar=0, spectra=False, on_damage="warn",
               drop_variables=()):
    """{beam: Dataset} as open_pair gives them, with lazy fields (and
    spectra), for the beams in `beams` (None: every beam)."""
    path, raw = scan(path, radar=radar, spectra=spectra, on_damage=on_damage)
    return lazy_datasets(path, raw, beams, drop_variables)


def lazy_datasets(path, raw, beams=None, drop_variables=()):
    rays = raw["rays"]
    drop = set(drop_variables or ())
    out = {}
    for beam, grid in beam_grids(rays, beams, gather=False).items():
        rays_of_beam, _, _, range_axis, _ = grid
        offsets = rays["offset"][rays_of_beam]
        width = len(range_axis)
        height = indexing.LazilyIndexedArray(HeightArray(
            rays["ray_start_range"].astype(np.float64)[rays_of_beam],
            rays["ray_gate_spacing"].astype(np.float64)[rays_of_beam],
            rays["elevation"][rays_of_beam],
            rays["ray_n_gates"].astype(np.int64)[rays_of_beam], width))
        grid = grid[:4] + (height,)
        data_vars = {}
        fields = [name for name in raw["fields"] if name not in drop]
        for name in fields:
            array = indexing.LazilyIndexedArray(
                RecordArray(path, offsets, name, width, siblings=fields))
            data_vars[name] = xr.Variable(("time", "range"), array, raw["field_attrs"][name])
        doppler = None
        if "doppler_velocity" in raw:
            doppler = doppler_axis(raw["doppler_velocity"], rays_of_beam)
            if "spectra" not in drop:
                array = indexing.LazilyIndexedArray(
                    RecordArray(path, offsets, "spectra", width, doppler.shape[1]))
                data_vars["spectra"] = xr.Variable(("time", "range", "doppler"), array,
                                                   SPECTRA_ATTRS)
        ds = beam_dataset(beam, rays, grid, data_vars, raw["attrs"], doppler)
        if drop:
            ds = ds.drop_vars(drop, errors="ignore")
        out[beam] = ds
    return out


def open_beam(path, beam=None, **options):
    """The Dataset of one beam (the lowest without `beam`), lazily."""
    if isinstance(beam, bool) or not (beam is None or isinstance(beam, (int, np.integer))):
        raise ValueError("beam must be a beam number or None")
    path, raw = scan(path, radar=options.get("radar", 0), spectra=options.get("spectra", False),
                     on_damage=options.get("on_damage", "warn"), beam=beam)
    present = sorted(int(b) for b in raw["beams"])
    if beam is None:
        if not present:
            raise QuellmarFileError("%s: holds no records" % path)
        beam = present[0]
    if beam not in present:
        raise QuellmarFileError("%s: no beam %s (the pair has beams %s)"
                                % (path, beam, ", ".join(str(b) for b in present)))
    return lazy_datasets(path, raw, {int(beam)}, options.get("drop_variables"))[int(beam)]
