"""The extension module quellmar._pairs, when pip installs the package.

pyproject.toml holds the package's metadata; this file only adds the
extension, built from the project's C++ sources beside this folder (the
access module and the methods library's code that reads pairs). The source lists
are read from the CMakeLists.txt files, the one place that names them.
Without those sources (a copy of python/ alone) or without pybind11 (Debian
python3-pybind11), the package installs without the extension, and
open_pair and inspect say that it is missing.
"""

import os
import re

from setuptools import Extension, setup

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)

# (folder of the CMakeLists.txt, the target whose sources the extension takes)
TARGETS = [
    ("", "quellmar_disk"),
    ("methods", "quellmar_companion_core"),
    ("methods", "quellmar_info_core"),
    ("methods", "quellmar_nc_plan"),
    ("python", "quellmar_pairs"),
]


def target_sources(folder, target):
    """The .cpp files a CMake target lists, as paths relative to HERE."""
    with open(os.path.join(TOP, folder, "CMakeLists.txt"), encoding="utf-8") as f:
        text = f.read()
    found = re.search(r"\(\s*%s\s+(?:STATIC|MODULE)\s+([^)]*)\)" % re.escape(target), text)
    if not found:
        raise LookupError("%s/CMakeLists.txt lists no sources for %s" % (folder or ".", target))
    names = [n for n in found.group(1).split() if n.endswith(".cpp")]
    return [os.path.relpath(os.path.join(TOP, folder, n), HERE) for n in names]


def extensions():
    try:
        import pybind11
    except ImportError:
        print("quellmar: pybind11 not found: installing without quellmar._pairs")
        return []
    try:
        sources = [s for folder, target in TARGETS for s in target_sources(folder, target)]
    except (OSError, LookupError) as e:
        print("quellmar: the C++ sources are not beside python/ (%s): "
              "installing without quellmar._pairs" % e)
        return []
    return [Extension("quellmar._pairs", sources=sources, language="c++",
                      include_dirs=[TOP, pybind11.get_include()],
                      extra_compile_args=["-std=c++20", "-O2"], optional=True)]


setup(ext_modules=extensions())
