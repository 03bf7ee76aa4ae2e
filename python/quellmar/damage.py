"""Damage findings of a file pair as warnings that name the caller's line."""

import os
import sys
import warnings

import xarray

from quellmar.errors import QuellmarDamageWarning

DAMAGE = ("raise", "warn", "ignore")

# Frames in these folders are the readers', not the caller's.
_OWN = tuple(os.path.dirname(os.path.abspath(m.__file__)) + os.sep
             for m in (sys.modules["quellmar"], xarray))


def check_on_damage(on_damage):
    if on_damage not in DAMAGE:
        raise ValueError("on_damage must be one of %s" % ", ".join(DAMAGE))


def _caller_level():
    """The stacklevel for warnings.warn called in the function that calls
    this one: the first frame outside quellmar and xarray."""
    frame = sys._getframe(1)
    level = 1
    while frame is not None and os.path.abspath(frame.f_code.co_filename).startswith(_OWN):
        frame = frame.f_back
        level += 1
    return level


def warn_damage(path, lines, count):
    """A QuellmarDamageWarning per finding kept, and one for the rest."""
    level = _caller_level()
    for line in lines:
        warnings.warn(line, QuellmarDamageWarning, stacklevel=level)
    more = count - len(lines)
    if more > 0:
        warnings.warn("%s: %d more finding(s); quellmar.inspect lists them all" % (path, more),
                      QuellmarDamageWarning, stacklevel=level)
