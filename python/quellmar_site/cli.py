"""quellmar-site: an archive folder as a static web site of daily pages.

    quellmar-site ARCHIVE_DIR -o SITE_DIR [-j N] [--title TEXT] [--since DATE]
                  [--latitude DEG --longitude DEG --altitude M]
                  [--wmo-block II --wmo-station III] [--radar N]
                  [--velocity-sign away|toward]

One run: take the site's lock; look at every data file of the archive
(size, time, a hash of its first and last blocks) against the manifest of
the last run; build again the days whose files changed, N at a time; then
write the pages that changed and the manifest.

Exit status: 0 the site is up to date; 1 an input or output that failed;
2 a wrong command line; 3 another run is updating the site (nothing done).
"""

import argparse
import datetime
import os
import shutil
import signal
import sys

from quellmar_site import files, pages, scan

PROGRAM = "quellmar-site"
STATE = ".quellmar-site"  # the site's own folder: manifest, lock, scratch
COMPANIONS = ("quellmar-wind", "quellmar-rass", "quellmar-moments", "quellmar-info")


def iso_date(text):
    try:
        return datetime.date.fromisoformat(text).isoformat()
    except ValueError:
        raise argparse.ArgumentTypeError("not a date (YYYY-MM-DD): %r" % text) from None


def bounded(kind, low, high):
    def convert(text):
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError("not a number: %r" % text) from None
        if not low <= value <= high:
            raise argparse.ArgumentTypeError("%s is not within %s to %s" % (text, low, high))
        return value
    return convert


def parse(argv):
    p = argparse.ArgumentParser(
        prog=PROGRAM,
        description="Turns an archive folder of profiler data files (d*.mom, d*.spc with "
                    "their header files, subfolders too) into a static web site: a page per "
                    "UTC day with quicklook pictures, a summary and the day's products, and "
                    "an index with a calendar per month. Runs again rebuild only the days "
                    "whose files changed.",
        epilog="Exit status: 0 the site is up to date; 1 an input or output that failed; "
               "2 a wrong command line; 3 another run is updating the site.")
    p.add_argument("archive", metavar="ARCHIVE_DIR", help="the archive folder")
    p.add_argument("-o", "--output", metavar="SITE_DIR", required=True,
                   help="the site's folder, made when missing (required)")
    p.add_argument("-j", "--jobs", metavar="N", type=bounded(int, 1, 256), default=1,
                   help="days built at once, each in its own process (default: 1)")
    p.add_argument("--title", metavar="TEXT",
                   help="the site's title (default: the site name of the files, with "
                        "'wind profiler')")
    p.add_argument("--since", metavar="DATE", type=iso_date,
                   help="build no day before DATE (YYYY-MM-DD); days built before stay as "
                        "they are (default: every day)")
    p.add_argument("--latitude", metavar="DEG", type=bounded(float, -90, 90),
                   help="the site's latitude, for the products (default: none)")
    p.add_argument("--longitude", metavar="DEG", type=bounded(float, -180, 360),
                   help="the site's longitude, for the products (default: none)")
    p.add_argument("--altitude", metavar="M", type=bounded(float, -100000, 100000),
                   help="the site's altitude above sea level, for the products (default: none)")
    p.add_argument("--wmo-block", metavar="II", type=bounded(int, 0, 99),
                   help="WMO block number: with --wmo-station, --latitude, --longitude and "
                        "--altitude, each day also gets BUFR files (default: none)")
    p.add_argument("--wmo-station", metavar="III", type=bounded(int, 0, 999),
                   help="WMO station number (default: none)")
    p.add_argument("--radar", metavar="N", type=bounded(int, 0, 32767),
                   help="the radar whose records count (default: 0)")
    p.add_argument("--velocity-sign", choices=("away", "toward"),
                   help="the sign of the stored velocities (default: away)")
    p.add_argument("--acoustic-set", type=int, choices=(1, 2),
                   help="the moment set of the RASS sound pulse (default: quellmar-rass "
                        "tells it apart period by period)")
    args = p.parse_args(argv)
    if (args.wmo_block is None) != (args.wmo_station is None):
        p.error("--wmo-block and --wmo-station go together")
    if args.wmo_block is not None and None in (args.latitude, args.longitude, args.altitude):
        p.error("BUFR (--wmo-block, --wmo-station) needs --latitude, --longitude and --altitude")
    return args


def find_programs(names=COMPANIONS):
    """The companion programs: beside this script (the build folder, or the
    installed bin folder), else on PATH."""
    here = os.path.dirname(os.path.realpath(sys.argv[0] or "."))
    found = {}
    for name in names:
        beside = os.path.join(here, name)
        if os.access(beside, os.X_OK) and os.path.isfile(beside):
            found[name] = beside
        else:
            found[name] = shutil.which(name)
    return found


def station_of(args):
    return {"latitude": args.latitude, "longitude": args.longitude, "altitude": args.altitude,
            "wmo_block": args.wmo_block, "wmo_station": args.wmo_station, "radar": args.radar,
            "velocity_sign": args.velocity_sign, "acoustic_set": args.acoustic_set}


