"""quellmar-site on an archive of generated days: the site in a real browser
(headless Chromium through Selenium, the site served by http.server on
127.0.0.1), the incremental runs, a run killed half way, the lock.

The archive: two days of quellmar-bench-input (1 January 2002 whole, the
second cut inside a record: damaged) and the sample pairs of
quellmar-sample (moments and spectra, 4 May 12:00 to 5 May 00:30: two
partial days, RASS dwells, spectra to recompute). Run by CTest
(Python.site_test) with the environment of tests/pairs_test.py.
"""

import fcntl
import functools
import http.server
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.parse
import urllib.request

import numpy as np

BUILD = os.environ.get("QUELLMAR_BUILD_DIR", "")
SITE = os.path.join(BUILD, "quellmar-site")
BENCH_INPUT = os.path.join(BUILD, "bench", "quellmar-bench-input")
SAMPLE = os.path.join(BUILD, "quellmar-sample")
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
CHROMEDRIVER = shutil.which("chromedriver")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    webdriver = None
NO_BROWSER = ("the browser tests need Chromium, its driver and Selenium (Debian chromium, "
              "chromium-driver, python3-selenium; scripts/install-deps installs them): "
              "skipped")

DAYS = {"2002-01-01": "data", "2002-01-02": "damaged",
        "2002-05-04": "partial", "2002-05-05": "partial"}


def run_site(archive, site, *extra, check=True):
    done = subprocess.run([SITE, archive, "-o", site] + list(extra), stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=600)
    if check and done.returncode != 0:
        raise AssertionError("quellmar-site: status %d\n%s" % (done.returncode, done.stderr))
    return done


def tree(site):
    """{relative path: (mtime_ns, bytes)} of every file of a site but the lock."""
    out = {}
    for top, _, names in os.walk(site):
        for name in names:
            path = os.path.join(top, name)
            rel = os.path.relpath(path, site)
            if rel == os.path.join(".quellmar-site", "lock"):
                continue
            with open(path, "rb") as f:
                out[rel] = (os.stat(path).st_mtime_ns, f.read())
    return out


def setUpModule():
    global folder, ARCHIVE, BUILT, BUILT_TREE
    folder = tempfile.TemporaryDirectory()
    ARCHIVE = os.path.join(folder.name, "archive")
    os.makedirs(os.path.join(ARCHIVE, "bench"))
    os.makedirs(os.path.join(ARCHIVE, "sample"))
    subprocess.run([BENCH_INPUT, "--days", "2", os.path.join(ARCHIVE, "bench")], check=True)
    subprocess.run([SAMPLE, os.path.join(ARCHIVE, "sample")], check=True,
                   stdout=subprocess.DEVNULL)
    # The second day ends inside a record.
    os.truncate(os.path.join(ARCHIVE, "bench", "d02002a.mom"), 600000)
    BUILT = os.path.join(folder.name, "built")
    run_site(ARCHIVE, BUILT, "-j", "2")
    BUILT_TREE = tree(BUILT)


def tearDownModule():
    folder.cleanup()


