#!/usr/bin/env python3
"""Reads files converted by quellmar-nc back with xarray and netCDF4.

Usage: nc_check.py PATH/TO/quellmar-nc

Writes two file pairs byte by byte from the documented record and
HeaderBlock layouts (a moments pair and a spectra pair), converts each with
quellmar-nc, and checks that xarray and netCDF4 see the CF-Radial
variables and attributes, the record times, azimuths, elevations, ranges
and gate layout, and every decoded value exactly. The expected values are
worked out here from the stored counts with the documented conversions,
in the same precision steps (double arithmetic, results held as 4-byte
floats).
"""

import math
import os
import struct
import subprocess
import sys
import tempfile

import netCDF4
import numpy as np
import xarray as xr

F32 = np.float32
FILL = F32(-9999.0)

# --------------------------------------------------------------------------
# HeaderBlock writer (version 102: 568 bytes; version 103 adds 12 bytes of
# preamble and the met instrument list).


def mode_entry(ipp=40000, pulse=700, first_delay=2500, spacing=700, gates=4,
               ci=100, sa=30, points=64, delay_offset=0):
    return struct.pack("<iiiihhhhhhhh", ipp, pulse, first_delay, spacing,
                       gates, ci, sa, points, delay_offset, 0, 0, 0)


def header_block(modes, beams, directions, windows=(1, 64, 1, 1),
                 placement=0, site="ABCD Profiler", site_values=(4000, -10500,
                                                                 7, 1500),
                 tx=91500, version=102, met=()):
    b = struct.pack("<hh", version, 0)
    if version >= 103:
        b += struct.pack("<h5h", len(met), 0, 0, 0, 0, 0)
    b += site.encode("latin-1").ljust(32, b"\0")
    b += struct.pack("<hhhhh", *site_values, 1)
    b += b"RADAR0".ljust(32, b"\0")
    b += struct.pack("<hii3hhh", 0, tx, 0, 0, 0, 0, len(beams), 0)
    for m in range(4):
        b += modes[m] if m < len(modes) else mode_entry(gates=0)
    for i in range(10):
        d, m = beams[i] if i < len(beams) else (0, 0)
        b += struct.pack("<hhh", d, m, 0)
    b += struct.pack("<5i", 0, 0, 0, 0, 0)
    for i in range(9):
        name, az, el = directions[i] if i < len(directions) else ("", 0, 0)
        b += name.encode().ljust(12, b"\0") + struct.pack("<hhh", az, el, 0)
    b += struct.pack("<4h4h4h", *([0] * 12))
    b += struct.pack("<hhhh", *windows)
    b += struct.pack("<6h", placement, 0, 0, 0, 0, 0)
    b += struct.pack("<h25h", *([0] * 26))
    b += struct.pack("<i", 0)
    b += struct.pack("<%dh" % len(met), *met)
    assert len(b) == (568 if version < 103 else 580 + 2 * len(met))
    return b


# --------------------------------------------------------------------------
# Record writer. A gate is (velocity, width, snr, noise-or-aux) as stored
# counts.


def is16(datacode):
    return datacode // 100 % 10 != 0


def has_second(datacode):
    family = datacode % 100
    return family in (16, 17) if is16(datacode) else family == 16


def first_set(datacode, gates):
    if is16(datacode):
        return b"".join(struct.pack("<hHhh", *g) for g in gates)
    return b"".join(struct.pack("<hBbb", *g) for g in gates)


def second_set(datacode, gates):
    if is16(datacode):
        return b"".join(struct.pack("<hHhh", *g) for g in gates)
    return b"".join(struct.pack("<hBbh", *g) for g in gates)


def body(rec):
    b = first_set(rec["datacode"], rec["gates"])
    if has_second(rec["datacode"]):
        b += second_set(rec["datacode"], rec["second"])
    for value in rec.get("met", []):
        b += struct.pack("<i", value)
    for row in rec.get("spectra", []):
        b += struct.pack("<%df" % len(row), *row)
    return b


def record(rec, layout):
    """Layout N (datacode 3000+), S (older spectra) or M (older moments)."""
    dc, off, t = rec["datacode"], rec["header_offset"], rec["time"]
    beam, over = rec["beam"], rec.get("overrides")
    payload = body(rec)
    if layout == "N":
        ci, sa = over
        head = struct.pack("<hihiihhhh", dc, 0, rec["spectra_flag"], off, t,
                           0, beam, ci, sa)
        length = len(head) + len(payload) + 4
        head = head[:2] + struct.pack("<i", length) + head[6:]
        return head + payload + struct.pack("<i", length)
    tail = 4 if layout == "S" else 2
    fields = struct.pack("<iihh", off, t, 0, beam)
    if over:
        fields += struct.pack("<hh", *over)
    length = 2 + tail + len(fields) + len(payload) + tail
    fmt = "<hi" if layout == "S" else "<hh"
    return (struct.pack(fmt, dc, length) + fields + payload +
            struct.pack("<i" if layout == "S" else "<h", length))


