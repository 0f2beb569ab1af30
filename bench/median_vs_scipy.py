#!/usr/bin/python3
"""Runs the median filter bench next to scipy.ndimage.median_filter on the same noisy
signed 16-bit 128x128x60 channel, checks that both give the same voxels, and prints the
throughput ratio for each radius.

usage: bench/median_vs_scipy.py [path/to/median_bench] [radius ...]
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import scipy.ndimage as ndi

HERE = os.path.dirname(os.path.abspath(__file__))
BENCH = os.path.join(HERE, "..", "build", "bin", "median_bench")
X, Y, Z = 128, 128, 60
INT16 = 3


def ball(radius):
    """The spherical footprint: integer offsets with float32(d2) <= float32(r)*float32(r)."""
    r = np.float32(radius)
    n = int(r) + 1
    g = np.mgrid[-n:n + 1, -n:n + 1, -n:n + 1]
    return (g ** 2).sum(0).astype(np.float32) <= r * r


def cross_check(bench, tmp):
    """Small odd volumes, some thinner than the border, several types: identical voxels."""
    rng = np.random.default_rng(7)
    cases = [((9, 7, 5), np.uint8, 0), ((5, 4, 2), np.int16, 3), ((2, 3, 1), np.int16, 3),
             ((7, 6, 3), np.float32, 6), ((6, 5, 4), np.int32, 5)]
    for (x, y, z), dtype, code in cases:
        if np.issubdtype(dtype, np.integer):
            info = np.iinfo(dtype)
            v = rng.integers(max(info.min, -30000), min(info.max, 30000), (z, y, x)).astype(dtype)
        else:
            v = rng.normal(0.0, 100.0, (z, y, x)).astype(dtype)
        src, dst = os.path.join(tmp, "small.raw"), os.path.join(tmp, "small_out.raw")
        v.tofile(src)
        for radius in (1.0, 2.5):
            subprocess.run([bench, src, str(x), str(y), str(z), str(code), str(radius), "1", dst],
                           check=True, capture_output=True)
            mine = np.fromfile(dst, dtype=dtype).reshape(v.shape)
            ref = ndi.median_filter(v, footprint=ball(radius), mode="reflect")
            if not np.array_equal(mine, ref):
                print(f"cross-check {x}x{y}x{z} {np.dtype(dtype).name} r={radius}: DIFFERENT")
                return False
    print(f"cross-check against scipy mode='reflect': {len(cases)} small volumes x 2 radii identical")
    return True


def main():
    args = sys.argv[1:]
    bench = BENCH
    if args and not args[0].replace(".", "", 1).isdigit():
        bench = args.pop(0)
    radii = [float(a) for a in args] or [1.0, 2.5, 4.0]
    rng = np.random.default_rng(2026)
    # Smooth phantom (two spheres) plus Gaussian noise and a little salt.
    z, y, x = np.mgrid[0:Z, 0:Y, 0:X]
    phantom = 800.0 * (((x - 50) ** 2 + (y - 60) ** 2 + (z - 30) ** 2) < 30 ** 2)
    phantom += 400.0 * (((x - 90) ** 2 + (y - 70) ** 2 + (z - 25) ** 2) < 18 ** 2)
    noisy = phantom + rng.normal(1000.0, 150.0, phantom.shape)
    noisy[rng.random(phantom.shape) < 0.01] = 30000
    volume = np.clip(noisy, -32768, 32767).astype(np.int16)  # z, y, x: x fastest

    print(f"data: {X}x{Y}x{Z} signed 16-bit, workers 4 (ours) vs scipy single-threaded, "
          f"{os.cpu_count()} cores")
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "in.raw")
        dst = os.path.join(tmp, "out.raw")
        volume.tofile(src)
        if not cross_check(bench, tmp):
            return 1
        for radius in radii:
            fp = ball(radius)
            out = subprocess.run([bench, src, str(X), str(Y), str(Z), str(INT16), str(radius),
                                  "5", dst], check=True, capture_output=True, text=True).stdout
            fields = dict(f.split("=") for f in out.split())
            ours = float(fields["best_seconds"])
            best = None
            for _ in range(2 if radius <= 2.5 else 1):
                t0 = time.perf_counter()
                ref = ndi.median_filter(volume, footprint=fp, mode="reflect")
                t = time.perf_counter() - t0
                best = t if best is None else min(best, t)
            mine = np.fromfile(dst, dtype=np.int16).reshape(volume.shape)
            same = np.array_equal(mine, ref)
            print(f"radius {radius}: {fields['points']} points  ours {ours * 1000:.1f} ms  "
                  f"scipy {best * 1000:.1f} ms  ratio {best / ours:.1f}x  "
                  f"identical={'yes' if same else 'NO'}")
            if not same:
                print(f"  {np.count_nonzero(mine != ref)} voxels differ", file=sys.stderr)
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