class Run:
    def __init__(self, args):
        self.args = args
        self.archive = os.path.abspath(args.archive)
        self.site = os.path.abspath(args.output)
        self.state = os.path.join(self.site, STATE)
        self.manifest_path = os.path.join(self.state, "manifest.json")
        self.station = station_of(args)
        # What the days' contents depend on besides their files.
        self.options = {"station": self.station}

    def say(self, text):
        print("%s: %s" % (PROGRAM, text), file=sys.stderr)

    def save(self):
        scan.save_manifest(self.manifest_path, self.manifest)

    def pool(self):
        if not hasattr(self, "_pool"):
            import concurrent.futures
            import multiprocessing
            self._pool = concurrent.futures.ProcessPoolExecutor(
                max_workers=self.args.jobs, mp_context=multiprocessing.get_context("fork"))
        return self._pool

    def scan(self):
        """Looks at the archive's files: {relative path: fingerprint} of
        those to consider and the set that changed since the last run."""
        since = self.args.since
        # A file holds records up to 00:00 two days after its name's date.
        early = (datetime.date.fromisoformat(since) - datetime.timedelta(days=2)).isoformat() \
            if since else None
        known = self.manifest["files"]
        seen, changed, kept = {}, set(), set()
        for rel in scan.data_files(self.archive):
            date = scan.name_date(os.path.basename(rel))
            if early and date is not None and date.isoformat() < early:
                kept.add(rel)  # before --since: as the last run left it
                continue
            try:
                fp = scan.fingerprint(os.path.join(self.archive, rel))
            except OSError as e:
                self.say("%s: cannot be read (%s)" % (rel, e.strerror))
                continue
            seen[rel] = fp
            if not scan.same_file(fp, known.get(rel, {}).get("fingerprint")):
                changed.add(rel)
        gone = {rel for rel in known if rel not in seen and rel not in kept}
        return seen, changed, gone

    def facts(self, paths):
        """file_facts_of_report of each data file: from quellmar-info
        --json, N at a time (no Python package imported here), else from
        quellmar.inspect in the workers."""
        if not paths:
            return []
        info = find_programs(("quellmar-info",))["quellmar-info"]
        if not info:
            return list(self.pool().map(_facts, [(p, self.args.radar or 0) for p in paths]))
        import concurrent.futures
        with concurrent.futures.ThreadPoolExecutor(self.args.jobs) as threads:
            return list(threads.map(lambda p: info_facts(info, p), paths))

    def main(self):
        if not os.path.isdir(self.archive):
            self.say("%s: no such folder" % self.args.archive)
            return 1
        try:
            os.makedirs(self.state, exist_ok=True)
            self.lock = files.take_lock(os.path.join(self.state, "lock"))
        except files.SiteLocked as e:
            self.say("%s is being updated by another run (%s); nothing done, try again when "
                     "it has finished" % (self.args.output, str(e) or "process unknown"))
            return 3
        except OSError as e:
            self.say("%s: cannot write (%s)" % (self.args.output, e.strerror))
            return 1
        self.manifest = scan.load_manifest(self.manifest_path)
        if self.manifest.get("options") != self.options:
            # Other station options or archive: every day again.
            self.manifest = scan.empty_manifest()
            self.manifest["options"] = self.options
        seen, changed, gone = self.scan()
        if not changed and not gone and self.manifest.get("pages_current") \
                and self.manifest.get("title") == self.args.title \
                and self.manifest.get("pages_from") == pages_from():
            return 0

        files.remove_temporaries(self.site)
        shutil.rmtree(os.path.join(self.state, "scratch"), ignore_errors=True)
        known = self.manifest["files"]
        affected = set()
        for rel in changed | gone:
            affected.update(known.get(rel, {}).get("days", []))
        for rel in gone:
            del known[rel]
        # The dates each changed file's records span.
        paths = sorted(changed)
        facts = self.facts([os.path.join(self.archive, rel) for rel in paths])
        for rel, fact in zip(paths, facts):
            days = [] if "error" in fact else scan.days_between(fact["first"], fact["last"]) \
                if "first" in fact else []
            if "error" in fact:
                self.say("%s: left out (%s)" % (rel, fact["error"]))
            known[rel] = {"fingerprint": seen[rel], "facts": fact, "days": days}
            affected.update(days)
        # Days some file reaches into that have no record (new, or left
        # unbuilt by a killed run), and records no file reaches any more.
        claimed = {d for entry in known.values() for d in entry["days"]}
        affected.update(d for d in claimed if d not in self.manifest["days"])
        affected.update(d for d in self.manifest["days"] if d not in claimed)
        if self.args.since:
            affected = {d for d in affected if d >= self.args.since}
        # Until it is built again, a day has no record: a run killed before
        # then leaves it to the next.
        for date in affected:
            self.manifest["days"].pop(date, None)
        self.manifest["pages_current"] = False
        self.save()

        status = self.build_days(sorted(affected))
        self.write_pages(affected)
        self.manifest["pages_current"] = True
        self.manifest["title"] = self.args.title
        self.manifest["pages_from"] = pages_from()
        self.save()
        return status

    def build_days(self, dates):
        """Builds the days (each in a worker), recording each in the
        manifest as soon as it is whole."""
        known = self.manifest["files"]
        by_day = {}
        for rel, entry in sorted(known.items()):
            for d in entry["days"]:
                by_day.setdefault(d, []).append(rel)
        tasks = []
        for date in dates:
            inputs = by_day.get(date, [])
            if not inputs:
                self.remove_day(date)
                continue
            tasks.append({"date": date, "inputs": [os.path.join(self.archive, r) for r in inputs],
                          "relative": inputs, "facts": {r: known[r]["facts"] for r in inputs},
                          "station": self.station, "programs": find_programs(),
                          "site": self.site, "folder": pages.day_folder(date),
                          "scratch": os.path.join(self.state, "scratch")})
        import concurrent.futures
        failed = 0
        futures = {self.pool().submit(_build, t): t["date"] for t in tasks}
        for future in concurrent.futures.as_completed(futures):
            date = futures[future]
            try:
                record = future.result()
            except Exception as e:
                self.say("%s: not built (%s)" % (date, e))
                failed += 1
                continue
            self.manifest["days"][date] = record
            self.save()
            self.say("%s: built (%s)" % (date, pages.STATUS_TEXT[record["status"]]))
        if tasks:
            self.pool().shutdown()
        return 1 if failed else 0

    def remove_day(self, date):
        self.manifest["days"].pop(date, None)
        shutil.rmtree(os.path.join(self.site, pages.day_folder(date)), ignore_errors=True)
        try:
            os.unlink(os.path.join(self.site, pages.day_path(date)))
        except OSError:
            pass
        self.save()

    def write_pages(self, rebuilt):
        """Writes the pages of the rebuilt days and the index, and every
        other page whose text changed (a neighbour's links, a month's
        calendar); the others keep their files and times."""
        days = self.manifest["days"]
        dates = sorted(days)
        station = self.station
        site_name = next((days[d].get("site") for d in reversed(dates) if days[d].get("site")),
                         "")
        title = self.args.title or ("%s wind profiler" % site_name if site_name
                                    else "Wind profiler")
        written = files.write_if_changed(os.path.join(self.site, "style.css"), pages.CSS)
        for i, date in enumerate(dates):
            text = pages.day_page(days[date], dates[i - 1] if i else None,
                                  dates[i + 1] if i + 1 < len(dates) else None, title, station,
                                  self.site)
            path = os.path.join(self.site, pages.day_path(date))
            if date in rebuilt:
                files.write_bytes(path, text.encode("utf-8"))
                written += 1
            else:
                written += files.write_if_changed(path, text)
        months = sorted({d[:7] for d in dates})
        for key in months:
            text = pages.month_page(key, days, months, title)
            written += files.write_if_changed(
                os.path.join(self.site, key[:4], key[5:7], "index.html"), text)
        # Month pages of months without days any more.
        for top, folders, names in os.walk(self.site):
            folders[:] = [f for f in folders if not f.startswith(".")]
            rel = os.path.relpath(top, self.site)
            if "index.html" in names and rel.count(os.sep) == 1 \
                    and rel.replace(os.sep, "-") not in months:
                os.unlink(os.path.join(top, "index.html"))
        files.write_bytes(os.path.join(self.site, "index.html"),
                          pages.index_page(days, title, station).encode("utf-8"))
        written += 1
        self.say("%d day(s), %d page(s) written" % (len(dates), written))


