"""read_winds: a quellmar-wind file as one Dataset per operating mode."""

import xarray as xr

from quellmar.errors import QuellmarFileError, is_winds_file, open_root, wrong_product


def read_winds(path):
    """Returns {mode number: xarray.Dataset} for a quellmar-wind file.

    Each Dataset is the group mode_<N> (time, height, beam, gate), fill
    values masked to NaN, loaded into memory; its attrs hold the file's
    global attributes, the group's own on top, and `mode`.
    Raises QuellmarFileError for a file that is not a quellmar-wind file.
    """
    root = open_root(path)
    if not is_winds_file(root):
        raise wrong_product(path, root, "quellmar-wind")
    attrs = dict(root.attrs)
    root.close()
    try:
        modes = [int(m) for m in str(attrs["modes"]).split(",") if m.strip()]
    except ValueError:
        raise QuellmarFileError("%s: unreadable modes attribute %r"
                                % (path, attrs["modes"])) from None
    out = {}
    for mode in modes:
        try:
            with xr.open_dataset(path, group="mode_%d" % mode, engine="netcdf4") as ds:
                group = ds.load()
        except OSError as e:
            raise QuellmarFileError("%s: group mode_%d unreadable (%s)"
                                    % (path, mode, str(e).splitlines()[0])) from None
        merged = dict(attrs)
        merged.update(group.attrs)
        merged["mode"] = mode
        group.attrs = merged
        out[mode] = group
    return out
