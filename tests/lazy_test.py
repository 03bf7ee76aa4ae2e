"""The lazy xarray engine "quellmar", many files with open_mfdataset, and
dask.

Run by CTest, one group per test (Python.<Group>), with the environment of
tests/pairs_test.py. The reference is open_pair (everything decoded at
once), itself checked against the netCDF route in tests/pairs_test.py, and
the values quellmar-known-pairs writes.
"""

import os
import pickle
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import unittest
import warnings

import numpy as np
import xarray as xr

import quellmar
from quellmar import _pairs

try:
    import dask
except ImportError:
    dask = None
try:
    import distributed
except ImportError:
    distributed = None
NO_DASK = "python3-dask is not installed: open_mfdataset and chunks need it"
NO_DISTRIBUTED = "python3-distributed is not installed: no dask cluster to compute on"
DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "python.md")

NC = os.environ.get("QUELLMAR_NC", "quellmar-nc")
KNOWN_PAIRS = os.environ.get("QUELLMAR_KNOWN_PAIRS", "quellmar-known-pairs")
SAMPLE = os.environ.get("QUELLMAR_SAMPLE", os.path.join(os.path.dirname(__file__), "..", "sample"))
MAY3 = np.datetime64("2002-05-03T00:00:00", "ns")


def setUpModule():
    global folder, KNOWN, PAIRS
    folder = tempfile.TemporaryDirectory()
    KNOWN = os.path.join(folder.name, "known")
    os.makedirs(KNOWN)
    subprocess.run([KNOWN_PAIRS, KNOWN], check=True)
    PAIRS = {
        "sample moments": os.path.join(SAMPLE, "d02123a.mom"),
        "sample spectra": os.path.join(SAMPLE, "d02123a.spc"),
        "generated moments day": os.path.join(KNOWN, "d02123a.mom"),
        "generated spectra day": os.path.join(KNOWN, "d02124a.spc"),
    }


def tearDownModule():
    folder.cleanup()


def header_of(pair):
    return os.path.join(os.path.dirname(pair), "h" + os.path.basename(pair)[1:])


def records_m(pair):
    """Offsets of the records of a moments data file of layout M (16-bit
    length after the datacode)."""
    with open(pair, "rb") as f:
        data = f.read()
    at, out = 0, []
    while at + 4 <= len(data):
        out.append(at)
        at += struct.unpack_from("<h", data, at + 2)[0]
    return out


def patched(pair, name, patch):
    """A copy of the pair as `name` in a new folder, its data file bytes
    changed by patch(bytearray)."""
    into = tempfile.mkdtemp(dir=folder.name)
    with open(pair, "rb") as f:
        data = bytearray(f.read())
    patch(data)
    out = os.path.join(into, name)
    with open(out, "wb") as f:
        f.write(bytes(data))
    shutil.copy(header_of(pair), header_of(out))
    return out


def generated_day(into, day):
    """The generated moments day moved to 2002-05-03 + day days, as
    d02<123 + day>a.mom in `into`."""
    def shift(data):
        for at in records_m(PAIRS["generated moments day"]):
            time = struct.unpack_from("<i", data, at + 8)[0]
            struct.pack_into("<i", data, at + 8, time + 86400 * day)
    out = patched(PAIRS["generated moments day"], "d02%03da.mom" % (123 + day), shift)
    os.makedirs(into, exist_ok=True)
    for path in (out, header_of(out)):
        shutil.move(path, os.path.join(into, os.path.basename(path)))
    return os.path.join(into, os.path.basename(out))


def radar_one(data):
    """Records of beam 2 before noon become radar 1's."""
    for at in records_m(PAIRS["generated moments day"])[:216]:
        if struct.unpack_from("<h", data, at + 14)[0] == 2:
            struct.pack_into("<h", data, at + 12, 1)


