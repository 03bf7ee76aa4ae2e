"""quellmar.open_pair, the xarray engine "quellmar" and quellmar.inspect.

Run by CTest as one test (Python.pairs_test) in which pytest (or unittest's
discovery) finds every test of this file, with the environment:
  QUELLMAR_NC           quellmar-nc
  QUELLMAR_INFO         quellmar-info
  QUELLMAR_KNOWN_PAIRS  quellmar-known-pairs (a generated day of each kind)
  QUELLMAR_SAMPLE       the sample folder (sample/)
  PYTHONPATH            python/ of the build folder (the extension and the
                        package's dist-info) and of the source tree

The reference is the netCDF route: quellmar-nc, then read_moments.
"""

import json
import os
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

NC = os.environ.get("QUELLMAR_NC", "quellmar-nc")
INFO = os.environ.get("QUELLMAR_INFO", "quellmar-info")
KNOWN_PAIRS = os.environ.get("QUELLMAR_KNOWN_PAIRS", "quellmar-known-pairs")
SAMPLE = os.environ.get("QUELLMAR_SAMPLE", os.path.join(os.path.dirname(__file__), "..", "sample"))


def setUpModule():
    global folder, PAIRS
    folder = tempfile.TemporaryDirectory()
    subprocess.run([KNOWN_PAIRS, folder.name], check=True)
    PAIRS = {
        "sample moments": os.path.join(SAMPLE, "d02123a.mom"),
        "sample spectra": os.path.join(SAMPLE, "d02123a.spc"),
        "generated moments day": os.path.join(folder.name, "d02123a.mom"),
        "generated spectra day": os.path.join(folder.name, "d02124a.spc"),
    }


def tearDownModule():
    folder.cleanup()


def converted(pair):
    """read_moments of the file quellmar-nc writes from the pair."""
    out = os.path.join(folder.name, os.path.basename(pair) + "-%d.nc" % abs(hash(pair)))
    if not os.path.exists(out):
        subprocess.run([NC, pair, "-o", out], check=True)
    return quellmar.read_moments(out)


def copy_pair(pair, into):
    os.makedirs(into, exist_ok=True)
    name = os.path.basename(pair)
    shutil.copy(pair, os.path.join(into, name))
    shutil.copy(os.path.join(os.path.dirname(pair), "h" + name[1:]), os.path.join(into, "h" + name[1:]))
    return os.path.join(into, name)


class OpenPair(unittest.TestCase):
    def assert_same_beams(self, got, wanted):
        self.assertEqual(sorted(got), sorted(wanted))
        for beam in wanted:
            a, b = got[beam], wanted[beam]
            # Values with NaN in the same places, times, coordinates, attributes.
            xr.testing.assert_identical(a, b)
            for name in list(b.variables):
                self.assertEqual(a[name].dtype, b[name].dtype, name)

    def test_equal_to_the_netcdf_route(self):
        for what, pair in PAIRS.items():
            with self.subTest(what):
                wanted = converted(pair)
                got = quellmar.open_pair(pair)
                self.assert_same_beams(got, wanted)

    def test_spectra_by_point_with_the_doppler_axis(self):
        pair = PAIRS["sample spectra"]
        beams = quellmar.open_pair(pair, spectra=True)
        nc = os.path.join(folder.name, "spectra-ref.nc")
        subprocess.run([NC, pair, "-o", nc], check=True)
        ds = beams[2]
        for t in (0, ds.sizes["time"] - 1):
            ray = int(ds["ray"].values[t])
            ref = quellmar.read_spectra(nc, ray)
            self.assertEqual(ds["spectra"].dims, ("time", "range", "doppler"))
            n = ref.sizes["range"]
            np.testing.assert_array_equal(ds["spectra"].values[t, :n, :ref.sizes["velocity"]],
                                          ref["spectra"].values.astype(np.float32))
            np.testing.assert_allclose(ds["doppler_velocity"].values[t, :ref.sizes["velocity"]],
                                       ref["velocity"].values, rtol=0, atol=1e-9)
        # A moments file holds none.
        with self.assertRaisesRegex(quellmar.QuellmarFileError, "holds no spectra"):
            quellmar.open_pair(PAIRS["sample moments"], spectra=True)


class Engine(unittest.TestCase):
    def test_open_dataset_by_engine_name(self):
        pair = PAIRS["generated moments day"]
        beams = quellmar.open_pair(pair)
        ds = xr.open_dataset(pair, engine="quellmar", beam=1)
        xr.testing.assert_identical(ds, beams[1])
        lowest = xr.open_dataset(pair, engine="quellmar", drop_variables=["NOISE"])
        self.assertEqual(lowest.attrs["beam"], min(beams))
        self.assertNotIn("NOISE", lowest)
        with self.assertRaisesRegex(quellmar.QuellmarFileError, "no beam 7"):
            xr.open_dataset(pair, engine="quellmar", beam=7)

    def test_guess_can_open_needs_a_data_name_with_its_header(self):
        engine = xr.backends.list_engines()["quellmar"]
        self.assertTrue(engine.guess_can_open(PAIRS["sample spectra"]))
        lone = os.path.join(folder.name, "alone", "d02123a.mom")
        os.makedirs(os.path.dirname(lone), exist_ok=True)
        shutil.copy(PAIRS["sample moments"], lone)
        self.assertFalse(engine.guess_can_open(lone))
        self.assertFalse(engine.guess_can_open(os.path.join(SAMPLE, "h02123a.mom")))
        self.assertFalse(engine.guess_can_open(os.path.join(SAMPLE, "README.md")))
        # Found by its guess alone.
        xr.testing.assert_identical(xr.open_dataset(PAIRS["sample moments"]),
                                    quellmar.open_pair(PAIRS["sample moments"])[0])


