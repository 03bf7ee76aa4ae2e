"""The mode_<N> groups of the averaging programs' files (quellmar-wind,
quellmar-rass), read into memory."""

import xarray as xr

from quellmar.errors import QuellmarFileError
from quellmar.products import open_root, wrong_product


def read_mode_groups(path, is_product, product):
    """{mode number: Dataset} of a file of mode_<N> groups (quellmar-wind,
    quellmar-rass): fill values masked to NaN, loaded into memory; attrs
    hold the file's global attributes, the group's own on top, and `mode`."""
    root = open_root(path)
    if not is_product(root):
        raise wrong_product(path, root, product)
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
