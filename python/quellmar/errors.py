"""Opening a file as one of the project's products, with one-line errors."""

import os

import xarray as xr


class QuellmarFileError(Exception):
    """A file that cannot be read as the product asked for."""


class QuellmarDamageWarning(UserWarning):
    """A damage finding in a file pair that was read all the same."""


def open_root(path, **kwargs):
    """The root group of a netCDF file as a lazily read Dataset."""
    if not os.path.isfile(path):
        raise QuellmarFileError("%s: no such file" % path)
    try:
        return xr.open_dataset(path, engine="netcdf4", decode_timedelta=False, **kwargs)
    except Exception as e:  # netCDF4 and xarray raise many kinds
        first = str(e).splitlines()[0] if str(e) else type(e).__name__
        raise QuellmarFileError("%s: not a readable netCDF file (%s)" % (path, first)) from None


def is_moments_file(ds):
    """quellmar-nc writes CF-Radial with the variable-gates layout."""
    return ds.attrs.get("n_gates_vary") == "true" and all(
        name in ds.variables for name in ("ray_start_index", "ray_n_gates", "ray_start_range",
                                          "ray_gate_spacing", "elevation", "azimuth"))


def is_profiles_file(ds):
    """quellmar-wind and quellmar-rass write CF timeSeriesProfile groups."""
    return ds.attrs.get("featureType") == "timeSeriesProfile" and "modes" in ds.attrs


def is_temperatures_file(ds):
    return is_profiles_file(ds) and "first_guess_deg_c" in ds.attrs


def is_winds_file(ds):
    return is_profiles_file(ds) and not is_temperatures_file(ds)


def wrong_product(path, ds, wanted):
    """The error for a netCDF file that is not the product `wanted`."""
    if is_moments_file(ds):
        found = " (it is a quellmar-nc file)"
    elif is_winds_file(ds):
        found = " (it is a quellmar-wind file)"
    elif is_temperatures_file(ds):
        found = " (it is a quellmar-rass file)"
    else:
        found = ""
    ds.close()
    return QuellmarFileError("%s: not a %s file%s" % (path, wanted, found))


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


def open_moments(path):
    ds = open_root(path)
    if not is_moments_file(ds):
        raise wrong_product(path, ds, "quellmar-nc")
    return ds
