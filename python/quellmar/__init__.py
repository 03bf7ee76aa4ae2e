"""Quellmar's netCDF files as xarray objects.

    read_moments(path)        quellmar-nc file -> {beam: Dataset (time, range)}
    read_spectra(path, ray)   quellmar-nc file -> Dataset (range, velocity) of one record
    read_winds(path)          quellmar-wind file -> {mode: Dataset}

Every reader raises QuellmarFileError, with a one-line message, for a file
that is not netCDF or not the product it reads.
"""

from quellmar._version import __version__
from quellmar.errors import QuellmarFileError
from quellmar.moments import read_moments
from quellmar.spectra import read_spectra
from quellmar.winds import read_winds

__all__ = ["__version__", "QuellmarFileError", "read_moments", "read_spectra", "read_winds"]
