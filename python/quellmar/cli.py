"""quellmar-plot: quicklook pictures of the project's netCDF files.

    quellmar-plot moments FILE.nc -o OUT.png [--field SNR|VEL|WIDTH|NOISE|VEL2|SNR2|WIDTH2|AUX2|
                          VEL_STORED|WIDTH_STORED|SNR_STORED|NOISE_STORED|
                          PRECIP_VEL|PRECIP_WIDTH|PRECIP_SNR]
                  [--minus-stored] [--beams 0,1,2] [--vmin V] [--vmax V]
    quellmar-plot winds WINDS.nc -o OUT.png [--mode N]
    quellmar-plot temperature RASS.nc -o OUT.png [--mode N] [--vmin DEG_C] [--vmax DEG_C]
    quellmar-plot spectra FILE.nc -o OUT.png (--ray N | --time ISO8601)

Exit status: 0 when the picture was written, 1 for input that cannot be
drawn (a one-line message on standard error), 2 for a wrong command line.
"""

import argparse
import sys

import numpy as np

from quellmar.errors import QuellmarFileError

PROGRAM = "quellmar-plot"
# The fields `moments` draws (quellmar.plots.FIELD_STYLE gives their colours).
MOMENT_FIELDS = ("SNR", "VEL", "WIDTH", "NOISE", "VEL2", "SNR2", "WIDTH2", "AUX2",
                 "VEL_STORED", "WIDTH_STORED", "SNR_STORED", "NOISE_STORED",
                 "PRECIP_VEL", "PRECIP_WIDTH", "PRECIP_SNR")
# Those drawn recomputed minus stored with --minus-stored.
DIFFERENCE_FIELDS = ("VEL", "WIDTH", "SNR", "NOISE")


def beam_list(text):
    try:
        return [int(b) for b in text.split(",") if b.strip() != ""]
    except ValueError:
        raise argparse.ArgumentTypeError("not a comma-separated list of beam numbers: %r"
                                         % text) from None


def parse(argv):
    parser = argparse.ArgumentParser(
        prog=PROGRAM, description="Quicklook pictures (PNG) of quellmar-nc, quellmar-wind and quellmar-rass files.",
        epilog="Exit status: 0 written; 1 input that cannot be drawn; 2 a wrong command line.")
    sub = parser.add_subparsers(dest="kind", required=True)
    p = sub.add_parser("moments", help="time-height panels of one field, one per beam")
    p.add_argument("file", help="a quellmar-nc file")
    p.add_argument("-o", "--output", required=True, help="the PNG file to write (required)")
    p.add_argument("--field", default="SNR", choices=MOMENT_FIELDS,
                   help="the field drawn; VEL2, SNR2, WIDTH2, AUX2: the second moment set; "
                        "*_STORED, PRECIP_*: of a quellmar-moments file, the moments stored "
                        "in the spectra file (--keep-stored) and the precipitation peak's "
                        "(default: SNR)")
    p.add_argument("--minus-stored", action="store_true",
                   help="draw the field (VEL, WIDTH, SNR or NOISE) recomputed minus its "
                        "stored value, FIELD - FIELD_STORED (a quellmar-moments file written "
                        "with --keep-stored)")
    p.add_argument("--beams", type=beam_list, help="comma-separated beam numbers (default: all)")
    p.add_argument("--vmin", type=float,
                   help="low end of the colour scale (default: each mode's 2nd percentile)")
    p.add_argument("--vmax", type=float,
                   help="high end of the colour scale (default: each mode's 98th percentile)")
    p = sub.add_parser("winds", help="wind barbs over wind speed, and w")
    p.add_argument("file", help="a quellmar-wind file")
    p.add_argument("-o", "--output", required=True, help="the PNG file to write (required)")
    p.add_argument("--mode", type=int, help="operating mode (default: the lowest in the file)")
    p = sub.add_parser("temperature", help="virtual temperature (quellmar-rass) over time and height")
    p.add_argument("file", help="a quellmar-rass file")
    p.add_argument("-o", "--output", required=True, help="the PNG file to write (required)")
    p.add_argument("--mode", type=int, help="operating mode (default: the lowest in the file)")
    p.add_argument("--vmin", type=float,
                   help="low end of the colour scale in °C (default: the 2nd percentile)")
    p.add_argument("--vmax", type=float,
                   help="high end of the colour scale in °C (default: the 98th percentile)")
    p = sub.add_parser("spectra", help="range-Doppler image of one record")
    p.add_argument("file", help="a quellmar-nc file of a spectra pair")
    p.add_argument("-o", "--output", required=True, help="the PNG file to write (required)")
    which = p.add_mutually_exclusive_group(required=True)
    which.add_argument("--ray", type=int, help="record number in the file, from 0")
    which.add_argument("--time", help="the record nearest to this UTC time, e.g. 2002-05-04T23:45:00")
    args = parser.parse_args(argv)
    if args.kind == "moments" and args.minus_stored and args.field not in DIFFERENCE_FIELDS:
        parser.error("--minus-stored takes --field %s, not %s"
                     % (", ".join(DIFFERENCE_FIELDS), args.field))
    return args