def damaged_pairs():
    """Pairs with each kind of damage the scan finds."""
    moments = PAIRS["generated moments day"]
    offsets = records_m(moments)
    last = offsets[-1]

    def cut(data):
        del data[last + 20:]

    def stray(data):
        data += b"\1\2\3"

    def trailer(data):
        end = offsets[5]
        struct.pack_into("<h", data, end - 2, 7)

    def beam(data):
        struct.pack_into("<h", data, offsets[3] + 14, 9)

    def spectra_cut(data):
        del data[len(data) - 100:]

    return {
        "last record cut": patched(moments, "d02123a.mom", cut),
        "stray bytes": patched(moments, "d02123a.mom", stray),
        "bad trailer": patched(moments, "d02123a.mom", trailer),
        "unknown beam": patched(moments, "d02123a.mom", beam),
        "records of radar 1": patched(moments, "d02123a.mom", radar_one),
        "spectra cut": patched(PAIRS["generated spectra day"], "d02124a.spc", spectra_cut),
    }


def opened(call):
    """(result or the error's message, the warnings' messages)."""
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        try:
            result = call()
        except quellmar.QuellmarFileError as e:
            result = str(e)
    return result, [(w.category, str(w.message)) for w in seen]


def assert_same(test, a, b):
    xr.testing.assert_identical(a, b)
    for name in b.variables:
        test.assertEqual(a[name].dtype, b[name].dtype, name)


