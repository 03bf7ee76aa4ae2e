"""The xarray backend engine "quellmar": a file pair opened directly.

    xr.open_dataset("d02123a.mom", engine="quellmar", beam=1)

gives the Dataset of one beam that quellmar.open_pair gives (the lowest
beam number when `beam` is not given). Registered through the package's
entry points (group xarray.backends).
"""

import os
import re

from xarray.backends import BackendEntrypoint

from quellmar.errors import QuellmarFileError
from quellmar.pairs import open_pair

# d*.mom / d*.spc, in either case, as quellmar pairs them.
DATA_NAME = re.compile(r"^[dD].*(mom|MOM|spc|SPC)$")


def header_path(path):
    folder, name = os.path.split(path)
    return os.path.join(folder, "h" + name[1:])


class QuellmarBackendEntrypoint(BackendEntrypoint):
    description = "Radar wind profiler file pairs (d*.mom / d*.spc with their h* header file)"
    url = "https://quellmar.invalid/docs/python.md"
    open_dataset_parameters = ("filename_or_obj", "drop_variables", "beam", "radar",
                               "spectra", "on_damage")

    def open_dataset(self, filename_or_obj, *, drop_variables=None, beam=None, radar=0,
                     spectra=False, on_damage="raise"):
        if not isinstance(filename_or_obj, (str, os.PathLike)):
            raise QuellmarFileError("the quellmar engine opens a data-file path, not %s"
                                    % type(filename_or_obj).__name__)
        path = os.fspath(filename_or_obj)
        beams = open_pair(path, radar=radar, spectra=spectra, on_damage=on_damage)
        if beam is None:
            if not beams:
                raise QuellmarFileError("%s: holds no records" % path)
            beam = min(beams)
        if beam not in beams:
            raise QuellmarFileError("%s: no beam %s (the pair has beams %s)"
                                    % (path, beam, ", ".join(str(b) for b in sorted(beams))))
        ds = beams[beam]
        if drop_variables:
            ds = ds.drop_vars(drop_variables, errors="ignore")
        return ds

    def guess_can_open(self, filename_or_obj):
        try:
            path = os.fspath(filename_or_obj)
        except TypeError:
            return False
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        name = os.path.basename(path)
        return bool(DATA_NAME.match(name)) and os.path.isfile(header_path(path))
