#!/usr/bin/env python3
"""Independent references for the voxel analysis tests, from numpy and scipy.

Each command reads the files a test wrote into DIR (volumes as raw little-endian blocks, x
fastest; meta.txt with "key value..." lines) and writes its answer back into DIR.
"""
import sys

import numpy as np
from scipy import ndimage
from scipy.spatial import cKDTree

SIX = ndimage.generate_binary_structure(3, 1)


def meta(d):
    out = {}
    with open(f"{d}/meta.txt") as f:
        for line in f:
            parts = line.split()
            if parts:
                out[parts[0]] = [float(v) for v in parts[1:]]
    return out


def volume(d, name, dtype, dims, channels=None):
    x, y, z = (int(v) for v in dims)
    a = np.fromfile(f"{d}/{name}", dtype=dtype)
    shape = (z, y, x) if channels is None else (channels, z, y, x)
    return a.reshape(shape)


def save(d, name, mask):
    mask.astype(np.uint8).tofile(f"{d}/{name}")


def grow(d):
    m = meta(d)
    dims = m["dims"]
    lo, hi, steps = m["lo"][0], m["hi"][0], int(m["steps"][0])
    values = volume(d, "values.i16", "<i2", dims)
    seeds = volume(d, "seed.u8", np.uint8, dims) == 1
    in_range = (values >= lo) & (values <= hi)
    seeds &= in_range
    interior = np.zeros_like(seeds)
    interior[1:-1, 1:-1, 1:-1] = True
    allowed = (in_range & interior) | seeds
    if steps == 0 or not seeds.any():
        out = seeds
    else:
        out = ndimage.binary_dilation(seeds, structure=SIX, iterations=steps, mask=allowed)
    save(d, "expected.u8", out)


def dilate(d):
    m = meta(d)
    mask = volume(d, "mask.u8", np.uint8, m["dims"]) != 0
    save(d, "expected.u8", ndimage.binary_dilation(mask, structure=SIX, border_value=0))


def erode(d):
    m = meta(d)
    mask = volume(d, "mask.u8", np.uint8, m["dims"]) != 0
    save(d, "expected.u8", ndimage.binary_erosion(mask, structure=SIX, border_value=1))


def stats(d):
    """Ordinary least squares of the log-signal ratios, then the validity rule."""
    m = meta(d)
    dims = m["dims"]
    b0 = int(m["b0"][0])
    b = np.array(m["bvals"])
    g = np.array(m["bvecs"]).reshape(-1, 3)
    channels = len(b)
    dwi = volume(d, "dwi.i16", "<i2", dims, channels).astype(np.float64)
    mask = volume(d, "mask.u8", np.uint8, dims) == 1
    gd = g[b0:]
    design = np.column_stack([gd[:, 0] ** 2, gd[:, 1] ** 2, gd[:, 2] ** 2,
                              2 * gd[:, 0] * gd[:, 1], 2 * gd[:, 1] * gd[:, 2],
                              2 * gd[:, 2] * gd[:, 0]])
    pinv = np.linalg.pinv(design)
    rows = []
    voxels = 0
    for z, y, x in zip(*np.nonzero(mask)):
        voxels += 1
        s = dwi[:, z, y, x]
        s0 = s[:b0].mean()
        with np.errstate(all="ignore"):
            yv = -np.log(s[b0:] / s0) / b[b0:]
        if not np.all(np.isfinite(yv)):
            continue
        dxx, dyy, dzz, dxy, dyz, dzx = pinv @ yv
        tensor = np.array([[dxx, dxy, dzx], [dxy, dyy, dyz], [dzx, dyz, dzz]])
        lam = np.sort(np.linalg.eigvalsh(tensor))[::-1]
        md = lam.mean()
        fa = np.sqrt(1.5) * np.sqrt(((lam - md) ** 2).sum() / (lam ** 2).sum())
        if not (np.all(lam > 0) and 0 <= fa <= 1):
            continue
        rows.append([s0, fa, md, lam[0], lam[1], lam[2], dxx, dyy, dzz, dxy, dyz, dzx])
    with open(f"{d}/expected.txt", "w") as f:
        f.write(f"{voxels} {len(rows)}\n")
        if rows:
            a = np.array(rows)
            for p in range(12):
                col = a[:, p]
                f.write(f"{col.min():.17g} {col.max():.17g} {col.mean():.17g} "
                        f"{col.std(ddof=0):.17g}\n")


def distance(d):
    m = meta(d)
    dims = m["dims"]
    size = np.array(m["voxel_size"])
    points = []
    for name in ("a.u8", "b.u8"):
        mask = volume(d, name, np.uint8, dims) != 0
        surface = mask & ~ndimage.binary_erosion(mask, structure=SIX, border_value=0)
        zyx = np.argwhere(surface)
        points.append(zyx[:, ::-1] * size)
    dist, _ = cKDTree(points[1]).query(points[0])
    with open(f"{d}/expected.txt", "w") as f:
        f.write(f"{dist.min():.17g}\n")


if __name__ == "__main__":
    {"grow": grow, "dilate": dilate, "erode": erode, "stats": stats,
     "distance": distance}[sys.argv[1]](sys.argv[2])
