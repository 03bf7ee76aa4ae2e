"""read_winds: a quellmar-wind file as one Dataset per operating mode."""

from quellmar.mode_groups import read_mode_groups
from quellmar.products import is_winds_file


def read_winds(path):
    """Returns {mode number: xarray.Dataset} for a quellmar-wind file.

    Each Dataset is the group mode_<N> (time, height, beam, gate), fill
    values masked to NaN, loaded into memory; its attrs hold the file's
    global attributes, the group's own on top, and `mode`.
    Raises QuellmarFileError for a file that is not a quellmar-wind file.
    """
    return read_mode_groups(path, is_winds_file, "quellmar-wind")