class LazyEngine(unittest.TestCase):
    def test_lazy_equals_eager_value_for_value(self):
        cases = dict(PAIRS)
        cases.update(damaged_pairs())
        for what, pair in cases.items():
            spectra = pair.endswith("spc")
            for on_damage in ("warn", "ignore", "raise"):
                with self.subTest(what, on_damage=on_damage):
                    eager, eager_warnings = opened(lambda: quellmar.open_pair(
                        pair, spectra=spectra, on_damage=on_damage))
                    if isinstance(eager, str):
                        lazy, lazy_warnings = opened(lambda: xr.open_dataset(
                            pair, engine="quellmar", spectra=spectra, on_damage=on_damage))
                        self.assertEqual(lazy, eager)
                        self.assertEqual(lazy_warnings, eager_warnings)
                        continue
                    self.assertTrue(eager)
                    for beam in eager:
                        lazy, lazy_warnings = opened(lambda: xr.open_dataset(
                            pair, engine="quellmar", beam=beam, spectra=spectra,
                            on_damage=on_damage))
                        self.assertEqual(lazy_warnings, eager_warnings)
                        assert_same(self, lazy.load(), eager[beam])
                    if what == "records of radar 1" or on_damage != "warn":
                        self.assertEqual(eager_warnings, [])
                    elif what in cases and what not in PAIRS:
                        self.assertTrue(eager_warnings)

    def test_opening_decodes_nothing_and_indexing_only_what_is_asked(self):
        pair = PAIRS["generated moments day"]
        before = _pairs.decoded_records()
        ds = xr.open_dataset(pair, engine="quellmar", beam=1, drop_variables=["NOISE"])
        self.assertEqual(_pairs.decoded_records(), before)
        self.assertNotIn("NOISE", ds)
        self.assertEqual(ds.sizes["time"], 144)
        step = ds["SNR"].isel(time=13).values
        self.assertEqual(_pairs.decoded_records(), before + 1)
        self.assertEqual(ds["SNR"].isel(time=slice(10, 14)).sel(range=slice(500, 900)).shape,
                         (4, 4))
        np.testing.assert_array_equal(step, quellmar.open_pair(pair)[1]["SNR"].values[13])
        # Chunks of records through dask: each chunk reads its own records.
        chunked = xr.open_dataset(pair, engine="quellmar", beam=1, chunks={"time": 50})
        self.assertEqual(chunked["VEL"].chunks, ((50, 50, 44), (8,)))
        before = _pairs.decoded_records()
        chunked.load()
        self.assertEqual(_pairs.decoded_records() - before, 144 * 5)
        # Loaded whole, each record is decoded once for all five fields.
        before = _pairs.decoded_records()
        whole = xr.open_dataset(pair, engine="quellmar", beam=1).load()
        self.assertEqual(_pairs.decoded_records() - before, 144)
        xr.testing.assert_identical(chunked, whole)

    def test_indexing_picks_what_open_pair_holds_there(self):
        pair = PAIRS["sample spectra"]
        lazy = xr.open_dataset(pair, engine="quellmar", beam=2, spectra=True)
        eager = quellmar.open_pair(pair, spectra=True)[2]
        for where in (dict(time=[3, 0], range=[2, 7], doppler=[5, 6, 1]),
                      dict(time=1, range=[4, 1], doppler=slice(3, 9)),
                      dict(time=slice(None, None, -2), range=7, doppler=[10, 2])):
            for name in ("spectra", "height", "SNR"):
                picked = {d: where[d] for d in eager[name].dims}
                with self.subTest(name, **{d: str(i) for d, i in picked.items()}):
                    np.testing.assert_array_equal(lazy[name].isel(picked).values,
                                                  eager[name].isel(picked).values)

    def test_pickled_dataset_reads_in_another_process(self):
        pair = PAIRS["sample spectra"]
        ds = xr.open_dataset(pair, engine="quellmar", beam=2, spectra=True)
        script = ("import pickle, sys\n"
                  "ds = pickle.load(sys.stdin.buffer)\n"
                  "sys.stdout.buffer.write(pickle.dumps(ds.load()))\n")
        run = subprocess.run([sys.executable, "-c", script], input=pickle.dumps(ds),
                             capture_output=True, check=True)
        assert_same(self, pickle.loads(run.stdout),
                    quellmar.open_pair(pair, spectra=True)[2])

    def test_radar_through_the_engine(self):
        pair = patched(PAIRS["generated moments day"], "d02123a.mom", radar_one)
        morning = MAY3 + np.timedelta64(12, "h")
        mine = xr.open_dataset(pair, engine="quellmar", beam=2, on_damage="raise")
        self.assertEqual(mine.sizes["time"], 72)
        self.assertTrue((mine["time"].values >= morning).all())
        # Radar 1 read with the HeaderBlock of radar 0: a finding.
        other = xr.open_dataset(pair, engine="quellmar", beam=2, radar=1, on_damage="ignore")
        self.assertEqual(other.sizes["time"], 72)
        self.assertTrue((other["time"].values < morning).all())
        assert_same(self, other.load(),
                    quellmar.open_pair(pair, radar=1, on_damage="ignore")[2])
        self.assertEqual(xr.open_dataset(pair, engine="quellmar", beam=2, radar=None,
                                         on_damage="ignore").sizes["time"], 144)

    def test_known_values_on_every_route(self):
        pair = PAIRS["generated moments day"]
        nc = os.path.join(folder.name, "known.nc")
        subprocess.run([NC, pair, "-o", nc], check=True)
        routes = {"netCDF": quellmar.read_moments(nc), "open_pair": quellmar.open_pair(pair),
                  "engine": {b: xr.open_dataset(pair, engine="quellmar", beam=b).load()
                             for b in range(3)}}
        noon = MAY3 + np.timedelta64(12, "h")
        for route, beams in routes.items():
            with self.subTest(route):
                vertical = beams[0]
                t = vertical["time"].values
                np.testing.assert_array_equal(t[:3], MAY3 + np.array([0, 300, 600], "m8[s]"))
                snr = vertical["SNR"].values
                self.assertTrue((snr[t < noon, :4] == 10).all())
                self.assertTrue((snr[t < noon, 4:] == 30).all())
                self.assertTrue((snr[t >= noon] == 20).all())
                np.testing.assert_allclose(vertical["range"].values, 450 + 105 * np.arange(8))
                east = beams[1]
                self.assertEqual(east["time"].values[12], MAY3 + np.timedelta64(3700, "s"))
                wanted = np.full(east["SNR"].shape, 15.0, np.float32)
                wanted[12, 5] = 17.25
                np.testing.assert_array_equal(east["SNR"].values, wanted)
                np.testing.assert_allclose(east["height"].values[0],
                                           (450 + 105 * np.arange(8)) * np.sin(np.deg2rad(75)),
                                           rtol=1e-6)
                np.testing.assert_allclose(east["VEL"].values,
                                           0.1 * east["nyquist_velocity"].values[:, None]
                                           * np.ones((1, 8)), rtol=1e-5)
                # Beam 2: 6 gates 210 m apart before noon, 8 after.
                mode1 = beams[2]
                before = mode1["time"].values < noon
                np.testing.assert_allclose(mode1["range"].values, 450 + 210 * np.arange(8))
                self.assertTrue(np.isnan(mode1["SNR"].values[before, 6:]).all())
                self.assertTrue(np.isnan(mode1["height"].values[before, 6:]).all())
                self.assertTrue((mode1["SNR"].values[before, :6] == 5).all())
                self.assertTrue((mode1["SNR"].values[~before] == 5).all())

    def test_a_value_equal_to_the_fill_value_is_nan(self):
        pair = PAIRS["generated spectra day"]
        ten = struct.pack("<f", 10.0)
        with open(pair, "rb") as f:
            first = f.read().index(ten)

        def fill(data):
            data[first:first + 4] = struct.pack("<f", -9999.0)
        pair = patched(pair, "d02124a.spc", fill)
        eager = quellmar.open_pair(pair, spectra=True)[0]["spectra"].values
        lazy = xr.open_dataset(pair, engine="quellmar", spectra=True)["spectra"].values
        nc = os.path.join(os.path.dirname(pair), "fill.nc")
        subprocess.run([NC, pair, "-o", nc], check=True)
        netcdf = quellmar.read_spectra(nc, 0)["spectra"].values.astype(np.float32)
        self.assertEqual(int(np.isnan(netcdf).sum()), 1)
        for got in (eager, lazy):
            np.testing.assert_array_equal(got[0, :, :64], netcdf)

    def test_damage_warning_names_the_callers_line(self):
        pair = damaged_pairs()["stray bytes"]
        with warnings.catch_warnings(record=True) as seen:
            warnings.simplefilter("always")
            line = sys._getframe().f_lineno + 1
            xr.open_dataset(pair, engine="quellmar")
            quellmar.open_pair(pair)
        self.assertEqual([(w.category, w.filename, w.lineno) for w in seen],
                         [(quellmar.QuellmarDamageWarning, __file__, line),
                          (quellmar.QuellmarDamageWarning, __file__, line + 1)])


    def test_url_names_the_documentation(self):
        url = xr.backends.list_engines()["quellmar"].url
        self.assertTrue(url.startswith("file://"), url)
        with open(url[len("file://"):]) as f:
            self.assertIn("### The xarray engine `quellmar`", f.read())


