"""The Python readers (python/quellmar) and quellmar-plot on known files.

Run by CTest as one test (Python.quicklook_test) in which pytest (or
unittest's discovery) finds every test of this file, with the environment:
  QUELLMAR_NC           quellmar-nc
  QUELLMAR_PLOT         quellmar-plot
  QUELLMAR_KNOWN_PAIRS  quellmar-known-pairs (tests/known_pairs.cpp: the
                        values chosen there are the ones expected here)
  QUELLMAR_BUILD_DIR    the build folder (quellmar-wind and quellmar-rass are
                        used when built)
  PYTHONPATH            python/ of the build folder and of the source tree

Pictures are decoded with matplotlib's imread and searched for the colour
map's colours of the known values; the colour range of every picture is
the 2nd to 98th percentile of the values drawn, so a field made of 25 %
lowest value, 50 % middle value and 25 % highest value spans exactly the
colour map's ends and middle.
"""

import datetime
import os
import subprocess
import tempfile
import unittest

import matplotlib
import matplotlib.image
import netCDF4
import numpy as np
import xarray

import quellmar
from quellmar.plots import SPEED_CMAP

NC = os.environ.get("QUELLMAR_NC", "quellmar-nc")
PLOT = os.environ.get("QUELLMAR_PLOT", "quellmar-plot")
KNOWN_PAIRS = os.environ.get("QUELLMAR_KNOWN_PAIRS", "quellmar-known-pairs")
WIND = os.path.join(os.environ.get("QUELLMAR_BUILD_DIR", "."), "quellmar-wind")
RASS = os.path.join(os.environ.get("QUELLMAR_BUILD_DIR", "."), "quellmar-rass")
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sample",
                      "d02123a.mom")
MOMENTS_PROGRAM = os.path.join(os.environ.get("QUELLMAR_BUILD_DIR", "."), "quellmar-moments")

MAY3 = np.datetime64("2002-05-03T00:00:00")
MAY4 = np.datetime64("2002-05-04T00:00:00")
FILL = -9999.0
VIRIDIS = matplotlib.colormaps["viridis"]


def setUpModule():
    global folder, MOMENTS, SPECTRA, WINDS
    folder = tempfile.TemporaryDirectory()
    subprocess.run([KNOWN_PAIRS, folder.name], check=True)
    MOMENTS = os.path.join(folder.name, "mom.nc")
    SPECTRA = os.path.join(folder.name, "spc.nc")
    subprocess.run([NC, os.path.join(folder.name, "d02123a.mom"), "-o", MOMENTS], check=True)
    subprocess.run([NC, os.path.join(folder.name, "d02124a.spc"), "-o", SPECTRA], check=True)
    WINDS = os.path.join(folder.name, "winds.nc")
    write_winds(WINDS)


def tearDownModule():
    folder.cleanup()


def out(name):
    return os.path.join(folder.name, name)


def plot(*args):
    return subprocess.run([PLOT] + [str(a) for a in args], capture_output=True, text=True)


# --------------------------------------------------------------------------
# A winds file written here to the layout quellmar-wind writes.

# Hourly periods of mode 0 from 00:00: periods 3 and 4 hold no records (not
# in the file); period 6 has records but no wind.
WIND_PERIODS = [0, 1, 2, 5, 6, 7]
WIND_HEIGHTS = np.arange(500.0, 2500.0, 200.0)


