"""Files of the site: each written under a temporary name beside its place
and renamed, so that a reader sees the old file or the new one, never half
of one; and the lock that keeps two runs apart."""

import fcntl
import os
import tempfile

TEMPORARY_MARK = ".tmp-"


class SiteLocked(Exception):
    """Another run holds the site's lock."""


def write_bytes(path, data):
    """Writes data to path through a temporary file in the same folder."""
    folder = os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, exist_ok=True)
    handle, temporary = tempfile.mkstemp(prefix="." + os.path.basename(path) + TEMPORARY_MARK,
                                         dir=folder)
    try:
        with os.fdopen(handle, "wb") as f:
            f.write(data)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def write_if_changed(path, text):
    """Writes text (UTF-8) unless path already holds it; True if written.
    Pages that stay the same keep their time, so a web server's caches and
    a mirror's copy stay valid."""
    data = text.encode("utf-8")
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return False
    except OSError:
        pass
    write_bytes(path, data)
    return True


def remove_temporaries(folder):
    """Removes what a killed run left half written (files named
    .NAME.tmp-XXXX) under folder."""
    for top, _, names in os.walk(folder):
        for name in names:
            if name.startswith(".") and TEMPORARY_MARK in name:
                try:
                    os.unlink(os.path.join(top, name))
                except OSError:
                    pass


def take_lock(path):
    """Opens and locks path (fcntl, released when the process ends, even
    killed). Returns the open file, to be kept for the run. Raises
    SiteLocked naming the holder when another run has it."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    f = open(path, "a+")
    try:
        fcntl.flock(f.fileno(), fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        f.seek(0)
        holder = f.read().strip()
        f.close()
        raise SiteLocked(holder) from None
    f.seek(0)
    f.truncate()
    f.write("process %d\n" % os.getpid())
    f.flush()
    return f
