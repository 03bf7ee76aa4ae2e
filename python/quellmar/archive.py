"""open_archive: one beam over many file pairs (days of an archive) as one
lazily read Dataset along time.

xr.open_mfdataset(paths, engine="quellmar", combine="nested",
concat_dim="time") concatenates the files as given; open_archive also puts
them in time order, reads a record that two files hold (a copied day file)
once, with a warning that names both files, and refuses files whose gates
lie at different ranges, saying which.
"""

import glob
import os
import warnings

import numpy as np
import xarray as xr

from quellmar.damage import _caller_level
from quellmar.errors import QuellmarDamageWarning, QuellmarFileError


def _paths(paths):
    if isinstance(paths, (str, os.PathLike)):
        pattern = os.fspath(paths)
        found = sorted(glob.glob(pattern))
        if not found:
            raise QuellmarFileError("%s: no file matches" % pattern)
        return found
    return [os.fspath(p) for p in paths]


def _layout(ds):
    r = ds["range"].values
    if len(r) == 0:
        return "no gates"
    spacing = (r[1] - r[0]) if len(r) > 1 else 0.0
    return "%d gates from %g m, %g m apart" % (len(r), r[0], spacing)


def open_archive(paths, beam=None, *, parallel=False, chunks="files", **options):
    """The Dataset of beam `beam` over the pairs of `paths` (a list, or a
    glob pattern such as "archive/d02*.mom"), along one time axis in time
    order, read lazily: each file as xr.open_dataset(path,
    engine="quellmar", beam=beam, chunks=chunks, **options) gives it
    (parallel=True opens them in dask tasks, as open_mfdataset does).
    chunks: by default one dask chunk per file ({}), as open_mfdataset;
    None reads every file when they are concatenated.

    Without `beam`, the lowest beam of the first file. A record time that
    an earlier file (in time order) holds too is taken from that file
    only, with a QuellmarDamageWarning naming both files. Files whose
    ranges differ beyond gates one of them lacks (another gate spacing or
    first gate: a changed operating mode) raise QuellmarFileError naming
    the files and their layouts; open such files apart, one group per
    layout.
    """
    paths = _paths(paths)
    if isinstance(chunks, str) and chunks == "files":
        chunks = {}
    if not paths:
        raise QuellmarFileError("open_archive: no files given")
    level = _caller_level()

    def one(path, beam):
        return xr.open_dataset(path, engine="quellmar", beam=beam, chunks=chunks, **options)

    first = one(paths[0], beam)
    beam = first.attrs["beam"]
    rest = paths[1:]
    if parallel and rest:
        import dask
        opened = list(dask.compute(*[dask.delayed(one)(p, beam) for p in rest]))
    else:
        opened = [one(p, beam) for p in rest]
    files = sorted(zip([first] + opened, paths),
                   key=lambda dp: dp[0]["time"].values[0] if dp[0].sizes["time"]
                   else np.datetime64("NaT"))

    widest, widest_path = max(files, key=lambda dp: dp[0].sizes["range"])
    ranges = widest["range"].values
    for ds, path in files:
        r = ds["range"].values
        if not np.array_equal(r, ranges[:len(r)]):
            raise QuellmarFileError(
                "%s and %s: beam %s has other gates (%s; %s): open the files of each "
                "layout apart" % (path, widest_path, beam,
                                  _layout(ds), _layout(widest)))

    kept, seen, owner = [], np.array([], "datetime64[ns]"), []
    for ds, path in files:
        times = ds["time"].values
        again = np.isin(times, seen)
        if again.any():
            earlier = sorted({owner[i] for i in np.flatnonzero(np.isin(seen, times[again]))})
            warnings.warn("%s: %d record time(s) of beam %s are in %s too; each is read once, "
                          "from there" % (path, int(again.sum()), beam, ", ".join(earlier)),
                          QuellmarDamageWarning, stacklevel=level)
            ds = ds.isel(time=np.flatnonzero(~again))
        seen = np.concatenate([seen, ds["time"].values])
        owner += [path] * ds.sizes["time"]
        kept.append(ds)
    out = xr.concat(kept, dim="time", join="outer", combine_attrs="override")
    if not (np.diff(out["time"].values) >= np.timedelta64(0)).all():
        out = out.sortby("time")
    return out