def write_winds(path):
    with netCDF4.Dataset(path, "w", format="NETCDF4") as nc:
        nc.setncatts({"Conventions": "CF-1.8", "featureType": "timeSeriesProfile",
                      "title": "winds", "source": "test", "history": "written by the test",
                      "period_minutes": 60, "consensus_window_m_s": 2.0, "min_fraction": 0.5,
                      "min_snr_db": "none", "azimuth_offset_deg": 0.0, "velocity_sign": 1,
                      "input_files": "d02123a.mom", "site_name": "Known Site",
                      "modes": "0, 1"})
        for mode, periods, heights in ((0, WIND_PERIODS, WIND_HEIGHTS), (1, [0], [300.0])):
            g = nc.createGroup("mode_%d" % mode)
            g.createDimension("time", len(periods))
            g.createDimension("height", len(heights))
            g.createDimension("nv", 2)
            g.createDimension("beam", 2)
            g.createDimension("gate", 3)
            units = "seconds since 1970-01-01 00:00:00"
            start = (MAY3 - np.datetime64("1970-01-01T00:00:00")).astype(int)
            t = g.createVariable("time", "f8", ("time",))
            t.setncatts({"units": units, "calendar": "standard", "standard_name": "time",
                         "bounds": "time_bounds"})
            t[:] = [start + 3600 * p + 1800 for p in periods]
            b = g.createVariable("time_bounds", "f8", ("time", "nv"))
            b.units = units
            b[:] = [[start + 3600 * p, start + 3600 * (p + 1)] for p in periods]
            h = g.createVariable("height", "f4", ("height",))
            h.setncatts({"units": "m", "standard_name": "height", "positive": "up"})
            h[:] = heights
            values = {"eastward_wind": 10.0, "northward_wind": 5.0,
                      "upward_air_velocity": 0.5, "wind_speed": np.hypot(10.0, 5.0),
                      "wind_from_direction": 243.43, "fit_residual": 0.2}
            for name, value in values.items():
                v = g.createVariable(name, "f4", ("time", "height"), fill_value=np.float32(FILL))
                v.units = "degree" if name == "wind_from_direction" else "m s-1"
                grid = np.full((len(periods), len(heights)), value, np.float32)
                if mode == 0:
                    grid[periods.index(6)] = FILL
                    grid[0, 0] = FILL  # one missing cell
                v[:] = grid
            beam = g.createVariable("beam", "i4", ("beam",))
            beam[:] = [0, 1]
            for name in ("beam_azimuth", "beam_elevation"):
                v = g.createVariable(name, "f4", ("beam",))
                v[:] = [0.0, 90.0] if name == "beam_azimuth" else [90.0, 75.0]
            v = g.createVariable("gate_height", "f4", ("beam", "gate"),
                                 fill_value=np.float32(FILL))
            v[:] = [[500.0, 700.0, 900.0], [480.0, 680.0, FILL]]
            for name, kind in (("radial_velocity", "f4"), ("mean_snr", "f4"),
                               ("n_used", "i4"), ("n_available", "i4")):
                v = g.createVariable(name, kind, ("time", "beam", "gate"),
                                     fill_value=np.float32(FILL) if kind == "f4" else None)
                v[:] = np.ones((len(periods), 2, 3))


# --------------------------------------------------------------------------
# Pictures.

def read_png(path):
    image = matplotlib.image.imread(path)
    return image[:, :, :3]


def colour_mask(image, rgb, tolerance=2.5 / 255):
    return np.all(np.abs(image - np.asarray(rgb)[:3]) <= tolerance, axis=2)


def region(mask):
    """Bounding box (row0, row1, col0, col1), inclusive, of the columns with
    at least a third as many matching pixels as the fullest column (which
    leaves out the thin band a colour takes in a colour bar), and of the
    rows matching there."""
    counts = mask.sum(axis=0)
    if counts.max() < 10:
        return None
    columns = np.flatnonzero(counts >= counts.max() / 3)
    rows = np.flatnonzero(mask[:, columns].any(axis=1))
    return rows[0], rows[-1], columns[0], columns[-1]


def runs(flags):
    """(first, last) index of each run of True."""
    edges = np.diff(np.concatenate([[0], flags.astype(int), [0]]))
    return list(zip(np.flatnonzero(edges == 1), np.flatnonzero(edges == -1) - 1))


def white(pixels):
    return np.all(pixels > 0.99, axis=-1)


def dark(pixels):
    return np.all(pixels < 0.3, axis=-1)


# --------------------------------------------------------------------------
# Readers.