class LazyThreads(unittest.TestCase):
    def test_inspect_open_pair_and_lazy_reads_beside_each_other(self):
        pairs = [PAIRS["generated moments day"], PAIRS["sample spectra"],
                 PAIRS["sample moments"]]
        lazy = [xr.open_dataset(p, engine="quellmar", beam=1) for p in pairs]
        wanted = [(quellmar.inspect(p), quellmar.open_pair(p)[1], ds.load())
                  for p, ds in zip(pairs, lazy)]
        lazy = [xr.open_dataset(p, engine="quellmar", beam=1) for p in pairs]
        errors = []

        def work(i, kind):
            try:
                for n in range(40):
                    if kind == 0:
                        self.assertEqual(quellmar.inspect(pairs[i]), wanted[i][0])
                    elif kind == 1:
                        assert_same(self, quellmar.open_pair(pairs[i])[1], wanted[i][1])
                    else:
                        t = n % lazy[i].sizes["time"]
                        np.testing.assert_array_equal(lazy[i]["SNR"][t].values,
                                                      wanted[i][2]["SNR"].values[t])
            except Exception as e:  # reported below
                errors.append(e)

        threads = [threading.Thread(target=work, args=(i, kind))
                   for i in range(3) for kind in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])


def other_spacing(header):
    """Mode 0 of both HeaderBlocks of the generated day 1400 ns apart."""
    with open(header, "r+b") as f:
        for block in (0, 568):
            f.seek(block + 98 + 12)
            f.write(struct.pack("<i", 1400))


