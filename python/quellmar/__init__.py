"""Quellmar's file pairs and netCDF files as xarray objects.

    open_pair(path)           file pair -> {beam: Dataset (time, range)}, as
                              read_moments gives for its quellmar-nc file
    inspect(path)             file pair -> quellmar-info's report (dict)
    xr.open_dataset(path, engine="quellmar", beam=N)
                              file pair -> the Dataset of one beam, read lazily
    open_archive(paths, beam=N)
                              file pairs -> one lazily read Dataset of a beam
                              along time
    read_moments(path)        quellmar-nc file -> {beam: Dataset (time, range)}
    read_spectra(path, ray)   quellmar-nc file -> Dataset (range, velocity) of one record
    read_winds(path)          quellmar-wind file -> {mode: Dataset}
    read_temperatures(path)   quellmar-rass file -> {mode: Dataset}

Every reader raises QuellmarFileError, with a one-line message, for a file
that is not netCDF or not the product it reads, or a pair that cannot be
read.
"""

# The extension quellmar._pairs may lie in another folder named quellmar on
# the path (a build folder): that folder joins the package.
__path__ = __import__("pkgutil").extend_path(__path__, __name__)

from quellmar._version import __version__
from quellmar.archive import open_archive
from quellmar.errors import QuellmarDamageWarning, QuellmarFileError
from quellmar.moments import read_moments
from quellmar.pairs import inspect, open_pair
from quellmar.spectra import read_spectra
from quellmar.temperatures import read_temperatures
from quellmar.winds import read_winds

__all__ = ["__version__", "QuellmarDamageWarning", "QuellmarFileError", "inspect",
           "open_archive", "open_pair", "read_moments", "read_spectra", "read_temperatures",
           "read_winds"]
