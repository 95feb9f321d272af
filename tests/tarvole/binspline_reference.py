"""Independent rendering of the binned spline surface for the tests.

Usage: binspline_reference.py X.fits Y.fits surface.fits stdout.txt name rb cx cy
Computes the cells, the cell values, the occupied box, the knot ranges, the knots (3 x 3
medians skipping blank, widening windows) and a natural bicubic spline (scipy CubicSpline along
y for each knot column, then along x), compares the surface with surface.fits (1e-3 counts)
and the printed ranges with stdout.txt. Exit status 0 when everything agrees.
The functions serve the other surface references too.
"""
import sys

import numpy as np
from astropy.io import fits
from scipy.interpolate import CubicSpline

BLANK = np.float64(np.float32(1e20))


def trunc_div(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b > 0) else -q


def cell_range(c, n, d):
    return -(trunc_div(c - 1 - d, d) + 1), trunc_div(d + n - c, d) + 1


def cell_means(X, Y, cx, cy, rb):
    """{(kx, ky): (mx, my)} for the cells with more than d*d/3 usable pixels."""
    nx, ny = Y.shape
    d = 2 * rb + 1
    kx0, kx1 = cell_range(cx, nx, d)
    ky0, ky1 = cell_range(cy, ny, d)
    ii, jj = np.meshgrid(np.arange(-rb, rb + 1), np.arange(-rb, rb + 1), indexing="ij")
    inside = ii * ii + jj * jj < rb * (rb + 1)
    usable = (X != BLANK) & (Y != BLANK)
    means = {}
    for ky in range(ky0, ky1 + 1):
        for kx in range(kx0, kx1 + 1):
            px, py = cx + kx * d + ii, cy + ky * d + jj
            ok = inside & (px >= 1) & (px <= nx) & (py >= 1) & (py <= ny)
            sx, sy = px[ok] - 1, py[ok] - 1
            u = usable[sx, sy]
            n = int(u.sum())
            if n > d * d // 3:
                means[(kx, ky)] = (X[sx, sy][u].sum() / n, Y[sx, sy][u].sum() / n)
    return means, (kx0, kx1, ky0, ky1)


def knot_grid(G):
    """Knot ranges and values from the cell values G {(kx, ky): value}."""
    cols = sorted({k for k, _ in G})
    rows = sorted({l for _, l in G})
    ix0, ix1, iy0, iy1 = cols[0], cols[-1], rows[0], rows[-1]
    ceil3 = lambda v: -((-v) // 3)
    px0 = ceil3(ix0) if ix0 <= 0 else 1
    px1 = ix1 // 3 if ix1 >= 0 else -1
    py0 = ceil3(iy0) if iy0 <= 0 else 1
    py1 = iy1 // 3 if iy1 >= 0 else -1
    widen = 0
    Z = np.zeros((px1 - px0 + 1, py1 - py0 + 1))
    for q in range(py0, py1 + 1):
        for p in range(px0, px1 + 1):
            window = lambda h: [G[(3 * p + i, 3 * q + j)] for j in range(-h, h + 1) for i in range(-h, h + 1)
                                if (3 * p + i, 3 * q + j) in G]
            # The widening tries h = 1..10 (h = 1 repeats the first window), one line each.
            vals, h = window(1), 0
            while not vals and h < 10:
                h += 1
                widen += 1
                vals = window(h)
            Z[p - px0, q - py0] = np.median(vals) if vals else np.nan
    if np.isnan(Z).any():
        Z[np.isnan(Z)] = np.median(Z[~np.isnan(Z)])
    return (ix0, ix1, iy0, iy1), (px0, px1, py0, py1), Z, widen


def spline_surface(Z, ranges, cx, cy, d, nx, ny):
    px0, px1, py0, py1 = ranges
    xs = np.array([cx + 3 * p * d for p in range(px0, px1 + 1)], dtype=float)
    ys = np.array([cy + 3 * q * d for q in range(py0, py1 + 1)], dtype=float)
    xpix = np.arange(1, nx + 1, dtype=float)
    ypix = np.arange(1, ny + 1, dtype=float)
    along_y = CubicSpline(ys, Z.T, axis=0, bc_type="natural")(ypix)  # (ny, nkx)
    return CubicSpline(xs, along_y.T, axis=0, bc_type="natural")(xpix)  # (nx, ny)


def main():
    xf, yf, sf, text, name, rb, cx, cy = sys.argv[1:9]
    rb, cx, cy = int(rb), int(cx), int(cy)
    X = fits.getdata(xf).astype(np.float64).T  # X[x-1, y-1]
    Y = fits.getdata(yf).astype(np.float64).T
    S = fits.getdata(sf).astype(np.float64).T
    nx, ny = Y.shape
    means, _ = cell_means(X, Y, cx, cy, rb)
    G = {k: (mx / my if name == "abs" else my - mx) for k, (mx, my) in means.items() if my != 0}
    box, ranges, Z, widen = knot_grid(G)
    printed = open(text).read()
    failures = []
    for label, value in zip(("ix0", "ix1", "iy0", "iy1", "px0", "px1", "py0", "py1"), box + ranges):
        if f" {label} = {value}\n" not in printed:
            failures.append(f"{label} = {value} not printed")
    if printed.count("h: ") != widen:
        failures.append(f"{printed.count('h: ')} widening lines, expected {widen}")
    ref = spline_surface(Z, ranges, cx, cy, 2 * rb + 1, nx, ny)
    diff = np.abs(ref - S).max()
    if not diff <= 1e-3:
        failures.append(f"surface differs by {diff}")
    print(f"cells {len(G)} knots {Z.size} widened {widen} max diff {diff}")
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
