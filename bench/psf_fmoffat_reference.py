# Reference timing for bench_psf_fmoffat: scipy's curve_fit with the analytic
# Jacobian of the elliptical Moffat on a tilted sky, on the stamp file given
# (columns i, j, value, error), from the start values given on the command
# line (ten numbers). Prints "scipy_curve_fit seconds" (best of 20).
import sys
import time

import numpy as np
from scipy.optimize import curve_fit

i, j, z, e = np.loadtxt(sys.argv[1], unpack=True)
p0 = [float(v) for v in sys.argv[2:12]]


def model(X, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10):
    x, y = X
    dx, dy = x - a5, y - a6
    c, s = np.cos(a7), np.sin(a7)
    u, v = dx * c + dy * s, dy * c - dx * s
    return a1 + a9 * x + a10 * y + a2 * (1 + (a3 * u) ** 2 + (a4 * v) ** 2) ** (-a8)


def jac(X, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10):
    x, y = X
    dx, dy = x - a5, y - a6
    c, s = np.cos(a7), np.sin(a7)
    u, v = dx * c + dy * s, dy * c - dx * s
    B = 1 + (a3 * u) ** 2 + (a4 * v) ** 2
    Q = B ** (-a8)
    P = Q / B
    k = 2 * a2 * a8 * P
    return np.column_stack([np.ones_like(x), Q, -k * a3 * u * u, -k * a4 * v * v,
                            -k * (a4 * a4 * v * s - a3 * a3 * u * c), k * (a3 * a3 * u * s + a4 * a4 * v * c),
                            -k * u * v * (a3 * a3 - a4 * a4), -a2 * np.log(B) * Q, x, y])


best = float('inf')
for _ in range(20):
    t0 = time.perf_counter()
    curve_fit(model, (i, j), z, p0=p0, sigma=e, absolute_sigma=True, jac=jac, maxfev=10000)
    best = min(best, time.perf_counter() - t0)
print('scipy_curve_fit', best)
