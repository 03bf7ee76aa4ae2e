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

from quellmar.products import open_moments

FIELDS = ("VEL", "WIDTH", "SNR", "NOISE", "SIGNAL_POWER",
          "VEL2", "WIDTH2", "SNR2", "SIGNAL_POWER2", "AUX2",
          # quellmar-moments files: the stored moments kept, the QC flags and
          # the precipitation peak's moments.
          "VEL_STORED", "WIDTH_STORED", "SNR_STORED", "NOISE_STORED", "QC_FLAGS",
          "PRECIP_VEL", "PRECIP_WIDTH", "PRECIP_SNR")
PER_RAY = ("nyquist_velocity", "prt", "mode_index", "datacode", "spectral_points")


RAY_VARIABLES = ("ray_start_index", "ray_n_gates", "ray_start_range", "ray_gate_spacing",
                 "beam_index", "time", "elevation", "azimuth")


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
        and the second set when present; of a quellmar-moments file also
        *_STORED, QC_FLAGS and PRECIP_*) as (time, range), NaN where a ray
        has fewer gates than the widest one and where the file holds its
        fill value (QC_FLAGS as float, its bits intact);
      - nyquist_velocity, prt, mode_index, datacode and spectral_points
        (2048 or more: a RASS dwell) per record, those the file has.
    attrs: the file's global attributes plus `beam`.
    Raises QuellmarFileError for a file that is not a quellmar-nc file.
    """
    with open_moments(path) as ds:
        rays = {name: ds[name].values for name in RAY_VARIABLES + PER_RAY if name in ds}
        flat = {name: ds[name].values for name in FIELDS if name in ds}
        field_attrs = {name: dict(ds[name].attrs) for name in flat}
        attrs = dict(ds.attrs)
    return beam_datasets(rays, flat, field_attrs, attrs)


def gate_heights(first_range, spacing, elevation, n_gates, width):
    """height (rays, width), float32, in m above the radar of each ray's
    gates from its own geometry (float64 first range and spacing, elevation
    in degrees), NaN beyond its n_gates."""
    gate = np.arange(width)
    gate_range = first_range[:, None] + spacing[:, None] * gate[None, :]
    gate_range[~(gate[None, :] < n_gates[:, None])] = np.nan
    height = gate_range * np.sin(np.deg2rad(elevation.astype(np.float64)))[:, None]
    return height.astype(np.float32)


def beam_grids(rays, only=None, gather=True):
    """{beam: (rays_of_beam, inside, index, range_axis, height)}: for each
    beam of the per-ray arrays (RAY_VARIABLES, in file order; those in
    `only` when it is given) its rays in time order, which gates of its
    (time, range) grid they have, where each grid cell lies in the
    variable-gates layout (0 outside), the range coordinate and the height
    of every cell (gate_heights). Without `gather`, only rays_of_beam and
    range_axis: the rest is None."""
    start = rays["ray_start_index"].astype(np.int64)
    n_gates = rays["ray_n_gates"].astype(np.int64)
    first_range = rays["ray_start_range"].astype(np.float64)
    spacing = rays["ray_gate_spacing"].astype(np.float64)
    beams = rays["beam_index"]
    times = rays["time"]
    elevation = rays["elevation"]

    grids = {}
    for beam in np.unique(beams):
        if only is not None and int(beam) not in only:
            continue
        rays_of_beam = np.flatnonzero(beams == beam)
        rays_of_beam = rays_of_beam[np.argsort(times[rays_of_beam], kind="stable")]
        n = n_gates[rays_of_beam]
        width = int(n.max()) if len(n) else 0
        gate = np.arange(width)
        if len(n):
            # The first ray with the most gates.
            widest = rays_of_beam[int(np.argmax(n))]
            range_axis = (first_range[widest] + spacing[widest] * gate).astype(np.float32)
        else:
            range_axis = np.zeros(0, np.float32)
        if not gather:
            grids[int(beam)] = (rays_of_beam, None, None, range_axis, None)
            continue
        inside = gate[None, :] < n[:, None]
        index = np.where(inside, start[rays_of_beam][:, None] + gate[None, :], 0)
        height = gate_heights(first_range[rays_of_beam], spacing[rays_of_beam],
                              elevation[rays_of_beam], n, width)
        grids[int(beam)] = (rays_of_beam, inside, index, range_axis, height)
    return grids


def doppler_axis(velocity, rays_of_beam):
    """doppler_velocity(time, doppler) of a beam from the per-ray axes
    (rays, points), as wide as the beam's longest spectrum."""
    axis = velocity[rays_of_beam]
    points = int(np.max(np.sum(~np.isnan(axis), axis=1), initial=0))
    return axis[:, :points]


