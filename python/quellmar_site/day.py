"""One day of the site: its products (made by the companion programs), its
quicklook pictures (quellmar-plot's figures) and the summary its page
shows. Runs in a worker process; everything is written into a scratch
folder first and renamed into the day's folder at the end, so that a run
killed half way leaves the day as it was.

What a day holds: the records of every data file whose records reach into
that UTC day, those of the day alone in the pictures and the summary; the
products (netCDF, CSV, BUFR) are those of the whole files.
"""

import os
import shutil
import subprocess
import tempfile
import warnings

# The pictures' heights of winds: a height has winds in most periods when
# u and v are there in more than this share of the day's periods.
MOST_PERIODS = 0.5
# A record has precipitation when the recomputed moments flag at least
# this many of its gates.
PRECIPITATION_GATES = 2
RASS_POINTS = 2048


def file_facts(path, radar):
    """file_facts_of_report for quellmar.inspect's report of a data file
    (in a worker: it imports the package)."""
    import quellmar
    try:
        report = quellmar.inspect(path)
    except Exception as e:  # QuellmarFileError, or the extension missing
        return {"error": str(e).splitlines()[0] if str(e) else type(e).__name__}
    return file_facts_of_report(report)


def file_facts_of_report(report):
    """What the run needs to know of a data file before building days, from
    quellmar-info's report (quellmar.inspect's dict): the UTC dates its
    records span, the site name and the damage found."""
    records = report.get("records", {})
    damage = report.get("damage", [])
    facts = {"site": report.get("site", {}).get("name", ""),
             "records": records.get("count", 0),
             "damage_count": len(damage),
             "damage": ["%s at offset %s: %s" % (d.get("kind", "damage"), d.get("offset", "?"),
                                                 d.get("detail", "")) for d in damage[:3]]}
    if records.get("count", 0) > 0:
        facts["first"] = records["first_time"][:10]
        facts["last"] = records["last_time"][:10]
    return facts


def _np():
    import numpy as np
    return np


def in_day(ds, start, end):
    """The records of ds (a time dimension) from start up to end."""
    np = _np()
    times = ds["time"].values
    return ds.isel(time=np.flatnonzero((times >= start) & (times < end)))


def merged_beams(parts):
    """{beam: Dataset} of several files joined along time, a record time
    read once. A beam whose gates lie elsewhere in another file keeps the
    file with the most records."""
    import xarray as xr
    np = _np()
    by_beam = {}
    for beams in parts:
        for beam, ds in beams.items():
            if ds.sizes["time"]:
                by_beam.setdefault(beam, []).append(ds)
    out = {}
    for beam, sets in sorted(by_beam.items()):
        sets.sort(key=lambda d: -d.sizes["range"])
        widest = sets[0]["range"].values
        same = [d for d in sets if np.array_equal(d["range"].values, widest[:d.sizes["range"]])]
        if len(same) < len(sets):
            same = [max(sets, key=lambda d: d.sizes["time"])]
        ds = same[0] if len(same) == 1 else xr.concat(same, dim="time", join="outer",
                                                       combine_attrs="override")
        _, first = np.unique(ds["time"].values, return_index=True)
        out[beam] = ds.isel(time=first)
    return out


