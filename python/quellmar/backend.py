"""The xarray backend engine "quellmar": a file pair opened directly.

    xr.open_dataset("d02123a.mom", engine="quellmar", beam=1)

gives the Dataset of one beam that quellmar.open_pair gives (the lowest
beam number when `beam` is not given), read lazily: opening reads the
RecordHeaders, and a field's records are decoded when it is indexed
(quellmar.lazy). Registered through the package's entry points (group
xarray.backends).
"""

import os
import re

from xarray.backends import BackendEntrypoint

from quellmar.errors import QuellmarFileError
from quellmar.lazy import open_beam

def docs_url():
    """file:// URL of docs/python.md: installed, <prefix>/share/doc/quellmar/
    beside the package's <prefix>/lib/python*/...; in a checkout, docs/
    beside python/."""
    package = os.path.dirname(os.path.abspath(__file__))
    up = package
    candidates = [os.path.join(os.path.dirname(os.path.dirname(package)), "docs", "python.md")]
    for _ in range(4):
        up = os.path.dirname(up)
        candidates.append(os.path.join(up, "share", "doc", "quellmar", "python.md"))
    found = next((c for c in candidates if os.path.isfile(c)), candidates[-1])
    return "file://" + found


# d*.mom / d*.spc, in either case, as quellmar pairs them.
DATA_NAME = re.compile(r"^[dD].*(mom|MOM|spc|SPC)$")


def header_path(path):
    folder, name = os.path.split(path)
    return os.path.join(folder, "h" + name[1:])


class QuellmarBackendEntrypoint(BackendEntrypoint):
    description = "Radar wind profiler file pairs (d*.mom / d*.spc with their h* header file)"
    url = docs_url()
    open_dataset_parameters = ("filename_or_obj", "drop_variables", "beam", "radar",
                               "spectra", "on_damage")

    def open_dataset(self, filename_or_obj, *, drop_variables=None, beam=None, radar=0,
                     spectra=False, on_damage="warn"):
        if not isinstance(filename_or_obj, (str, os.PathLike)):
            raise QuellmarFileError("the quellmar engine opens a data-file path, not %s"
                                    % type(filename_or_obj).__name__)
        return open_beam(filename_or_obj, beam, radar=radar, spectra=spectra,
                         on_damage=on_damage, drop_variables=drop_variables)

    def guess_can_open(self, filename_or_obj):
        try:
            path = os.fspath(filename_or_obj)
        except TypeError:
            return False
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        name = os.path.basename(path)
        return bool(DATA_NAME.match(name)) and os.path.isfile(header_path(path))
