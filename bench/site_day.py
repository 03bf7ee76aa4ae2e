"""The baseline of bench/site.sh: one day's products and pictures made
alone, as a script would without quellmar-site: quellmar-wind and
quellmar-rass on the day file, then in one Python process the figures of
quellmar-plot (SNR and velocity per beam from the pair, the winds, the
virtual temperature where there is one), saved as PNG.

    site_day.py BUILD_DIR DATAFILE OUT_DIR
"""

import os
import subprocess
import sys

build, path, out = sys.argv[1:4]
run = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
subprocess.run([os.path.join(build, "quellmar-wind"), path, "-o", os.path.join(out, "w.nc"),
                "--csv", os.path.join(out, "w.csv")], **run)
subprocess.run([os.path.join(build, "quellmar-rass"), path, "-o", os.path.join(out, "r.nc"),
                "--csv", os.path.join(out, "r.csv")], **run)

import numpy as np  # noqa: E402
import quellmar  # noqa: E402
from quellmar import plots  # noqa: E402

beams = quellmar.open_pair(path)
for field in ("SNR", "VEL"):
    plots.save(plots.moments_figure(beams, field), os.path.join(out, field + ".png"))
for mode, ds in quellmar.read_winds(os.path.join(out, "w.nc")).items():
    plots.save(plots.winds_figure(ds), os.path.join(out, "winds%d.png" % mode))
for mode, ds in quellmar.read_temperatures(os.path.join(out, "r.nc")).items():
    if np.isfinite(ds["virtual_temperature"].values).any():
        plots.save(plots.temperature_figure(ds), os.path.join(out, "tv%d.png" % mode))