class Runs(unittest.TestCase):
    def test_pages_days_and_summaries(self):
        """Every day has its page and folder, its calendar mark, and the
        summary of what its records hold."""
        names = set(BUILT_TREE)
        for date, status in DAYS.items():
            page = "%s/%s/%s.html" % (date[:4], date[5:7], date[8:10])
            self.assertIn(page, names)
            index = BUILT_TREE["index.html"][1].decode()
            self.assertRegex(index, r'<td class="%s"><a href="%s"' % (status, re.escape(page)))
        day = BUILT_TREE["2002/01/01.html"][1].decode()
        self.assertIn("<dd>1440 (00:00:30 to 23:59:30 UTC)</dd>", day)
        self.assertIn("<dt>Hours covered</dt><dd>24 of 24</dd>", day)
        damaged = BUILT_TREE["2002/01/02.html"][1].decode()
        self.assertRegex(damaged, r"<dt>Damage found</dt><dd>bench/d02002a.mom: 1 finding")
        evening = BUILT_TREE["2002/05/04.html"][1].decode()
        self.assertIn("<dt>Hours covered</dt><dd>12 of 24</dd>", evening)
        self.assertRegex(evening, r"<dt>Precipitation hours</dt><dd>\d+</dd>")
        self.assertRegex(evening, r"<dt>Winds in most periods up to</dt><dd>\d+ m \(mode 0")
        for product in ("winds.nc", "winds.csv", "rass.nc", "rass.csv", "moments-d02123a.nc",
                        "temperature-mode1.png", "recomputed-snr.png", "winds-mode0.png"):
            self.assertIn("2002/05/04/" + product, names)
        self.assertFalse([n for n in names if ".tmp-" in n or "scratch" in n])

    def test_incremental(self):
        """Nothing changed: nothing written. One day's file touched: that
        day's files, its page and the index, nothing else."""
        archive = os.path.join(folder.name, "incremental-archive")
        site = os.path.join(folder.name, "incremental")
        shutil.copytree(ARCHIVE, archive)  # the same times: the manifest still holds
        shutil.copytree(BUILT, site)
        before = tree(site)
        run_site(archive, site, "-j", "2")
        self.assertEqual(tree(site), before)

        os.utime(os.path.join(archive, "bench", "d02001a.mom"))
        run_site(archive, site, "-j", "2")
        after = tree(site)
        self.assertEqual(set(after), set(before))
        changed = {rel for rel in after if after[rel][0] != before[rel][0]}
        day = {rel for rel in after if rel.startswith("2002/01/01/")}
        self.assertTrue(day)
        self.assertEqual(changed, day | {"2002/01/01.html", "index.html",
                                         ".quellmar-site/manifest.json"})

    def test_killed_run(self):
        """A run killed after its first day, run again, gives the site of
        one uninterrupted run, byte for byte."""
        site = os.path.join(folder.name, "killed")
        run = subprocess.Popen([SITE, ARCHIVE, "-o", site, "-j", "1"], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
        try:
            for line in run.stderr:
                if ": built (" in line:
                    break
        finally:
            os.killpg(run.pid, signal.SIGKILL)
            run.wait()
            run.stderr.close()
        half = tree(site)
        self.assertLess(len([n for n in half if n.endswith(".png")]),
                        len([n for n in BUILT_TREE if n.endswith(".png")]))
        self.assertTrue(any(n.endswith(".png") for n in half))
        for _ in range(100):  # the killed workers' lock goes with them
            if run_site(ARCHIVE, site, "-j", "2", check=False).returncode != 3:
                break
            time.sleep(0.1)
        again = tree(site)
        self.assertEqual(sorted(again), sorted(BUILT_TREE))
        differ = [rel for rel in again if again[rel][1] != BUILT_TREE[rel][1]]
        self.assertEqual(differ, [])

    def test_lock(self):
        """A second run while the site is locked does nothing and says why."""
        archive = os.path.join(folder.name, "locked-archive")
        site = os.path.join(folder.name, "locked")
        shutil.copytree(ARCHIVE, archive)
        shutil.copytree(BUILT, site)
        os.utime(os.path.join(archive, "sample", "h02123a.mom"))  # something to do
        before = tree(site)
        with open(os.path.join(site, ".quellmar-site", "lock"), "a+") as lock:
            fcntl.flock(lock.fileno(), fcntl.LOCK_EX)
            lock.seek(0)
            lock.truncate()
            lock.write("process 12345\n")
            lock.flush()
            done = run_site(archive, site, check=False)
        self.assertEqual(done.returncode, 3)
        self.assertIn("is being updated by another run (process 12345); nothing done",
                      done.stderr)
        self.assertEqual(tree(site), before)
        done = run_site(archive, site, check=False)
        self.assertEqual(done.returncode, 0, done.stderr)


class Server:
    def __init__(self, root):
        handler = functools.partial(Quiet, directory=root)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def coloured_share(png_path):
    """The share of a screenshot's pixels that are clearly coloured
    (saturation above 0.35): the pictures' colour maps, not grey page."""
    import matplotlib.image
    rgb = matplotlib.image.imread(png_path)[..., :3]
    high, low = rgb.max(axis=2), rgb.min(axis=2)
    saturation = np.where(high > 0, (high - low) / np.maximum(high, 1e-6), 0)
    return float(np.mean(saturation > 0.35)), len(np.unique(
        (rgb * 255).astype(np.uint8).reshape(-1, 3), axis=0))


@unittest.skipIf(webdriver is None or not CHROMIUM or not CHROMEDRIVER, NO_BROWSER)
class Browser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(BUILT)
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--window-size=1280,1600", "--hide-scrollbars"):
            options.add_argument(arg)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        cls.driver.set_page_load_timeout(60)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.server.close()

    def console_errors(self):
        return [e["message"] for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]

    def test_every_page_reachable_links_images(self):
        """From the index by links: every page of the site, no link in
        error, every image loaded with its alt text, no console error, the
        language set and the headings in order."""
        d = self.driver
        start = self.server.url + "index.html"
        pages, queue, files = set(), [start], set()
        while queue:
            url = queue.pop()
            if url in pages:
                continue
            pages.add(url)
            d.get(url)
            self.assertEqual(d.execute_script("return document.documentElement.lang"), "en", url)
            levels = [int(h.tag_name[1]) for h in d.find_elements(By.CSS_SELECTOR,
                                                                  "h1, h2, h3, h4, h5, h6")]
            self.assertEqual(levels[0], 1, url)
            self.assertTrue(all(b - a <= 1 for a, b in zip(levels, levels[1:])), (url, levels))
            for img in d.find_elements(By.TAG_NAME, "img"):
                src = img.get_attribute("src")
                loaded = d.execute_script(
                    "return arguments[0].complete && arguments[0].naturalWidth > 0", img)
                self.assertTrue(loaded, src)
                self.assertGreater(len((img.get_attribute("alt") or "").strip()), 20, src)
            for a in d.find_elements(By.TAG_NAME, "a"):
                href = urllib.parse.urldefrag(a.get_attribute("href"))[0]
                self.assertTrue(href.startswith(self.server.url), href)  # nothing outside
                if href.endswith(".html"):
                    queue.append(href)
                else:
                    files.add(href)
            self.assertEqual(self.console_errors(), [], url)
        for href in sorted(files):
            with urllib.request.urlopen(href, timeout=30) as r:
                self.assertEqual(r.status, 200, href)
                self.assertTrue(r.read(16), href)
        on_disk = {self.server.url + rel for rel in BUILT_TREE if rel.endswith(".html")}
        self.assertEqual(pages, on_disk)
        self.assertEqual(len(on_disk), len(DAYS) + 2 + 1)  # days, two months, index

    def test_screenshots_and_phone_width(self):
        """The index and a day page are not blank (they show the pictures'
        colours), and read at phone width without sideways scrolling."""
        d = self.driver
        for name, page in (("index", "index.html"), ("day", "2002/05/04.html")):
            d.set_window_size(1280, 1600)
            d.get(self.server.url + page)
            path = os.path.join(BUILD, "site-%s.png" % name)
            self.assertTrue(d.save_screenshot(path))
            share, colours = coloured_share(path)
            self.assertGreater(share, 0.02, name)
            self.assertGreater(colours, 200, name)
            d.set_window_size(390, 844)
            d.get(self.server.url + page)
            wide = d.execute_script("return document.documentElement.scrollWidth")
            seen = d.execute_script("return document.documentElement.clientWidth")
            self.assertLessEqual(wide, seen, name)
            self.assertEqual(self.console_errors(), [], page)


if __name__ == "__main__":
    unittest.main()
