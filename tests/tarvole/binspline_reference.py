"""Independent rendering of the binned spline surface for the tests.

Usage: binspline_reference.py X.fits Y.fits surface.fits stdout.txt name rb cx cy
Computes the cells, the cell values, the occupied box, the knot ranges, the knots (3 x 3
medians skipping blank, widening windows) and a natural bicubic spline (scipy CubicSpline along
y for each knot column, then along x), compares the surface with surface.fits (1e-3 counts)
and the printed ranges with stdout.txt. Exit status 0 when everything agrees.
"""
import sys

import numpy as np
from astropy.io import fits
from scipy.interpolate import CubicSpline

BLANK = np.float64(np.float32(1e20))


def trunc_div(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b > 0) else -q


def main():
    xf, yf, sf, text, name, rb, cx, cy = sys.argv[1:9]
    rb, cx, cy = int(rb), int(cx), int(cy)
    X = fits.getdata(xf).astype(np.float64).T  # X[x-1, y-1]
    Y = fits.getdata(yf).astype(np.float64).T
    S = fits.getdata(sf).astype(np.float64).T
    nx, ny = Y.shape
    d = 2 * rb + 1
    kxmin = -(trunc_div(cx - 1 - d, d) + 1)
    kxmax = trunc_div(d + nx - cx, d) + 1
    kymin = -(trunc_div(cy - 1 - d, d) + 1)
    kymax = trunc_div(d + ny - cy, d) + 1
    ii, jj = np.meshgrid(np.arange(-rb, rb + 1), np.arange(-rb, rb + 1), indexing="ij")
    inside = ii * ii + jj * jj < rb * (rb + 1)
    usable = (X != BLANK) & (Y != BLANK)
    G = {}
    xc = {k: cx + k * d for k in range(kxmin, kxmax + 1)}
    yc = {k: cy + k * d for k in range(kymin, kymax + 1)}
    for ky in range(kymin, kymax + 1):
        for kx in range(kxmin, kxmax + 1):
            px = xc[kx] + ii
            py = yc[ky] + jj
            ok = inside & (px >= 1) & (px <= nx) & (py >= 1) & (py <= ny)
            sx, sy = px[ok] - 1, py[ok] - 1
            u = usable[sx, sy]
            n = int(u.sum())
            if n <= d * d // 3:
                continue
            mx = X[sx, sy][u].sum() / n
            my = Y[sx, sy][u].sum() / n
            if my == 0:
                continue
            G[(kx, ky)] = mx / my if name == "abs" else my - mx
    cols = sorted({k for k, _ in G})
    rows = sorted({l for _, l in G})
    ix0, ix1, iy0, iy1 = cols[0], cols[-1], rows[0], rows[-1]
    ceil3 = lambda v: -((-v) // 3)
    px0 = ceil3(ix0) if ix0 <= 0 else 1
    px1 = ix1 // 3 if ix1 >= 0 else -1
    py0 = ceil3(iy0) if iy0 <= 0 else 1
    py1 = iy1 // 3 if iy1 >= 0 else -1
    printed = open(text).read()
    failures = []
    for label, value in [("ix0", ix0), ("ix1", ix1), ("iy0", iy0), ("iy1", iy1), ("px0", px0), ("px1", px1),
                         ("py0", py0), ("py1", py1)]:
        if f" {label} = {value}\n" not in printed:
            failures.append(f"{label} = {value} not printed")
    widen = 0
    Z = np.zeros((px1 - px0 + 1, py1 - py0 + 1))
    for q in range(py0, py1 + 1):
        for p in range(px0, px1 + 1):
            vals = [G[(3 * p + i, 3 * q + j)] for j in (-1, 0, 1) for i in (-1, 0, 1)
                    if (3 * p + i, 3 * q + j) in G]
            h = 0
            while not vals and h < 10:
                h += 1
                widen += 1
                vals = [G[(3 * p + i, 3 * q + j)] for j in range(-h, h + 1) for i in range(-h, h + 1)
                        if (3 * p + i, 3 * q + j) in G]
            Z[p - px0, q - py0] = np.median(vals) if vals else np.nan
    if np.isnan(Z).any():
        Z[np.isnan(Z)] = np.median(Z[~np.isnan(Z)])
    if printed.count("h: ") != widen:
        failures.append(f"{printed.count('h: ')} widening lines, expected {widen}")
    xs = np.array([cx + 3 * p * d for p in range(px0, px1 + 1)], dtype=float)
    ys = np.array([cy + 3 * q * d for q in range(py0, py1 + 1)], dtype=float)
    xpix = np.arange(1, nx + 1, dtype=float)
    ypix = np.arange(1, ny + 1, dtype=float)
    # Along y for each knot column, then along x.
    along_y = CubicSpline(ys, Z.T, axis=0, bc_type="natural", extrapolate=True)(ypix)  # (ny, nkx)
    ref = CubicSpline(xs, along_y.T, axis=0, bc_type="natural", extrapolate=True)(xpix)  # (nx, ny)
    diff = np.abs(ref - S).max()
    if not diff <= 1e-3:
        failures.append(f"surface differs by {diff}")
    print(f"cells {len(G)} knots {Z.size} widened {widen} max diff {diff}")
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


main()
