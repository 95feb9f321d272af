"""Independent rendering of the binned-spline absorption fit for the tests.

Usage: fit_abs_binspline_reference.py dir prefix options x1 x2 y1 y2 step radius cx cy
options is a word made of h (binsplinedez), m (binspline) and c (constant sky). Reads dir/R.fits
and dir/I.fits (all pixels positive, none masked), renders the plane fit on the box means, the
61-pixel cell means, the cell formulas, the knots and the bicubic spline, and compares A and S
with dir/abs-<prefix>I.fits and dir/sky-<prefix>I.fits to 2e-5 relative.
"""
import os
import sys

import numpy as np
from astropy.io import fits

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from binspline_reference import cell_means, knot_grid, spline_surface  # noqa: E402
from very_new_reference import box_means  # noqa: E402


def main():
    d, prefix, options = sys.argv[1:4]
    x1, x2, y1, y2, step, r, cx, cy = map(int, sys.argv[4:12])
    R = fits.getdata(f"{d}/R.fits").astype(float).T
    I = fits.getdata(f"{d}/I.fits").astype(float).T
    nx, ny = R.shape
    x, y, mR, mI = box_means(R, I, x1, x2, y1, y2, step, r, nx, ny).T
    dx, dy = x - cx, y - cy
    if "c" in options:
        D = np.column_stack([mR, np.ones_like(mR)])
        p = list(np.linalg.lstsq(D, mI, rcond=None)[0]) + [0.0, 0.0]
    else:
        D = np.column_stack([mR, np.ones_like(mR), dx, dy])
        p = list(np.linalg.lstsq(D, mI, rcond=None)[0])
    p1, p2, p3, p4 = p
    means, _ = cell_means(R, I, cx, cy, 30)
    G = {}
    for (k, l), (m1, m2) in means.items():
        if m2 == 0:
            continue
        plane = p2 + p3 * (61 * k) + p4 * (61 * l)
        if "m" in options:
            G[(k, l)] = (m1 * p1 + plane) / m2
        if "h" in options:
            G[(k, l)] = m1 * p1 / (m2 - plane)
    _, ranges, Z, _ = knot_grid(G)
    Zs = spline_surface(Z, ranges, cx, cy, 61, nx, ny)
    xp = np.arange(1, nx + 1, dtype=float)[:, None] - cx
    yp = np.arange(1, ny + 1, dtype=float)[None, :] - cy
    plane = p2 + p3 * xp + p4 * yp
    A_ref = Zs / p1
    S_ref = plane * Zs / p1 if "h" in options else plane / p1 + 0 * Zs
    A = fits.getdata(f"{d}/abs-{prefix}I.fits").astype(float).T
    S = fits.getdata(f"{d}/sky-{prefix}I.fits").astype(float).T
    failures = []
    for name, got, want in (("A", A, A_ref), ("S", S, S_ref)):
        rel = np.abs(got - want).max() / np.abs(want).max()
        print(name, "max relative difference", rel)
        if not rel < 2e-5:
            failures.append(f"{name} differs by {rel} relative")
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
