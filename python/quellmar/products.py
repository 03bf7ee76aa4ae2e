"""Opening a netCDF file and telling which of the project's products it is
(quellmar-nc, quellmar-wind, quellmar-rass), with one-line errors."""

import os

import xarray as xr

from quellmar.errors import QuellmarFileError


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


def open_moments(path):
    ds = open_root(path)
    if not is_moments_file(ds):
        raise wrong_product(path, ds, "quellmar-nc")
    return ds
