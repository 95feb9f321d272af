#!/usr/bin/python3
"""Reference values for the cubic-spline tests, from scipy's CubicSpline.

Writes spline_reference.txt: for each case a line
  case <name> <n knots> <m points> <left end> <right end>
(an end is a first-derivative value, or "natural"), then n lines "x y y''"
with the spline's second derivative at each knot, then m lines "x value".
Run with /usr/bin/python3 from this directory.
"""
import numpy as np
from scipy.interpolate import CubicSpline

rng = np.random.default_rng(20261210)


def end(condition):
    return (2, 0.0) if condition == "natural" else (1, float(condition))


def write_case(out, name, x, y, left, right):
    cs = CubicSpline(x, y, bc_type=(end(left), end(right)))
    pts = np.concatenate([np.linspace(x[0] - 0.7, x[-1] + 0.9, 23), x[1:-1]])
    out.write(f"case {name} {len(x)} {len(pts)} {left} {right}\n")
    for xi, yi, d2 in zip(x, y, cs(x, 2)):
        out.write(f"{xi!r} {yi!r} {float(d2)!r}\n")
    for p in pts:
        out.write(f"{float(p)!r} {float(cs(p))!r}\n")


with open("spline_reference.txt", "w") as out:
    x = np.cumsum(rng.uniform(0.3, 2.0, 9))
    y = rng.normal(0.0, 3.0, 9)
    write_case(out, "clamped", x, y, "0.75", "-2.5")
    write_case(out, "natural", x, y, "natural", "natural")
    write_case(out, "mixed", x[:5], y[:5], "natural", "1.25")
    write_case(out, "two_knots_clamped", np.array([1.0, 3.0]), np.array([2.0, -1.0]), "0.5", "3")