class ReadMoments(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.beams = quellmar.read_moments(MOMENTS)

    def test_one_dataset_per_beam_in_time_order(self):
        self.assertEqual(sorted(self.beams), [0, 1, 2])
        for beam, ds in self.beams.items():
            self.assertEqual(ds.attrs["beam"], beam)
            self.assertEqual(ds["SNR"].dims, ("time", "range"))
            self.assertEqual(ds.sizes["time"], 144)
            self.assertTrue(np.all(np.diff(ds["time"].values) > np.timedelta64(0)))
            self.assertEqual(ds.attrs["instrument_name"], "Known Site")

    def test_chosen_gate_lands_in_its_time_and_height_cell(self):
        ds = self.beams[1]
        row = ds.sel(time=MAY3 + np.timedelta64(3700, "s"))
        snr = row["SNR"].values
        self.assertEqual(snr[5], np.float32(17.25))
        self.assertTrue(np.all(np.delete(snr, 5) == 15.0))
        # Gate 5 of the east beam: 450 m + 5 x 105 m along a beam at 75 degrees.
        self.assertAlmostEqual(float(row["height"].values[5]),
                               975.0 * np.sin(np.deg2rad(75.0)), places=2)
        self.assertAlmostEqual(float(ds["range"].values[5]), 975.0, places=3)
        self.assertTrue(np.all(ds["azimuth"].values == 90.0))
        self.assertTrue(np.all(ds["elevation"].values == 75.0))
        # 17.25 dB appears nowhere else.
        self.assertEqual(int(np.sum(ds["SNR"].values == np.float32(17.25))), 1)

    def test_morning_and_afternoon_values_of_the_vertical_beam(self):
        ds = self.beams[0]
        morning = ds["SNR"].sel(time=slice(MAY3, MAY3 + np.timedelta64(6, "h"))).values
        afternoon = ds["SNR"].sel(time=slice(MAY3 + np.timedelta64(12, "h"), None)).values
        self.assertEqual(morning.shape, (72, 8))
        self.assertTrue(np.all(morning[:, :4] == 10.0) and np.all(morning[:, 4:] == 30.0))
        self.assertTrue(np.all(afternoon == 20.0))
        np.testing.assert_allclose(ds["height"].values[0], 450.0 + 105.0 * np.arange(8),
                                   rtol=1e-6)
        # Velocity count 1000 is a tenth of the record's Nyquist velocity.
        np.testing.assert_allclose(ds["VEL"].values,
                                   0.1 * ds["nyquist_velocity"].values[:, None] *
                                   np.ones((1, 8)), rtol=1e-5)
        self.assertTrue(np.all(ds["NOISE"].values == 40.0))

    def test_gates_a_ray_does_not_have_are_nan(self):
        ds = self.beams[2]  # 6 gates of 210 m before noon, 8 after
        np.testing.assert_allclose(ds["range"].values, 450.0 + 210.0 * np.arange(8))
        snr = ds["SNR"].values
        morning = ds["time"].values < MAY3 + np.timedelta64(12, "h")
        self.assertEqual(int(morning.sum()), 72)
        self.assertTrue(np.all(snr[morning, :6] == 5.0))
        self.assertTrue(np.all(np.isnan(snr[morning, 6:])))
        self.assertTrue(np.all(np.isnan(ds["height"].values[morning, 6:])))
        self.assertTrue(np.all(snr[~morning] == 5.0))
        self.assertTrue(np.all(ds["mode_index"].values == 1))

    def test_other_files_are_refused(self):
        with self.assertRaisesRegex(quellmar.QuellmarFileError, "not a quellmar-nc file "
                                    r"\(it is a quellmar-wind file\)"):
            quellmar.read_moments(WINDS)
        with self.assertRaisesRegex(quellmar.QuellmarFileError, "not a readable netCDF file"):
            quellmar.read_moments(os.path.join(folder.name, "d02123a.mom"))


class ReadSpectra(unittest.TestCase):
    def test_range_by_doppler_velocity_of_one_record(self):
        ds = quellmar.read_spectra(SPECTRA, 1)
        self.assertEqual(ds["spectra"].dims, ("range", "velocity"))
        self.assertEqual(ds["spectra"].shape, (8, 64))
        self.assertEqual((ds.attrs["beam"], ds.attrs["mode"], ds.attrs["time"]),
                         (1, 0, "2002-05-04T00:01:00Z"))
        spectra = ds["spectra"].values
        self.assertTrue(np.all(spectra[:4, :32] == 10.0))
        self.assertTrue(np.all(spectra[:4, 32:] == 1000.0))
        self.assertTrue(np.all(spectra[4:] == 100.0))
        np.testing.assert_allclose(ds["power"].values[2, 40], 30.0)
        np.testing.assert_allclose(ds["height"].values,
                                   (450.0 + 105.0 * np.arange(8)) * np.sin(np.deg2rad(75.0)))

    def test_doppler_axis_spans_plus_minus_nyquist(self):
        ds = quellmar.read_spectra(SPECTRA, 0)
        velocity = ds["velocity"].values
        # 915 MHz, 40 us between pulses, 100 coherent integrations.
        nyquist = ds.attrs["nyquist_velocity"]
        self.assertAlmostEqual(nyquist, 20.478, places=2)
        self.assertAlmostEqual(velocity[0], -nyquist, places=5)
        self.assertAlmostEqual(velocity[32], 0.0, places=5)
        self.assertAlmostEqual(velocity[-1] + (velocity[1] - velocity[0]), nyquist, places=5)
        np.testing.assert_allclose(np.diff(velocity), 2 * nyquist / 64)

    def test_bad_rays_and_files(self):
        with self.assertRaisesRegex(quellmar.QuellmarFileError,
                                    r"ray 3 out of range \(the file has 3 records, rays 0 to 2\)"):
            quellmar.read_spectra(SPECTRA, 3)
        with self.assertRaisesRegex(quellmar.QuellmarFileError, "ray -1 out of range"):
            quellmar.read_spectra(SPECTRA, -1)
        with self.assertRaisesRegex(quellmar.QuellmarFileError, "holds no spectra"):
            quellmar.read_spectra(MOMENTS, 0)


class ReadWinds(unittest.TestCase):
    def check_layout(self, modes):
        for mode, ds in modes.items():
            self.assertEqual(ds.attrs["mode"], mode)
            self.assertEqual(ds.attrs["Conventions"], "CF-1.8")
            for name in ("eastward_wind", "northward_wind", "upward_air_velocity",
                         "wind_speed", "wind_from_direction", "fit_residual"):
                self.assertEqual(ds[name].dims, ("time", "height"))
            self.assertEqual(ds["radial_velocity"].dims, ("time", "beam", "gate"))
            self.assertEqual(ds["time"].dtype.kind, "M")

    def test_groups_by_mode_with_fill_values_masked(self):
        modes = quellmar.read_winds(WINDS)
        self.assertEqual(sorted(modes), [0, 1])
        self.check_layout(modes)
        ds = modes[0]
        self.assertEqual(ds.attrs["site_name"], "Known Site")
        self.assertEqual(ds.attrs["period_minutes"], 60)
        self.assertEqual(list(ds["time"].values),
                         [MAY3 + np.timedelta64(3600 * p + 1800, "s") for p in WIND_PERIODS])
        u = ds["eastward_wind"].values
        self.assertTrue(np.isnan(u[0, 0]))
        self.assertTrue(np.all(np.isnan(u[WIND_PERIODS.index(6)])))
        self.assertEqual(int(np.isfinite(u).sum()), 5 * len(WIND_HEIGHTS) - 1)
        self.assertTrue(np.all(u[np.isfinite(u)] == 10.0))
        self.assertTrue(np.isnan(ds["gate_height"].values[1, 2]))
        self.assertEqual(modes[1].sizes["height"], 1)

    def test_other_files_are_refused(self):
        with self.assertRaisesRegex(quellmar.QuellmarFileError, "not a quellmar-wind file "
                                    r"\(it is a quellmar-nc file\)"):
            quellmar.read_winds(MOMENTS)

    @unittest.skipUnless(os.path.exists(WIND), "quellmar-wind is not built")
    def test_file_of_quellmar_wind(self):
        path = out("real-winds.nc")
        subprocess.run([WIND, os.path.join(folder.name, "d02123a.mom"), "-o", path],
                       check=True, capture_output=True)
        modes = quellmar.read_winds(path)
        self.assertTrue(modes)
        self.check_layout(modes)
        for mode, ds in modes.items():
            bounds = ds["time_bounds"].values
            self.assertTrue(np.all((bounds[:, 0] <= ds["time"].values) &
                                   (ds["time"].values <= bounds[:, 1])))
            self.assertIn("period_minutes", ds.attrs)
            result = plot("winds", path, "-o", out("real-winds.png"), "--mode", mode)
            self.assertEqual(result.returncode, 0, result.stderr)


# --------------------------------------------------------------------------
# Pictures.

class PlotMoments(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.path = out("moments.png")
        result = plot("moments", MOMENTS, "-o", cls.path, "--beams", "0")
        if result.returncode != 0:
            raise AssertionError(result.stderr)
        cls.image = read_png(cls.path)

    def test_known_values_take_their_colours_in_place(self):
        low = region(colour_mask(self.image, VIRIDIS(0.0)))      # 10 dB, gates 0-3, morning
        high = region(colour_mask(self.image, VIRIDIS(1.0)))     # 30 dB, gates 4-7, morning
        middle = region(colour_mask(self.image, VIRIDIS(0.5)))   # 20 dB, afternoon
        self.assertIsNotNone(low)
        self.assertIsNotNone(high)
        self.assertIsNotNone(middle)
        # Same hours; the lower gates below the upper ones (rows grow down).
        self.assertLessEqual(abs(low[2] - high[2]), 1)
        self.assertLessEqual(abs(low[3] - high[3]), 1)
        self.assertGreater(low[0], high[1] - 2)
        # The afternoon spans every gate, to the right of the morning.
        self.assertLessEqual(abs(middle[0] - high[0]), 1)
        self.assertLessEqual(abs(middle[1] - low[1]), 1)
        self.assertGreater(middle[2], low[3])

    def test_the_empty_hours_stay_white(self):
        low = region(colour_mask(self.image, VIRIDIS(0.0)))
        middle = region(colour_mask(self.image, VIRIDIS(0.5)))
        top, bottom = low[0], low[1]
        gap = self.image[top:bottom + 1, low[3] + 1:middle[2]]
        self.assertTrue(np.all(white(gap)))
        # 6 hours of data, then 6 hours without: gaps as wide as the morning.
        self.assertAlmostEqual((middle[2] - low[3] - 1) / (low[3] - low[2] + 1), 1.0, delta=0.05)


class PlotRecomputed(unittest.TestCase):
    """quellmar-plot moments draws a quellmar-moments file: the known
    spectra have a peak in gates 0-3 (recomputed SNR) and flat spectra in
    gates 4-7 (no signal, left white), where the stored SNR is everywhere."""

    def coloured(self, path, *extra):
        name = os.path.basename(path) + "".join(extra) + ".png"
        result = plot("moments", path, "-o", out(name), "--beams", "0", *extra)
        self.assertEqual(result.returncode, 0, result.stderr)
        image = read_png(out(name))[..., :3]
        return np.count_nonzero(~white(image) & ~dark(image))

    def test_stored_field_and_recomputed_minus_stored_are_drawn(self):
        recomputed = out("recomputed-stored.nc")
        result = subprocess.run([MOMENTS_PROGRAM, os.path.join(folder.name, "d02124a.spc"),
                                 "-o", recomputed, "--keep-stored"],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        # The stored velocity is in every gate, as the stored SNR of the
        # quellmar-nc file; the difference only where a velocity was
        # recomputed (gates 0-3).
        everywhere = self.coloured(SPECTRA)
        self.assertAlmostEqual(self.coloured(recomputed, "--field", "VEL_STORED") / everywhere,
                               1.0, delta=0.05)
        self.assertAlmostEqual(self.coloured(recomputed, "--field", "VEL", "--minus-stored")
                               / everywhere, 0.5, delta=0.1)
        # One difference in every such gate: on its scale, symmetric about
        # 0, the colour of the end of its sign, and the stored velocity's
        # (0.1 of the Nyquist velocity) likewise at the positive end.
        beam = quellmar.read_moments(recomputed)[0]
        difference = (beam["VEL"] - beam["VEL_STORED"]).values[:, :4]
        self.assertTrue(np.all(np.isfinite(difference)))
        self.assertGreater(np.min(np.abs(difference)), 0.1)
        self.assertTrue(np.all(np.sign(difference) == np.sign(difference[0, 0])))
        drawn = read_png(out("recomputed-stored.nc--fieldVEL--minus-stored.png"))
        end = matplotlib.colormaps["RdBu_r"](1.0 if difference[0, 0] > 0 else 0.0)
        other = matplotlib.colormaps["RdBu_r"](0.0 if difference[0, 0] > 0 else 1.0)
        self.assertGreater(np.count_nonzero(colour_mask(drawn, end)), 0.3 * everywhere)
        self.assertLess(np.count_nonzero(colour_mask(drawn, other)), 0.02 * everywhere)
        # A file without the stored fields, and a field that has none.
        result = plot("moments", MOMENTS, "-o", out("no-stored.png"), "--field", "VEL",
                      "--minus-stored")
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr, "holds no field VEL_STORED .*--keep-stored")
        result = plot("moments", recomputed, "-o", out("aux.png"), "--field", "AUX2",
                      "--minus-stored")
        self.assertEqual(result.returncode, 2)
        self.assertIn("--minus-stored takes --field VEL, WIDTH, SNR, NOISE", result.stderr)

    def test_recomputed_file_is_drawn_with_its_own_values(self):
        recomputed = out("recomputed.nc")
        result = subprocess.run([MOMENTS_PROGRAM, os.path.join(folder.name, "d02124a.spc"),
                                 "-o", recomputed, "--keep-stored"],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        share = self.coloured(recomputed) / self.coloured(SPECTRA)
        self.assertGreater(share, 0.3)
        self.assertLess(share, 0.7)
        # read_moments keeps the stored moments and the flags: the stored
        # velocity (0.1 of the Nyquist velocity) everywhere, no_signal (bit
        # 1) exactly in the flat gates 4-7.
        beam = quellmar.read_moments(recomputed)[0]
        stored = beam["VEL_STORED"].values
        nyquist = beam["nyquist_velocity"].values[:, None]
        np.testing.assert_allclose(stored, np.broadcast_to(0.1 * nyquist, stored.shape),
                                   rtol=1e-3)
        flags = beam["QC_FLAGS"].values.astype(int)
        self.assertTrue(np.all(flags[:, 4:] & 1))
        self.assertFalse(np.any(flags[:, :4] & 1))


class PlotWinds(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.path = out("winds.png")
        result = plot("winds", WINDS, "-o", cls.path)
        if result.returncode != 0:
            raise AssertionError(result.stderr)
        cls.image = read_png(cls.path)

    def shaded(self):
        """Rows and column runs of the speed shading in the upper panel."""
        speed_colour = SPEED_CMAP(1.0)  # the one speed is the 98th percentile
        mask = colour_mask(self.image, speed_colour, tolerance=4 / 255)
        rows, columns = np.flatnonzero(mask.sum(axis=1) >= 30), mask.sum(axis=0) >= 10
        return rows, runs(columns)

    def test_barbs_where_winds_exist_and_not_where_missing(self):
        rows, column_runs = self.shaded()
        # Hours 0-2, 5 and 7 are shaded; 3-4 (no records) and 6 (no wind) are not.
        self.assertEqual(len(column_runs), 3, column_runs)
        (a0, a1), (b0, b1), (c0, c1) = column_runs
        hour = (a1 - a0 + 1) / 3
        self.assertAlmostEqual((b0 - a1 - 1) / hour, 2.0, delta=0.1)
        self.assertAlmostEqual((c0 - b1 - 1) / hour, 1.0, delta=0.1)
        top, bottom = rows[0] + 3, rows[-1] - 3
        margin = int(hour / 4)
        for first, last in ((a1 + margin, b0 - margin), (b1 + margin, c0 - margin)):
            blank = self.image[top:bottom, first:last]
            self.assertTrue(np.all(white(blank)), (first, last))
        for h in range(3):
            cell = self.image[top:bottom, int(a0 + h * hour):int(a0 + (h + 1) * hour)]
            self.assertGreater(int(dark(cell).sum()), 20)
        for first, last in ((b0, b1), (c0, c1)):
            self.assertGreater(int(dark(self.image[top:bottom, first:last]).sum()), 20)

    def test_barbs_stay_whole_at_the_lowest_and_highest_heights(self):
        # Gates 60 m apart, wind from the south below and from the north
        # above: the lowest barbs hang down from their heights and the
        # highest stand up from theirs, each further than half a gate.
        from quellmar.plots import winds_figure
        height = np.arange(500.0, 1220.0, 60.0)
        northward = np.where(height < 850.0, 20.0, -20.0) * np.ones((4, 1))
        grid = ("time", "height")
        ds = xarray.Dataset(
            {"eastward_wind": (grid, np.zeros_like(northward)),
             "northward_wind": (grid, northward),
             "wind_speed": (grid, np.abs(northward)),
             "upward_air_velocity": (grid, np.zeros_like(northward))},
            coords={"time": MAY3 + np.arange(4) * np.timedelta64(1, "h"), "height": height},
            attrs={"site_name": "Known Site", "mode": 0})
        fig = winds_figure(ds)
        fig.canvas.draw()
        image = np.asarray(fig.canvas.buffer_rgba())[::-1, :, :3] / 255.0  # row 0 at the bottom
        box = fig.axes[0].get_window_extent()
        panel = image[:, int(np.ceil(box.x0)) + 2:int(box.x1) - 1]
        frame = np.flatnonzero(dark(panel).mean(axis=1) > 0.9)
        lower = frame[np.abs(frame - box.y0) < 3].max()
        upper = frame[np.abs(frame - box.y1) < 3].min()
        self.assertGreater(int(dark(panel[lower + 1:upper]).sum()), 100)  # the barbs
        for row in (lower + 1, upper - 1):  # no barb runs into the frame
            self.assertEqual(int(dark(panel[row]).sum()), 0, row)

    def test_a_day_is_named_once_on_the_time_axis(self):
        # Hourly ticks from midnight of May 3: the first reads the day, the
        # offset below the axis only the year.
        from quellmar.plots import winds_figure
        fig = winds_figure(quellmar.read_winds(WINDS)[0])
        fig.draw_without_rendering()
        axis = fig.axes[1].xaxis  # the lower panel's, which the upper shares
        labels = [t.get_text() for t in axis.get_ticklabels()]
        self.assertEqual(labels.count("May-03"), 1, labels)
        self.assertEqual(axis.get_offset_text().get_text(), "2002")

    def test_a_mode_not_in_the_file_is_refused(self):
        result = plot("winds", WINDS, "-o", out("x.png"), "--mode", "4")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.strip(),
                         "quellmar-plot: %s: no mode 4 in the file (modes: 0, 1)" % WINDS)
        self.assertFalse(os.path.exists(out("x.png")))


class PlotSpectra(unittest.TestCase):
    def check(self, image):
        low = region(colour_mask(image, VIRIDIS(0.0)))     # 10 dB: low gates, v < 0
        high = region(colour_mask(image, VIRIDIS(1.0)))    # 30 dB: low gates, v >= 0
        middle = region(colour_mask(image, VIRIDIS(0.5)))  # 20 dB: upper gates
        self.assertLessEqual(abs(low[0] - high[0]), 1)
        self.assertLessEqual(abs(low[1] - high[1]), 1)
        self.assertLessEqual(abs(low[3] + 1 - high[2]), 1)
        self.assertLess(middle[1], low[0] + 2)
        self.assertLessEqual(abs(middle[2] - low[2]), 1)
        self.assertLessEqual(abs(middle[3] - high[3]), 1)

    def test_range_doppler_image_of_a_record(self):
        result = plot("spectra", SPECTRA, "-o", out("spectra.png"), "--ray", "1")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.check(read_png(out("spectra.png")))

    def test_record_picked_by_time(self):
        result = plot("spectra", SPECTRA, "-o", out("by-time.png"),
                      "--time", "2002-05-04T00:01:10Z")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.check(read_png(out("by-time.png")))
        by_ray = plot("spectra", SPECTRA, "-o", out("by-ray.png"), "--ray", "1")
        self.assertEqual(by_ray.returncode, 0)
        np.testing.assert_array_equal(read_png(out("by-time.png")), read_png(out("by-ray.png")))


class PlotErrors(unittest.TestCase):
    def refused(self, message, *args):
        target = out("refused.png")
        result = plot(*(list(args) + ["-o", target]))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertRegex(lines[0], "^quellmar-plot: " + message)
        self.assertFalse(os.path.exists(target))
        self.assertEqual([n for n in os.listdir(folder.name) if ".tmp-" in n], [])

    def test_not_netcdf(self):
        raw = os.path.join(folder.name, "d02123a.mom")
        for kind in ("moments", "winds", "spectra"):
            extra = ["--ray", "0"] if kind == "spectra" else []
            self.refused(".*d02123a.mom: not a readable netCDF file", kind, raw, *extra)
        self.refused(".*nowhere.nc: no such file", "moments", out("nowhere.nc"))
        cut = out("cut.nc")
        with open(MOMENTS, "rb") as whole, open(cut, "wb") as part:
            part.write(whole.read(os.path.getsize(MOMENTS) // 2))
        self.refused(".*cut.nc: (not a readable netCDF file|cannot be read)", "moments", cut)

    def test_wrong_product(self):
        self.refused(".*winds.nc: not a quellmar-nc file \\(it is a quellmar-wind file\\)$",
                     "moments", WINDS)
        self.refused(".*mom.nc: not a quellmar-wind file \\(it is a quellmar-nc file\\)$",
                     "winds", MOMENTS)
        self.refused(".*mom.nc: holds no spectra", "spectra", MOMENTS, "--ray", "0")

    def test_out_of_range(self):
        self.refused(r".*spc.nc: ray 3 out of range \(the file has 3 records, rays 0 to 2\)$",
                     "spectra", SPECTRA, "--ray", "3")
        self.refused(r".*spc.nc: no record near 2002-05-05T00:00:00",
                     "spectra", SPECTRA, "--time", "2002-05-05T00:00:00")
        self.refused(r"not a time: 'noon'", "spectra", SPECTRA, "--time", "noon")
        self.refused(r".*mom.nc: no beam 7 in the file \(beams: 0, 1, 2\)$",
                     "moments", MOMENTS, "--beams", "0,7")

    def test_unwritable_output(self):
        result = plot("moments", MOMENTS, "-o", os.path.join(folder.name, "no", "such", "x.png"))
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr, r"^quellmar-plot: .*x.png: cannot write \(No such file")
        self.assertEqual(len(result.stderr.splitlines()), 1)


# --------------------------------------------------------------------------
# RASS: the sample pair's RASS dwells (beam 5, mode 1, the acoustic echo in
# the first set and the on-site temperature in degrees Celsius as aux2)
# through quellmar-nc and quellmar-rass.

@unittest.skipUnless(os.path.exists(RASS), "quellmar-rass is not built")
class Temperatures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.moments = out("sample.nc")
        cls.rass = out("rass.nc")
        subprocess.run([NC, SAMPLE, "-o", cls.moments], check=True, capture_output=True)
        subprocess.run([RASS, SAMPLE, "-o", cls.rass, "--acoustic-set", "1"], check=True,
                       capture_output=True)

    def test_read_temperatures_matches_the_on_site_value(self):
        modes = quellmar.read_temperatures(self.rass)
        self.assertEqual(sorted(modes), [1])
        ds = modes[1]
        self.assertEqual(ds.attrs["rass_beam"], 5)
        tv = ds["virtual_temperature"].values
        self.assertGreater(np.isfinite(tv).mean(), 0.8)
        # The sample's aux2 is its own Tv in degrees Celsius.
        np.testing.assert_allclose((tv - 273.15)[np.isfinite(tv)],
                                   ds["stored_auxiliary"].values[np.isfinite(tv)], atol=0.6)
        with self.assertRaisesRegex(quellmar.QuellmarFileError,
                                    r"not a quellmar-wind file \(it is a quellmar-rass file\)"):
            quellmar.read_winds(self.rass)

    def test_each_mode_its_own_colour_scale(self):
        from quellmar.plots import beam_mode, mode_norms
        beams = quellmar.read_moments(self.moments)
        self.assertEqual(beam_mode(beams[5]), (1, True))
        self.assertEqual(beam_mode(beams[0]), (0, False))
        norms = mode_norms(beams, "VEL")
        self.assertGreater(norms[1].vmin, 300.0)  # the speed of sound
        self.assertLess(norms[0].vmax, 10.0)      # clear air
        self.assertEqual(norms[0].vmin, -norms[0].vmax)
        fixed = mode_norms(beams, "VEL", vmin=-2.0, vmax=2.0)
        self.assertEqual((fixed[1].vmin, fixed[1].vmax), (-2.0, 2.0))

    def test_colour_bar_arrows_where_values_pass_the_scale(self):
        from quellmar.plots import temperature_figure
        ds = quellmar.read_temperatures(self.rass)[1]
        celsius = ds["virtual_temperature"].values - 273.15
        low, high = np.nanmin(celsius), np.nanmax(celsius)
        for vmin, vmax, extend in ((None, None, "both"),  # the 2nd to 98th percentile
                                   (low - 1, high - 1, "max"), (low + 1, high + 1, "min"),
                                   (low - 1, high + 1, "neither")):
            mesh = temperature_figure(ds, vmin, vmax).axes[0].collections[0]
            self.assertEqual(mesh.colorbar.extend, extend, (vmin, vmax))

    def test_pictures(self):
        for args in (["moments", self.moments, "--field", "VEL2", "--vmin", "-1", "--vmax", "1"],
                     ["moments", self.moments, "--field", "AUX2", "--beams", "5"],
                     ["temperature", self.rass, "--vmin", "0", "--vmax", "20"]):
            target = out("rass-picture.png")
            result = plot(*(args + ["-o", target]))
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertGreater(os.path.getsize(target), 1000)
        result = plot("temperature", self.rass, "-o", out("none.png"), "--mode", "0")
        self.assertEqual(result.returncode, 1)
        self.assertIn("no mode 0 in the file (modes: 1)", result.stderr)
        result = plot("temperature", WINDS, "-o", out("none.png"))
        self.assertIn("not a quellmar-rass file (it is a quellmar-wind file)", result.stderr)


if __name__ == "__main__":
    unittest.main()