# --------------------------------------------------------------------------
# Expected decoded values.


def nyquist(tx, ipp, ci):
    return F32(149.9 / (tx / 100.0) * 5e8 / ipp / ci)


def expected_moments(rec, points, v):
    v = float(v)
    dc = rec["datacode"]
    out = {k: [] for k in ("VEL", "WIDTH", "SNR", "NOISE", "SIGNAL_POWER",
                           "VEL2", "WIDTH2", "SNR2", "SIGNAL_POWER2", "AUX2")}
    noise_linear = []
    for vel, width, snr, noise in rec["gates"]:
        out["VEL"].append(F32(vel * v / 10000.0))
        if is16(dc):
            out["WIDTH"].append(F32(width * v / 10000.0))
            snr32 = F32(snr / 100.0)
            out["NOISE"].append(F32(noise / 100.0))
            nl = F32(10.0 ** (noise / 1000.0))
        else:
            out["WIDTH"].append(F32(width * v / 100.0))
            snr32 = F32(snr)
            out["NOISE"].append(F32(noise))
            nl = F32(10.0 ** (noise / 10.0))
        out["SNR"].append(snr32)
        noise_linear.append(nl)
        power = F32(10.0 ** (float(snr32) / 10.0) * float(F32(points * float(nl))))
        out["SIGNAL_POWER"].append(F32(10.0 * math.log10(float(power))))
    for g, (vel, width, snr, aux) in enumerate(rec.get("second", [])):
        out["VEL2"].append(F32(vel * v / 10000.0))
        out["WIDTH2"].append(F32(width * v / (10000.0 if is16(dc) else 100.0)))
        snr32 = F32(snr / 100.0) if is16(dc) else F32(snr)
        out["SNR2"].append(snr32)
        power = F32(10.0 ** (float(snr32) / 10.0) *
                    float(F32(points * float(noise_linear[g]))))
        out["SIGNAL_POWER2"].append(F32(10.0 * math.log10(float(power))))
        out["AUX2"].append(F32(aux / 10.0))
    return out


class Model:
    """Follows the documented state rules that the decoded values depend
    on: a HeaderBlock is loaded when a record names another offset than the
    one held, and a record's override words replace its mode's coherent
    integrations until the next load."""

    def __init__(self, blocks):
        self.blocks = blocks  # header offset -> description
        self.held = None
        self.ci = {}

    def record(self, rec):
        if rec["header_offset"] != self.held:
            self.held = rec["header_offset"]
            self.ci = {m: mode["ci"] for m, mode in
                       enumerate(self.blocks[self.held]["modes"])}
        block = self.blocks[self.held]
        mode_index = block["beams"][rec["beam"]][1]
        if rec.get("overrides"):
            self.ci[mode_index] = rec["overrides"][0]
        return block, mode_index, self.ci[mode_index]


# --------------------------------------------------------------------------
# Checks.

failures = []
checks = [0]


def expect(condition, what):
    checks[0] += 1
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def same(actual, wanted, what):
    a = np.asarray(actual, dtype=np.float32)
    w = np.asarray(wanted, dtype=np.float32)
    ok = a.shape == w.shape and np.array_equal(a, w, equal_nan=True)
    expect(ok, "%s: got %s, expected %s" % (what, a[:12], w[:12]))


def convert(tool, folder, name):
    out = os.path.join(folder, name + ".nc")
    run = subprocess.run([tool, name, "-o", out], cwd=folder,
                         capture_output=True, text=True)
    expect(run.returncode == 0, "%s: exit %d, %s" % (name, run.returncode,
                                                    run.stderr))
    expect(run.stdout == "", "%s: nothing on stdout, got %r" % (name,
                                                                run.stdout))
    return out


def iso(seconds):
    return str(np.datetime64(seconds, "s")) + "Z"


