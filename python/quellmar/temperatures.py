"""read_temperatures: a quellmar-rass file as one Dataset per operating mode."""

from quellmar.mode_groups import read_mode_groups
from quellmar.products import is_temperatures_file


def read_temperatures(path):
    """Returns {mode number: xarray.Dataset} for a quellmar-rass file.

    Each Dataset is the group mode_<N> (time, height): virtual_temperature
    and virtual_temperature_uncorrected in K, upward_air_velocity and its
    source, the consensus spread and counts, stored_auxiliary; fill values
    masked to NaN, loaded into memory; its attrs hold the file's global
    attributes, the group's own on top, and `mode`.
    Raises QuellmarFileError for a file that is not a quellmar-rass file.
    """
    return read_mode_groups(path, is_temperatures_file, "quellmar-rass")