def pages_from():
    """The size and time of the pages' code: another version of
    quellmar-site writes every page again."""
    st = os.stat(pages.__file__)
    return [st.st_size, st.st_mtime_ns]


def info_facts(info, path):
    """file_facts_of_report of quellmar-info's JSON report of a data file,
    or its message as the error."""
    import json
    import subprocess
    from quellmar_site.day import file_facts_of_report
    done = subprocess.run([info, path, "--json"], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, errors="replace")
    if done.returncode != 0:
        lines = [line for line in done.stderr.splitlines() if line.strip()]
        message = lines[-1] if lines else "quellmar-info: exit status %d" % done.returncode
        return {"error": message.split(": ", 1)[-1] if message.startswith("quellmar-info: ")
                else message}
    try:
        return file_facts_of_report(json.loads(done.stdout))
    except ValueError:
        return {"error": "quellmar-info wrote no report"}


def _facts(job):
    from quellmar_site.day import file_facts
    return file_facts(*job)


def _build(task):
    from quellmar_site.day import build_day
    return build_day(task)


def main(argv=None):
    args = parse(sys.argv[1:] if argv is None else argv)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        return Run(args).main()
    except KeyboardInterrupt:
        return 130
    except OSError as e:
        print("%s: %s: %s" % (PROGRAM, e.filename or args.output, e.strerror), file=sys.stderr)
        return 1