def check_cf_radial(path, rays, sweeps, site):
    with netCDF4.Dataset(path) as nc:
        expect(nc.data_model == "NETCDF4", "netCDF-4 file")
        expect(nc.Conventions.startswith("CF/Radial"), "Conventions")
        expect(nc.version == "1.4", "version 1.4")
        expect(nc.instrument_name == site, "instrument_name")
        expect(nc.instrument_type == "radar", "instrument_type")
        expect(nc.platform_type == "fixed", "platform_type")
        times = [r["time"] for r in rays]
        expect(nc.time_coverage_start == iso(min(times)), "coverage start")
        expect(nc.time_coverage_end == iso(max(times)), "coverage end")
        for name in ("volume_number", "time_coverage_start",
                     "time_coverage_end", "latitude", "longitude",
                     "altitude", "time", "range", "azimuth", "elevation",
                     "sweep_number", "sweep_mode", "fixed_angle",
                     "sweep_start_ray_index", "sweep_end_ray_index",
                     "ray_n_gates", "ray_start_index"):
            expect(name in nc.variables, "required variable " + name)
        expect(nc.variables["time"].units == "seconds since " + iso(times[0]),
               "time units")
        expect(nc.variables["range"].units == "meters", "range units")
        expect(nc.variables["VEL"].standard_name ==
               "radial_velocity_of_scatterers_away_from_instrument",
               "VEL standard_name")
        expect(nc.variables["WIDTH"].standard_name == "doppler_spectrum_width",
               "WIDTH standard_name")
        expect(nc.variables["SNR"].standard_name == "signal_to_noise_ratio",
               "SNR standard_name")
        for name, units in (("VEL", "m/s"), ("WIDTH", "m/s"), ("SNR", "dB"),
                            ("NOISE", "dB"), ("SIGNAL_POWER", "dB")):
            var = nc.variables[name]
            expect(var.units == units, name + " units")
            expect(var.dimensions == ("n_points",), name + " dimensions")
            expect(var._FillValue == FILL, name + " _FillValue")
        modes = netCDF4.chartostring(nc.variables["sweep_mode"][:])
        expect(list(modes) == ["pointing"] * len(sweeps), "sweep_mode")
        expect(nc.dimensions["time"].size == len(rays), "time dimension")


def check_rays(ds, rays, sweeps):
    """Times, angles, ranges, gate layout and sweeps."""
    base = rays[0]["time"]
    stamps = np.array([np.datetime64(r["time"], "s") for r in rays])
    expect(np.array_equal(ds["time"].values.astype("datetime64[s]"), stamps),
           "decoded times")
    same(ds["azimuth"].values, [r["azimuth"] for r in rays], "azimuth")
    same(ds["elevation"].values, [r["elevation"] for r in rays], "elevation")
    gates = [len(r["gates"]) for r in rays]
    expect(list(ds["ray_n_gates"].values) == gates, "ray_n_gates")
    expect(list(ds["ray_start_index"].values) ==
           list(np.cumsum([0] + gates[:-1])), "ray_start_index")
    expect(ds.sizes["n_points"] == sum(gates), "n_points")
    for i, r in enumerate(rays):
        start, spacing = ds["ray_start_range"].values[i], \
            ds["ray_gate_spacing"].values[i]
        wanted = [F32((r["first_delay"] - r["delay_offset"] + g * r["spacing"])
                      * 0.15) for g in range(len(r["gates"]))]
        same([F32(float(start) + g * float(spacing))
              for g in range(len(wanted))], wanted, "ray %d ranges" % i)
    widest = max(range(len(rays)), key=lambda i: (gates[i], -i))
    r = rays[widest]
    same(ds["range"].values,
         [F32((r["first_delay"] - r["delay_offset"] + g * r["spacing"]) * 0.15)
          for g in range(gates[widest])], "range coordinate")
    expect([list(s) for s in zip(ds["sweep_start_ray_index"].values,
                                 ds["sweep_end_ray_index"].values)] ==
           [[a, b] for a, b, _ in sweeps], "sweep ray indices")
    same(ds["fixed_angle"].values, [angle for _, _, angle in sweeps],
         "fixed_angle")
    expect(list(ds["sweep_number"].values) == list(range(len(sweeps))),
           "sweep_number")
    raw = xr.open_dataset(ds.encoding["source"], decode_times=False)
    same(raw["time"].values, [r["time"] - base for r in rays],
         "time in seconds since the first record")
    raw.close()


def check_fields(ds, rays):
    starts = ds["ray_start_index"].values
    for i, r in enumerate(rays):
        n = len(r["gates"])
        for name, values in r["expected"].items():
            if name not in ds:
                expect(not values, "%s present for ray %d" % (name, i))
                continue
            got = ds[name].values[starts[i]:starts[i] + n]
            wanted = values if values else [np.nan] * n
            same(got, wanted, "ray %d %s" % (i, name))


