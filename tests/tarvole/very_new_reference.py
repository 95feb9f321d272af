"""Independent rendering of the sampling-grid fit with gradients for the tests.

Usage: very_new_reference.py dir mode x1 x2 y1 y2 step radius cx cy [prefix]
Reads dir/R.fits and dir/I.fits (no pixel is masked: all are positive), forms the box means on
the grid, solves the model mI (1 + b3 dx + b4 dy) = b1 mR + b2 + b5 dx + b6 dy for the unknowns
of the mode (fitnew, const, const_abs, verynew) with numpy's least squares, and compares the
coefficient cards of dir/<prefix>I.fits to 1e-6 relative; fixed ones must be exactly 0.
With the mode "surface" it instead checks S = (b2 + b5 dx + b6 dy + Q) / b1 against
dir/sky-bI.fits, with Q the natural bicubic spline through the knots of dir/skygrid.fits.
"""
import re
import sys

import numpy as np
from astropy.io import fits
from scipy.interpolate import CubicSpline


def box_means(R, I, x1, x2, y1, y2, step, r, nx, ny):
    ii, jj = np.meshgrid(np.arange(-r, r + 1), np.arange(-r, r + 1), indexing="ij")
    inside = ii * ii + jj * jj < r * (r + 1)
    pts = []
    for y in range(y1, y2 + 1, step):
        for x in range(x1, x2 + 1, step):
            px, py = x + ii, y + jj
            ok = inside & (px >= 1) & (px <= nx) & (py >= 1) & (py <= ny)
            sx, sy = px[ok] - 1, py[ok] - 1
            if sx.size == 0:
                continue
            mR, mI = R[sx, sy].mean(), I[sx, sy].mean()
            if mR != 0 and mI != 0:
                pts.append((x, y, mR, mI))
    return np.array(pts)


def main():
    d, mode = sys.argv[1], sys.argv[2]
    x1, x2, y1, y2, step, r, cx, cy = map(int, sys.argv[3:11])
    prefix = sys.argv[11] if len(sys.argv) > 11 else "b"
    h = fits.getheader(f"{d}/{prefix}I.fits")
    c = [h[k] for k in ("ABSORP", "NSKY", "NSKYDX", "NSKYDY", "ABSIDX", "ABSIDY")]
    failures = []
    if mode == "surface":
        b1 = 1 / c[0]
        b2, b5, b6 = c[1] * b1, c[2] * b1, c[3] * b1
        text = open(f"{d}/stdout.txt").read()
        # The second surface's knot ranges: the last "median spline grid" block.
        ranges = re.findall(r" px0 = (-?\d+)\n px1 = (-?\d+)\n py0 = (-?\d+)\n py1 = (-?\d+)", text)[-1]
        px0, px1, py0, py1 = map(int, ranges)
        Z = fits.getdata(f"{d}/skygrid.fits").astype(float).T  # Z[p, q]
        dcell = 61
        xs = np.array([cx + 3 * p * dcell for p in range(px0, px1 + 1)], float)
        ys = np.array([cy + 3 * q * dcell for q in range(py0, py1 + 1)], float)
        S = fits.getdata(f"{d}/sky-bI.fits").astype(float).T
        nx, ny = S.shape
        xp, yp = np.arange(1, nx + 1, dtype=float), np.arange(1, ny + 1, dtype=float)
        along_y = CubicSpline(ys, Z.T, axis=0, bc_type="natural")(yp)
        Q = CubicSpline(xs, along_y.T, axis=0, bc_type="natural")(xp)
        dx = xp[:, None] - cx
        dy = yp[None, :] - cy
        ref = (b2 + b5 * dx + b6 * dy + Q) / b1
        diff = np.abs(ref - S).max()
        if not diff < 1e-3:
            failures.append(f"sky differs from the knot surface by {diff}")
        print("surface max diff", diff)
    else:
        R = fits.getdata(f"{d}/R.fits").astype(float).T
        I = fits.getdata(f"{d}/I.fits").astype(float).T
        nx, ny = R.shape
        pts = box_means(R, I, x1, x2, y1, y2, step, r, nx, ny)
        x, y, mR, mI = pts.T
        dx, dy = x - cx, y - cy
        basis = {1: mR, 2: np.ones_like(mR), 3: -dx * mI, 4: -dy * mI, 5: dx, 6: dy}
        free = {"fitnew": [1, 2, 5, 6], "const": [1, 2], "const_abs": [1, 2, 3, 4], "verynew": [1, 2, 3, 4, 5, 6]}[mode]
        D = np.column_stack([basis[k] for k in free])
        sol, *_ = np.linalg.lstsq(D, mI, rcond=None)
        b = dict.fromkeys(range(1, 7), 0.0)
        b.update(zip(free, sol))
        expected = [1 / b[1], b[2] / b[1], b[5] / b[1], b[6] / b[1], b[3], b[4]]
        for i, (got, want) in enumerate(zip(c, expected), 1):
            if want == 0.0:
                if got != 0.0:
                    failures.append(f"c({i}) = {got}, expected exactly 0")
            elif abs(got - want) > 1e-6 * abs(want):
                failures.append(f"c({i}) = {got}, numpy {want}")
        print(mode, "points", len(pts), "c", c)
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