class PairErrors(unittest.TestCase):
    def test_damaged_pair_names_the_offset(self):
        pair = copy_pair(PAIRS["sample moments"], os.path.join(folder.name, "stray"))
        size = os.path.getsize(pair)
        with open(pair, "ab") as f:
            f.write(b"\1\2\3")
        with self.assertRaises(quellmar.QuellmarFileError) as caught:
            quellmar.open_pair(pair, on_damage="raise")
        self.assertEqual(str(caught.exception),
                         "%s: data offset %d: cut_record_header: the data file ends 3 bytes "
                         "into a RecordHeader" % (pair, size))
        # Read all the same by default, as quellmar-nc converts it.
        with warnings.catch_warnings(record=True) as seen:
            warnings.simplefilter("always")
            beams = quellmar.open_pair(pair)
        self.assertEqual([str(w.message) for w in seen], [str(caught.exception)])
        self.assertEqual([w.category for w in seen], [quellmar.QuellmarDamageWarning])
        xr.testing.assert_identical(beams[0], quellmar.open_pair(PAIRS["sample moments"])[0])

    def test_missing_and_unreadable_pairs(self):
        missing = os.path.join(folder.name, "d99001a.mom")
        with self.assertRaisesRegex(quellmar.QuellmarFileError,
                                    "cannot open %s: No such file" % missing):
            quellmar.open_pair(missing)
        empty = os.path.join(folder.name, "empty", "d02123a.mom")
        copy_pair(PAIRS["sample moments"], os.path.dirname(empty))
        open(empty, "wb").close()
        with self.assertRaisesRegex(quellmar.QuellmarFileError, "no complete record"):
            quellmar.open_pair(empty)
        with self.assertRaisesRegex(quellmar.QuellmarFileError, "no record of radar 3"):
            quellmar.open_pair(PAIRS["sample moments"], radar=3)

    def test_allocation_failure_is_a_memory_error(self):
        # Mode 0 of the first HeaderBlock (version 102) made 32767 gates of
        # 32767 points: 4 GiB of spectra rows for the first record, with
        # the address space limited to 1.5 GiB beyond what the process maps.
        pair = copy_pair(PAIRS["sample spectra"], os.path.join(folder.name, "huge"))
        header = os.path.join(os.path.dirname(pair), "h02123a.spc")
        with open(header, "r+b") as f:
            self.assertEqual(struct.unpack("<h", f.read(2))[0], 102)
            f.seek(98 + 16)
            f.write(struct.pack("<h", 32767))
            f.seek(98 + 22)
            f.write(struct.pack("<h", 32767))
        script = (
            "import resource, quellmar\n"
            "size = int(open('/proc/self/statm').read().split()[0]) * resource.getpagesize()\n"
            "limit = size + (3 << 29)\n"
            "resource.setrlimit(resource.RLIMIT_AS, (limit, limit))\n"
            "try:\n"
            "    quellmar.open_pair(%r, spectra=True)\n"
            "except MemoryError as e:\n"
            "    print('MemoryError:', e)\n"
            "print('still running')\n" % pair)
        run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertRegex(run.stdout, r"^MemoryError: .*needs more memory than there is\n"
                                     r"still running\n$")


class PairThreads(unittest.TestCase):
    def test_two_threads_get_their_own_pairs(self):
        pairs = [PAIRS["generated moments day"], PAIRS["sample spectra"]]
        wanted = [quellmar.open_pair(p) for p in pairs]
        got = [[], []]
        errors = []

        def read(i):
            try:
                for _ in range(4):
                    got[i].append(quellmar.open_pair(pairs[i]))
            except Exception as e:  # reported below
                errors.append(e)

        threads = [threading.Thread(target=read, args=(i,)) for i in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])
        for i in range(2):
            self.assertEqual(len(got[i]), 4)
            for beams in got[i]:
                for beam in wanted[i]:
                    xr.testing.assert_identical(beams[beam], wanted[i][beam])


class Inspect(unittest.TestCase):
    def test_same_data_as_quellmar_info_json(self):
        pair = copy_pair(PAIRS["sample moments"], os.path.join(folder.name, "inspect"))
        with open(pair, "ab") as f:
            f.write(b"\1\2\3")
        wanted = json.loads(subprocess.run([INFO, pair, "--json"], check=True,
                                           capture_output=True, text=True).stdout)
        got = quellmar.inspect(pair)
        self.assertEqual(got, wanted)
        self.assertEqual(got["damage"][0]["kind"], "cut_record_header")
        with self.assertRaisesRegex(quellmar.QuellmarFileError, "cannot open"):
            quellmar.inspect(os.path.join(folder.name, "d99001a.mom"))


if __name__ == "__main__":
    unittest.main()