def listed(numbers):
    return ", ".join(str(n) for n in numbers)


def moments(args):
    from quellmar.moments import read_moments
    from quellmar.plots import moments_figure
    beams = read_moments(args.file)
    if not beams:
        raise QuellmarFileError("%s: holds no records" % args.file)
    if args.beams:
        missing = [b for b in args.beams if b not in beams]
        if missing:
            raise QuellmarFileError("%s: no beam %s in the file (beams: %s)"
                                    % (args.file, listed(missing), listed(sorted(beams))))
        beams = {b: beams[b] for b in args.beams}
    field = args.field
    if args.minus_stored:
        stored = field + "_STORED"
        if not any(stored in ds for ds in beams.values()):
            raise QuellmarFileError("%s: holds no field %s (quellmar-moments --keep-stored "
                                    "writes it)" % (args.file, stored))
        beams = {b: difference_of(ds, field) for b, ds in beams.items()}
        field = field + "-STORED"
    if not any(field in ds for ds in beams.values()):
        raise QuellmarFileError("%s: holds no field %s" % (args.file, field))
    else:
        beams = dict(sorted(beams.items()))
    return moments_figure(beams, field, args.vmin, args.vmax)


def difference_of(ds, field):
    """ds with FIELD-STORED = FIELD - FIELD_STORED (NaN where either is)."""
    stored = field + "_STORED"
    if field not in ds or stored not in ds:
        return ds
    return ds.assign({field + "-STORED": ds[field] - ds[stored]})


def chosen_mode(args, modes, what):
    """The group of --mode, or of the lowest mode."""
    if not modes:
        raise QuellmarFileError("%s: holds no %s (no mode groups)" % (args.file, what))
    mode = min(modes) if args.mode is None else args.mode
    if mode not in modes:
        raise QuellmarFileError("%s: no mode %d in the file (modes: %s)"
                                % (args.file, mode, listed(sorted(modes))))
    return modes[mode]


def winds(args):
    from quellmar.plots import winds_figure
    from quellmar.winds import read_winds
    return winds_figure(chosen_mode(args, read_winds(args.file), "winds"))


def temperature(args):
    from quellmar.plots import temperature_figure
    from quellmar.temperatures import read_temperatures
    ds = chosen_mode(args, read_temperatures(args.file), "temperatures")
    return temperature_figure(ds, args.vmin, args.vmax)


def nearest_ray(path, text):
    """The first record whose time is nearest to `text` (UTC)."""
    from quellmar.products import open_moments
    try:
        wanted = np.datetime64(text.rstrip("Zz"), "s")
    except ValueError:
        raise QuellmarFileError("not a time: %r (use ISO 8601, e.g. 2002-05-04T23:45:00)"
                                % text) from None
    with open_moments(path) as ds:
        times = ds["time"].values.astype("datetime64[s]")
    if len(times) == 0:
        raise QuellmarFileError("%s: holds no records" % path)
    if wanted < times.min() or wanted > times.max():
        raise QuellmarFileError("%s: no record near %s (records from %sZ to %sZ)"
                                % (path, wanted, times.min(), times.max()))
    return int(np.argmin(np.abs((times - wanted).astype(np.int64))))


def spectra(args):
    from quellmar.plots import spectra_figure
    from quellmar.spectra import read_spectra
    ray = args.ray if args.ray is not None else nearest_ray(args.file, args.time)
    return spectra_figure(read_spectra(args.file, ray))


def main(argv=None):
    args = parse(sys.argv[1:] if argv is None else argv)
    try:
        figure = {"moments": moments, "winds": winds, "temperature": temperature,
                  "spectra": spectra}[args.kind](args)
        from quellmar.plots import save
        save(figure, args.output)
    except QuellmarFileError as e:
        print("%s: %s" % (PROGRAM, e), file=sys.stderr)
        return 1
    except Exception as e:  # the netCDF and HDF5 libraries' errors on damaged data
        detail = str(e).splitlines()[0] if str(e) else type(e).__name__
        print("%s: %s: cannot be read (%s)" % (PROGRAM, args.file, detail), file=sys.stderr)
        return 1
    return 0
