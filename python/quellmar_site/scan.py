"""The archive's data files: which there are, their fingerprints, the date
their names carry, and the manifest that remembers them.

A data file is named d<year><day of year><letter>.mom or .spc (year of two
digits, 70 to 99 for 19xx, or three counted from 1900; day 1 is 1 January)
and has its header file beside it, h in place of the d. Its fingerprint is
its size, its modification time and a hash of its first and last blocks:
a file that grows, is written again, touched or copied over has another.
"""

import datetime
import hashlib
import json
import os
import re

from quellmar_site.files import write_bytes

BLOCK_BYTES = 4096
DATA_NAME = re.compile(r"^[dD].*\.(mom|spc|MOM|SPC)$")
MANIFEST_VERSION = 1


def name_date(name):
    """The date a data file's name carries, or None."""
    letter = name.find("a")
    if letter < 0:
        letter = name.find("A")
    if letter not in (6, 7):
        return None
    digits = name[1:letter]
    if not digits.isdigit():
        return None
    year, day = int(digits[:-3]), int(digits[-3:])
    if year < 70:
        year += 100
    try:
        return datetime.date(1900 + year, 1, 1) + datetime.timedelta(days=day - 1)
    except (ValueError, OverflowError):
        return None


def header_of(path):
    folder, name = os.path.split(path)
    return os.path.join(folder, "h" + name[1:])


def data_files(archive):
    """Relative paths of the data files under archive (subfolders too),
    sorted; hidden folders are passed over."""
    found = []
    for top, folders, names in os.walk(archive):
        folders[:] = sorted(f for f in folders if not f.startswith("."))
        for name in names:
            if DATA_NAME.match(name):
                found.append(os.path.relpath(os.path.join(top, name), archive))
    return sorted(found)


def fingerprint(path):
    """{size, mtime_ns, hash} of a data file (its header file's size and
    time count too: a header rewritten changes the pair)."""
    st = os.stat(path)
    digest = hashlib.blake2b(digest_size=16)
    with open(path, "rb") as f:
        digest.update(f.read(BLOCK_BYTES))
        if st.st_size > BLOCK_BYTES:
            f.seek(max(BLOCK_BYTES, st.st_size - BLOCK_BYTES))
            digest.update(f.read(BLOCK_BYTES))
    try:
        h = os.stat(header_of(path))
        header = [h.st_size, h.st_mtime_ns]
    except OSError:
        header = None
    return {"size": st.st_size, "mtime_ns": st.st_mtime_ns, "hash": digest.hexdigest(),
            "header": header}


def same_file(a, b):
    keys = ("size", "mtime_ns", "hash", "header")
    return a is not None and b is not None and all(a.get(k) == b.get(k) for k in keys)


def empty_manifest():
    return {"version": MANIFEST_VERSION, "options": None, "files": {}, "days": {},
            "pages_current": False}


def load_manifest(path):
    """The manifest of the last run, or an empty one (none yet, another
    version, or unreadable: then everything is built again)."""
    try:
        with open(path, encoding="utf-8") as f:
            manifest = json.load(f)
    except (OSError, ValueError):
        return empty_manifest()
    if not isinstance(manifest, dict) or manifest.get("version") != MANIFEST_VERSION:
        return empty_manifest()
    return manifest


def save_manifest(path, manifest):
    write_bytes(path, json.dumps(manifest, indent=1, sort_keys=True).encode("utf-8"))


def days_between(first, last):
    """ISO dates from first to last (ISO texts), both included."""
    d = datetime.date.fromisoformat(first)
    end = datetime.date.fromisoformat(last)
    out = []
    while d <= end:
        out.append(d.isoformat())
        d += datetime.timedelta(days=1)
    return out
