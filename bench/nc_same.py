#!/usr/bin/env python3
"""Compares two netCDF files as a reader sees them.

Usage: nc_same.py A.nc B.nc

Every variable of either file must be in both with the same dimensions,
type, values (bit for bit, fill values and NaN included), attributes,
chunk shape and filters (shuffle, deflate and its level); the global
attributes and dimensions must match too. Prints the differences and the
two file sizes; exits 1 when there is a difference, 0 when none.
"""

import os
import sys

import netCDF4
import numpy as np


def attributes(obj):
    return {name: obj.getncattr(name) for name in obj.ncattrs()}


def same_value(a, b):
    a = np.asarray(a)
    b = np.asarray(b)
    if a.dtype != b.dtype or a.shape != b.shape:
        return False
    if a.dtype.kind in "fiu":
        return a.tobytes() == b.tobytes()
    return bool(np.all(a == b))


def compare(path_a, path_b):
    found = []
    a = netCDF4.Dataset(path_a)
    b = netCDF4.Dataset(path_b)
    for ds in (a, b):
        ds.set_auto_maskandscale(False)
    dims_a = {n: len(d) for n, d in a.dimensions.items()}
    dims_b = {n: len(d) for n, d in b.dimensions.items()}
    if dims_a != dims_b:
        found.append(f"dimensions: {dims_a} / {dims_b}")
    ga, gb = attributes(a), attributes(b)
    for name in sorted(set(ga) | set(gb)):
        if name not in ga or name not in gb or not same_value(ga[name], gb[name]):
            found.append(f"global attribute {name}: {ga.get(name)!r} / {gb.get(name)!r}")
    for name in sorted(set(a.variables) | set(b.variables)):
        if name not in a.variables or name not in b.variables:
            found.append(f"variable {name} in one file only")
            continue
        va, vb = a.variables[name], b.variables[name]
        if va.dimensions != vb.dimensions or va.dtype != vb.dtype:
            found.append(f"{name}: {va.dimensions} {va.dtype} / {vb.dimensions} {vb.dtype}")
            continue
        if va.chunking() != vb.chunking():
            found.append(f"{name}: chunks {va.chunking()} / {vb.chunking()}")
        fa, fb = va.filters() or {}, vb.filters() or {}
        for key in ("zlib", "shuffle", "complevel"):
            if fa.get(key) != fb.get(key):
                found.append(f"{name}: filter {key} {fa.get(key)} / {fb.get(key)}")
        aa, ab = attributes(va), attributes(vb)
        for att in sorted(set(aa) | set(ab)):
            if att not in aa or att not in ab or not same_value(aa[att], ab[att]):
                found.append(f"{name}: attribute {att}: {aa.get(att)!r} / {ab.get(att)!r}")
        if not same_value(va[...], vb[...]):
            found.append(f"{name}: values differ")
    a.close()
    b.close()
    return found


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    found = compare(sys.argv[1], sys.argv[2])
    sizes = [os.path.getsize(p) for p in sys.argv[1:3]]
    for line in found:
        print(line)
    print(f"{'differ' if found else 'same'}: {sizes[0]} / {sizes[1]} bytes "
          f"({sizes[1] / sizes[0]:.4f})")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