# --------------------------------------------------------------------------
# The two pairs.

T0 = 1020384000  # 2002-05-03 00:00:00 UTC, day 123

MOMENT_BLOCK = {
    "modes": [dict(ipp=40000, first_delay=2500, spacing=700, gates=4, ci=100,
                   points=64, delay_offset=0),
              dict(ipp=60000, first_delay=4000, spacing=1400, gates=6, ci=50,
                   points=128, delay_offset=300)],
    # (direction, mode) per beam; directions: name, azimuth, stored elevation
    "beams": [(0, 0), (1, 0), (2, 1)],
    "directions": [("VERTICAL", 0, 90), ("NORTH", 0, 7500), ("EAST", 90, 7550)],
}


def header_of(block, **kw):
    modes = [mode_entry(ipp=m["ipp"], first_delay=m["first_delay"],
                        spacing=m["spacing"], gates=m["gates"], ci=m["ci"],
                        points=m["points"], delay_offset=m["delay_offset"])
             for m in block["modes"]]
    return header_block(modes, block["beams"], block["directions"], **kw)


def gates_for(n, seed, x0xx):
    out = []
    for g in range(n):
        vel = (seed * 37 + g * 1013) % 9000 - 4500
        if x0xx:
            out.append((vel, (seed + 7 * g) % 256, (seed + g) % 40 - 10,
                        -(30 + (seed + g) % 20)))
        else:
            out.append((vel, (seed * 101 + 977 * g) % 65536,
                        (seed * 13 + 250 * g) % 4000 - 1000,
                        -(3000 + (seed * 7 + 90 * g) % 2000)))
    return out


def second_for(n, seed, x0xx):
    return [(vel, width, snr, (seed * 11 + g * 5) % 600 - 300)
            for g, (vel, width, snr, _) in enumerate(gates_for(n, seed + 3,
                                                               x0xx))]


def make_record(datacode, beam, t, block, header_offset=0, overrides=None,
                seed=1, spectra=None, spectra_flag=0):
    mode = block["modes"][block["beams"][beam][1]]
    x0xx = not is16(datacode)
    rec = dict(datacode=datacode, beam=beam, time=t,
               header_offset=header_offset, overrides=overrides,
               gates=gates_for(mode["gates"], seed, x0xx),
               spectra_flag=spectra_flag)
    if has_second(datacode):
        rec["second"] = second_for(mode["gates"], seed, x0xx)
    if spectra is not None:
        rec["spectra"] = spectra
    return rec


def annotate(rays, model):
    """Adds the expected ray geometry and values to each record."""
    for r in rays:
        block, m, ci = model.record(r)
        mode = block["modes"][m]
        d = block["directions"][block["beams"][r["beam"]][0]]
        r["azimuth"] = d[1]
        r["elevation"] = d[2] / 100.0 if d[2] > 90 else d[2]
        r.update(first_delay=mode["first_delay"], spacing=mode["spacing"],
                 delay_offset=mode["delay_offset"])
        v = nyquist(91500, mode["ipp"], ci)
        r["expected"] = expected_moments(r, mode["points"], v)


def sweeps_of(rays):
    sweeps = []
    for i, r in enumerate(rays):
        if sweeps and rays[sweeps[-1][0]]["beam"] == r["beam"]:
            sweeps[-1][1] = i
        else:
            sweeps.append([i, i, F32(r["elevation"])])
    return sweeps


def moments_pair(tool, folder):
    b = MOMENT_BLOCK
    # x0xx records without override words are exactly 5G + 18 long; every
    # other layout M record here carries them.
    rays = [
        make_record(2100, 0, T0, b, overrides=(100, 30), seed=1),
        make_record(2000, 0, T0 + 60, b, seed=2),
        make_record(1116, 1, T0 + 120, b, overrides=(40, 30), seed=3),
        make_record(2000, 1, T0 + 150, b, seed=4),  # keeps 40 integrations
        make_record(2100, 2, T0 + 180, b, overrides=(50, 20), seed=5),
        make_record(1016, 2, T0 + 240, b, overrides=(25, 20), seed=6),
        make_record(2000, 0, T0 - 30, b, seed=7),  # earlier than the first
    ]
    data = b"".join(record(r, "M") for r in rays)
    with open(os.path.join(folder, "d02123a.mom"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, "h02123a.mom"), "wb") as f:
        f.write(header_of(b))
    annotate(rays, Model({0: b}))
    path = convert(tool, folder, "d02123a.mom")
    check_cf_radial(path, rays, sweeps_of(rays), "ABCD Profiler")
    with xr.open_dataset(path) as ds:
        check_rays(ds, rays, sweeps_of(rays))
        check_fields(ds, rays)
        expect("spectra" not in ds, "no spectra variable for moments input")
        same(ds["nyquist_velocity"].values,
             [nyquist(91500, 40000, 100), nyquist(91500, 40000, 100),
              nyquist(91500, 40000, 40), nyquist(91500, 40000, 40),
              nyquist(91500, 60000, 50), nyquist(91500, 60000, 25),
              nyquist(91500, 40000, 40)], "nyquist_velocity")