class Day:
    def __init__(self, task):
        import numpy as np
        self.task = task
        self.date = task["date"]
        self.start = np.datetime64(self.date, "ns")
        self.end = self.start + np.timedelta64(1, "D")
        self.products = []  # [file, what]
        self.pictures = []  # [file, alt text, heading]
        self.notes = []
        self.work = None

    # --- running the companion programs ---------------------------------

    def run(self, program, args, out):
        """Runs a companion program; True when it wrote `out`."""
        path = self.task["programs"].get(program)
        if not path:
            self.notes.append("%s was not found (beside quellmar-site or on PATH): its "
                              "product is not made" % program)
            return False
        done = subprocess.run([path] + args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True, errors="replace")
        lines = [line for line in done.stderr.splitlines() if line.strip()]
        if done.returncode != 0 or not os.path.exists(os.path.join(self.work, out)):
            self.notes.append(lines[-1] if lines else "%s failed (exit status %d)"
                              % (program, done.returncode))
            return False
        return True

    def wmo(self):
        opts = self.task["station"]
        return ["--wmo-block", str(opts["wmo_block"]), "--wmo-station", str(opts["wmo_station"])]

    def station(self):
        opts = self.task["station"]
        args = []
        for name in ("latitude", "longitude", "altitude"):
            if opts.get(name) is not None:
                args += ["--" + name, repr(opts[name])]
        if opts.get("radar") is not None:
            args += ["--radar", str(opts["radar"])]
        if opts.get("velocity_sign"):
            args += ["--velocity-sign", opts["velocity_sign"]]
        return args

    def out(self, name):
        return os.path.join(self.work, name)

    # --- pictures ---------------------------------------------------------

    def picture(self, figure, name, alt, heading):
        from quellmar.plots import save
        save(figure, self.out(name))
        with open(self.out(name), "rb") as f:
            head = f.read(24)  # PNG: the IHDR chunk's width and height
        width, height = int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")
        self.pictures.append([name, alt, heading, width, height])

    def beams_text(self, beams):
        parts = []
        for beam, ds in beams.items():
            az = float(ds["azimuth"].values[0])
            el = float(ds["elevation"].values[0])
            parts.append("beam %d (%s)" % (beam, "vertical" if el >= 89.5 else
                                           "azimuth %g°, elevation %g°" % (az, el)))
        return ", ".join(parts)

    def moments_pictures(self, beams, fields, prefix, what):
        from quellmar.plots import moments_figure
        names = {"SNR": "signal-to-noise ratio", "VEL": "radial velocity"}
        for field in fields:
            if not any(field in ds and _np().isfinite(ds[field].values).any()
                       for ds in beams.values()):
                continue
            heading = "%s, %s" % (names[field].capitalize(), what)
            alt = ("Time-height pictures of the %s (%s) on %s, one panel per beam: %s; "
                   "one colour scale per operating mode, blank where there is no value"
                   % (names[field], what, self.date, self.beams_text(beams)))
            self.picture(moments_figure(beams, field), "%s%s.png" % (prefix, field.lower()),
                         alt, heading)

    # --- the day ----------------------------------------------------------

    def build(self):
        np = _np()
        import quellmar
        from quellmar.moments import read_moments
        from quellmar.winds import read_winds

        task = self.task
        inputs = task["inputs"]
        radar = task["station"].get("radar") or 0
        summary = {"records": 0, "hours": 0, "first": None, "last": None,
                   "highest_winds": [], "precipitation_hours": None, "rass": False}

        # Stored moments of every file, the day's records only.
        parts = []
        for path in inputs:
            try:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    beams = quellmar.open_pair(path, radar=radar, on_damage="ignore")
            except Exception as e:
                self.notes.append("%s: not read (%s)" % (os.path.basename(path),
                                                          str(e).splitlines()[0]))
                continue
            parts.append({b: in_day(ds, self.start, self.end) for b, ds in beams.items()})
        beams = merged_beams(parts)
        times = np.sort(np.concatenate([ds["time"].values for ds in beams.values()])) \
            if beams else np.zeros(0, "datetime64[ns]")
        summary["records"] = int(len(times))
        if len(times):
            hours = (times - self.start) // np.timedelta64(1, "h")
            summary["hours"] = int(len(np.unique(hours)))
            summary["first"] = str(times[0])[11:19]
            summary["last"] = str(times[-1])[11:19]
            summary["rass"] = any("spectral_points" in ds and
                                  bool((ds["spectral_points"].values >= RASS_POINTS).any())
                                  for ds in beams.values())
            self.moments_pictures(beams, ("SNR", "VEL"), "", "stored moments")

        if len(times):
            # Winds.
            args = inputs + ["-o", self.out("winds.nc"), "--csv", self.out("winds.csv")]
            args += self.station()
            bufr = task["station"].get("wmo_block") is not None
            if bufr:
                args += ["--bufr", self.out("winds.bufr")] + self.wmo()
            if self.run("quellmar-wind", args, "winds.nc"):
                self.products.append(["winds.nc", "wind profiles, netCDF (quellmar-wind)"])
                self.products.append(["winds.csv", "wind profiles, CSV table"])
                if bufr and os.path.exists(self.out("winds.bufr")):
                    self.products.append(["winds.bufr", "wind profiles, WMO BUFR"])
                self.wind_pictures(read_winds(self.out("winds.nc")), summary)
            # RASS.
            if summary["rass"]:
                self.rass(bufr, summary)
            # Moments recomputed from the spectra.
            recomputed = []
            for path in inputs:
                if not path.lower().endswith(".spc"):
                    continue
                name = "moments-%s.nc" % os.path.splitext(os.path.basename(path))[0]
                args = [path, "-o", self.out(name)]
                if task["station"].get("radar") is not None:
                    args += ["--radar", str(task["station"]["radar"])]
                if self.run("quellmar-moments", args, name):
                    self.products.append([name, "moments recomputed from the spectra of %s, "
                                                "netCDF (quellmar-moments)"
                                          % os.path.basename(path)])
                    recomputed.append({b: in_day(ds, self.start, self.end)
                                       for b, ds in read_moments(self.out(name)).items()})
            if recomputed:
                again = merged_beams(recomputed)
                summary["precipitation_hours"] = self.precipitation_hours(again)
                self.moments_pictures(again, ("SNR", "VEL"), "recomputed-",
                                      "recomputed from the spectra")

        facts = task["facts"]
        damage = [{"file": r, "count": facts[r].get("damage_count", 0),
                   "lines": facts[r].get("damage", [])}
                  for r in task["relative"] if facts[r].get("damage_count", 0)]
        summary["damage"] = damage
        if damage or self.notes and not len(times):
            status = "damaged"
        elif summary["hours"] >= 24:
            status = "data"
        elif summary["records"]:
            status = "partial"
        else:
            status = "none"
        return {"date": self.date, "inputs": task["relative"], "summary": summary,
                "status": status, "products": self.products, "pictures": self.pictures,
                "notes": self.notes,
                "site": next((facts[r]["site"] for r in task["relative"]
                              if facts[r].get("site")), "")}

    def rass(self, bufr, summary):
        """quellmar-rass on the day's files: the moment set of the sound
        pulse as --acoustic-set gave it, else as quellmar-rass tells it
        apart period by period."""
        from quellmar.temperatures import read_temperatures
        chosen = self.task["station"].get("acoustic_set")
        args = self.task["inputs"] + ["-o", self.out("rass.nc"), "--csv", self.out("rass.csv")]
        if chosen:
            args += ["--acoustic-set", str(chosen)]
        args += self.station()
        if bufr:
            args += ["--bufr", self.out("rass.bufr")] + self.wmo()
        if not self.run("quellmar-rass", args, "rass.nc"):
            return
        modes = read_temperatures(self.out("rass.nc"))
        summary["acoustic_set"] = chosen or "auto"
        self.products.append(["rass.nc", "virtual temperature profiles, netCDF (quellmar-rass, "
                              "acoustic set %s)" % (chosen or "told apart per period")])
        self.products.append(["rass.csv", "virtual temperature profiles, CSV table"])
        if bufr and os.path.exists(self.out("rass.bufr")):
            self.products.append(["rass.bufr", "virtual temperature profiles, WMO BUFR"])
        self.temperature_pictures(modes)

    def wind_pictures(self, modes, summary):
        from quellmar.plots import winds_figure
        np = _np()
        for mode, ds in sorted(modes.items()):
            ds = in_day(ds, self.start, self.end)
            if not ds.sizes["time"]:
                continue
            valid = (np.isfinite(ds["eastward_wind"].values) &
                     np.isfinite(ds["northward_wind"].values))
            if not valid.any():
                continue
            share = valid.mean(axis=0)
            heights = ds["height"].values[share > MOST_PERIODS]
            if len(heights):
                summary["highest_winds"].append([int(mode), float(np.max(heights)),
                                                 int(ds.sizes["time"])])
            alt = ("Wind barbs over the wind speed, and the vertical air velocity w below, "
                   "over time and height on %s, operating mode %d, %d periods"
                   % (self.date, mode, ds.sizes["time"]))
            self.picture(winds_figure(ds), "winds-mode%d.png" % mode, alt,
                         "Winds, operating mode %d" % mode)

    def temperature_pictures(self, modes):
        from quellmar.plots import temperature_figure
        np = _np()
        for mode, ds in sorted(modes.items()):
            ds = in_day(ds, self.start, self.end)
            if not ds.sizes["time"] or not np.isfinite(ds["virtual_temperature"].values).any():
                self.notes.append("no virtual temperature in operating mode %d" % mode)
                continue
            alt = ("Virtual temperature in degrees Celsius over time and height on %s, "
                   "operating mode %d" % (self.date, mode))
            self.picture(temperature_figure(ds), "temperature-mode%d.png" % mode, alt,
                         "Virtual temperature, operating mode %d" % mode)

    def precipitation_hours(self, beams):
        """The hours of the day in which a record has precipitation at
        PRECIPITATION_GATES gates or more (quellmar-moments' PRECIP_SNR)."""
        np = _np()
        hours = set()
        for ds in beams.values():
            if "PRECIP_SNR" not in ds:
                continue
            wet = np.sum(np.isfinite(ds["PRECIP_SNR"].values), axis=1) >= PRECIPITATION_GATES
            t = ds["time"].values[wet]
            hours.update(int(h) for h in (t - self.start) // np.timedelta64(1, "h"))
        return len(hours)


def build_day(task):
    """Builds one day into task["folder"] (relative to task["site"]); returns
    the day's record for the manifest."""
    day = Day(task)
    final = os.path.join(task["site"], task["folder"])
    os.makedirs(task["scratch"], exist_ok=True)
    day.work = tempfile.mkdtemp(prefix=task["date"] + "-", dir=task["scratch"])
    try:
        try:
            record = day.build()
        except Exception as e:  # a day that cannot be drawn still gets its page
            detail = str(e).splitlines()[0] if str(e) else type(e).__name__
            day.notes.append("the day could not be built whole: %s" % detail)
            record = {"date": task["date"], "inputs": task["relative"],
                      "summary": {"records": 0, "hours": 0, "highest_winds": [],
                                  "precipitation_hours": None, "damage": []},
                      "status": "damaged", "products": day.products, "pictures": day.pictures,
                      "notes": day.notes, "site": ""}
        os.makedirs(final, exist_ok=True)
        made = set()
        for name in sorted(os.listdir(day.work)):
            if name.startswith("."):
                continue
            os.replace(os.path.join(day.work, name), os.path.join(final, name))
            made.add(name)
        for name in os.listdir(final):
            if name not in made:
                os.unlink(os.path.join(final, name))
        record["products"] = [p for p in record["products"] if p[0] in made]
        record["pictures"] = [p for p in record["pictures"] if p[0] in made]
        return record
    finally:
        shutil.rmtree(day.work, ignore_errors=True)