SPECTRA_ATTRS = {"long_name": "Doppler spectrum",
                 "comment": "spectral point k + 1 at doppler index k (linear, as stored); "
                            "NaN outside the spectral windows"}


def beam_datasets(rays, flat, field_attrs, attrs, spectra=None):
    """{beam: Dataset (time, range)} from the variable-gates layout.

    rays: the per-ray arrays of RAY_VARIABLES and PER_RAY, in file order;
    flat: {field: values of all gates of all rays}, emptied here as each
    field is gathered, so that a field is never held twice over;
    spectra: None, or {"spectra": values (gates, points) by spectral point,
    "doppler_velocity": (rays, points)}, gathered into
    spectra(time, range, doppler) and the coordinate
    doppler_velocity(time, doppler) (NaN beyond each record's spectrum),
    emptied the same way.
    """
    # The grid of every beam first; then one field at a time for all beams.
    grids = beam_grids(rays)

    data_vars = {beam: {} for beam in grids}
    for name in list(flat):
        values = flat.pop(name)
        if not np.issubdtype(values.dtype, np.floating):
            values = values.astype(np.float32)  # flag bytes: NaN beyond a ray
        for beam, (_, inside, index, _, _) in grids.items():
            grid = values[index] if values.size else np.full(index.shape, np.nan, np.float32)
            grid[~inside] = np.nan
            data_vars[beam][name] = (("time", "range"), grid, field_attrs[name])
        del values
    doppler = {}
    if spectra is not None:
        values = spectra.pop("spectra")
        velocity = spectra.pop("doppler_velocity")
        for beam, (rays_of_beam, inside, index, _, _) in grids.items():
            doppler[beam] = doppler_axis(velocity, rays_of_beam)
            points = doppler[beam].shape[1]
            grid = values[index, :points] if values.size else np.full(
                index.shape + (points,), np.nan, np.float32)
            grid[~inside] = np.nan
            data_vars[beam]["spectra"] = (("time", "range", "doppler"), grid, SPECTRA_ATTRS)
        del values, velocity

    return {beam: beam_dataset(beam, rays, grid, data_vars[beam], attrs, doppler.get(beam))
            for beam, grid in grids.items()}


def beam_dataset(beam, rays, grid, data_vars, attrs, doppler=None):
    """The Dataset of one beam: its data variables (name: (dims, values,
    attrs) or Variable), the per-ray variables and coordinates of its rays
    from `rays`, its grid from beam_grids, and doppler_velocity when
    `doppler` (time, doppler) is given."""
    rays_of_beam, _, _, range_axis, height = grid
    data_vars = dict(data_vars)
    for name in PER_RAY:
        if name in rays:
            data_vars[name] = (("time",), rays[name][rays_of_beam])
    coords = {
        "time": ("time", rays["time"][rays_of_beam]),
        "range": ("range", range_axis,
                  {"units": "m", "long_name": "range along the beam",
                   "comment": "ranges of the beam's ray with the most gates; "
                              "height holds every ray's own"}),
        "height": (("time", "range"), height,
                   {"units": "m", "long_name": "height above the radar",
                    "positive": "up"}),
        "azimuth": ("time", rays["azimuth"][rays_of_beam], {"units": "degrees"}),
        "elevation": ("time", rays["elevation"][rays_of_beam], {"units": "degrees"}),
        "ray": ("time", rays["ray"][rays_of_beam] if "ray" in rays else rays_of_beam,
                {"long_name": "record index in the file"}),
        "ray_start_range": ("time", rays["ray_start_range"].astype(np.float64)[rays_of_beam],
                            {"units": "m"}),
        "ray_gate_spacing": ("time", rays["ray_gate_spacing"].astype(np.float64)[rays_of_beam],
                             {"units": "m"}),
    }
    if doppler is not None:
        coords["doppler_velocity"] = (
            ("time", "doppler"), doppler,
            {"units": "m s-1", "long_name": "Doppler velocity",
             "comment": "(k - P/2) * 2 nyquist_velocity / P at doppler index k of a "
                        "spectrum of P points; positive away from the radar"})
    result = xr.Dataset(data_vars, coords=coords, attrs=dict(attrs))
    result.attrs["beam"] = beam
    return result