def spectra_pair(tool, folder):
    points = 64
    two = {"modes": [dict(ipp=40000, first_delay=2500, spacing=700, gates=3,
                          ci=100, points=points, delay_offset=0)],
           "beams": [(0, 0), (1, 0)],
           "directions": [("VERTICAL", 0, 90), ("WEST", 270, 80)]}
    one = dict(two)
    windows_two = (50, 10, 1, 4)  # window 1 at point 50, window 2 at 1
    windows_one = (20, 10, 1, 1)  # one window at point 20
    header = header_of(two, windows=windows_two, placement=1)
    second_offset = len(header)
    header += header_of(one, windows=windows_one, version=103, met=(1, 2))

    def values(seed):
        # Point p (1..64) of gate g.
        return [[seed * 1000.0 + g * 100.0 + p + 0.25 for p in range(1, 65)]
                for g in range(3)]

    def compact(v):
        return v

    def positional(v, w):
        w1s, w1n, w2s, w2n = w
        return [row[w1s - 1:w1s - 1 + w1n] + row[w2s - 1:w2s - 1 + w2n]
                for row in v]

    spec = [values(s) for s in range(4)]
    rays = [
        make_record(3016, 0, T0, two, 0, (100, 30), 1, compact(spec[0]), 1),
        make_record(3117, 1, T0 + 60, two, 0, (50, 30), 2,
                    positional(spec[1], windows_two), 1),
        make_record(3016, 0, T0 + 120, one, second_offset, (100, 30), 3,
                    compact(spec[2]), 1),
        make_record(2000, 1, T0 + 180, one, second_offset, None, 4,
                    compact(spec[3])),
    ]
    rays[2]["met"] = [7, -7]  # the second block lists two met instruments
    data = b"".join(record(r, "S" if r["datacode"] < 3000 else "N")
                    for r in rays)
    with open(os.path.join(folder, "d02124a.spc"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, "h02124a.spc"), "wb") as f:
        f.write(header)
    annotate(rays, Model({0: two, second_offset: one}))
    path = convert(tool, folder, "d02124a.spc")
    check_cf_radial(path, rays, sweeps_of(rays), "ABCD Profiler")

    def line_two(row):
        w1s, w1n, w2s, w2n = windows_two
        line = [0.0] * points
        for p in range(w1s, w1s + w1n):
            line[p - 1] = row[p - 1]
        for p in range(w2s, w2s + w2n):  # placed: the flag is 1
            line[p - 1] = row[p - 1]
        return line

    def line_one(row):
        w1s, w1n, _, _ = windows_one
        return row[w1s - 1:w1s - 1 + w1n] + [FILL] * (points - w1n)

    wanted = ([line_two(row) for row in spec[0]] +
              [line_two(row) for row in spec[1]] +
              [line_one(row) for row in spec[2]] +
              [line_one(row) for row in spec[3]])
    with xr.open_dataset(path, mask_and_scale=False) as ds:
        check_rays(ds, rays, sweeps_of(rays))
        expect(ds["spectra"].dims == ("n_points", "spectrum_point"),
               "spectra dimensions")
        same(ds["spectra"].values, wanted, "spectra")
    with xr.open_dataset(path) as ds:
        check_fields(ds, rays)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    tool = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as folder:
        moments_pair(tool, folder)
        spectra_pair(tool, folder)
        left = sorted(os.listdir(folder))
        expect(not [n for n in left if ".tmp-" in n],
               "no temporary file left: %s" % left)
    if failures:
        print("nc_check: %d of %d checks failed" % (len(failures), checks[0]))
        sys.exit(1)
    print("nc_check: all %d checks hold" % checks[0])


if __name__ == "__main__":
    main()