@unittest.skipIf(dask is None, NO_DASK)
class Archive(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = os.path.join(folder.name, "archive")
        cls.days = [generated_day(cls.folder, day) for day in range(4)]

    def test_open_mfdataset_is_the_concatenation_of_the_files(self):
        single = xr.concat([xr.open_dataset(p, engine="quellmar", beam=1) for p in self.days],
                           dim="time").load()
        for parallel in (False, True):
            with self.subTest(parallel=parallel):
                before = _pairs.decoded_records()
                ds = xr.open_mfdataset(os.path.join(self.folder, "d02*.mom"), engine="quellmar",
                                       beam=1, combine="nested", concat_dim="time",
                                       parallel=parallel)
                self.assertEqual(_pairs.decoded_records(), before)
                self.assertEqual(ds["VEL"].chunks[0], (144,) * 4)
                assert_same(self, ds.load(), single)
                self.assertTrue((np.diff(ds["time"].values) > np.timedelta64(0)).all())

    def test_open_archive_reads_a_copied_day_once_and_refuses_other_gates(self):
        copy = os.path.join(self.folder + "-copied", "d02200a.mom")
        os.makedirs(os.path.dirname(copy))
        for path in (self.days[2], header_of(self.days[2])):
            shutil.copy(path, os.path.join(os.path.dirname(copy),
                                           os.path.basename(path).replace("125", "200")))
        paths = [copy] + self.days
        for parallel in (False, True):
            before = _pairs.decoded_records()
            with warnings.catch_warnings(record=True) as seen:
                warnings.simplefilter("always")
                line = sys._getframe().f_lineno + 1
                ds = quellmar.open_archive(paths, beam=2, parallel=parallel)
            self.assertEqual(_pairs.decoded_records(), before)
            self.assertEqual([(w.category, w.filename, w.lineno) for w in seen],
                             [(quellmar.QuellmarDamageWarning, __file__, line)])
            self.assertEqual(str(seen[0].message),
                             "%s: 144 record time(s) of beam 2 are in %s too; each is read "
                             "once, from there" % (self.days[2], copy))
            single = xr.concat([xr.open_dataset(p, engine="quellmar", beam=2)
                                for p in self.days], dim="time")
            assert_same(self, ds.load(), single.load())

        other = generated_day(self.folder + "-other", 9)
        other_spacing(header_of(other))
        with self.assertRaisesRegex(quellmar.QuellmarFileError,
                                    "beam 0 has other gates .8 gates from 450 m, 210 m apart; "
                                    "8 gates from 450 m, 105 m apart."):
            quellmar.open_archive(self.days + [other], beam=0)


def daily_mean_profile(days, scheduler=None):
    ds = xr.open_mfdataset(days, engine="quellmar", beam=0, combine="nested",
                           concat_dim="time", parallel=True)
    return ds["VEL"].resample(time="1D").mean().compute(scheduler=scheduler)


@unittest.skipIf(distributed is None, NO_DISTRIBUTED)
class Cluster(unittest.TestCase):
    def test_two_worker_processes_give_the_single_process_result(self):
        from distributed import Client, LocalCluster
        into = os.path.join(folder.name, "cluster")
        days = [generated_day(into, day) for day in range(6)]
        single = daily_mean_profile(days, scheduler="synchronous")
        eager = xr.concat([quellmar.open_pair(p)[0]["VEL"] for p in days], dim="time")
        xr.testing.assert_allclose(single, eager.resample(time="1D").mean())
        with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            got = daily_mean_profile(days)
            self.assertEqual(len(client.scheduler_info()["workers"]), 2)
        xr.testing.assert_identical(got, single)
        self.assertEqual(got.sizes["time"], 6)


class Docs(unittest.TestCase):
    def test_archive_examples_of_the_docs_run(self):
        with open(DOCS) as f:
            blocks = f.read().split("```python\n")[1:]
        examples = [b.split("```")[0] for b in blocks if "archive/" in b]
        self.assertEqual(len(examples), 2)
        into = os.path.join(folder.name, "docs")
        for day in range(3):
            generated_day(os.path.join(into, "archive"), day)
        for code in examples:
            with self.subTest(code.splitlines()[0]):
                if dask is None or ("distributed" in code and distributed is None):
                    self.skipTest(NO_DISTRIBUTED if dask else NO_DASK)
                run = subprocess.run([sys.executable, "-c", code], cwd=into,
                                     capture_output=True, text=True)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertTrue(run.stdout.strip())


if __name__ == "__main__":
    unittest.main()
