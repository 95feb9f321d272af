# Reference timing for bench_psf_create: writes a 100-star field (elliptical
# Moffat stars at random sub-pixel positions on a flat sky of 100, with noise)
# into the given directory, then times photutils' EPSFBuilder (oversampling 5,
# 10 iterations) on 21 x 21 cutouts of the same stars. Prints "name seconds".
import sys
import time
import warnings

import numpy as np
from astropy.io import fits
from astropy.nddata import NDData
from astropy.table import Table

directory = sys.argv[1]
rng = np.random.default_rng(5)
side, per_row, spacing = 500, 10, 50
yy, xx = np.mgrid[0:side, 0:side]
data = np.full((side, side), 100.0)
xs, ys = [], []
c, s = np.cos(0.4), np.sin(0.4)
for k in range(per_row * per_row):
    cx = spacing // 2 + spacing * (k % per_row) + rng.uniform(-0.5, 0.5)
    cy = spacing // 2 + spacing * (k // per_row) + rng.uniform(-0.5, 0.5)
    dx, dy = xx - cx, yy - cy
    u, v = c * dx + s * dy, c * dy - s * dx
    data += 2e4 * (1 + (0.4 * u) ** 2 + (0.33 * v) ** 2) ** -3.0
    xs.append(cx + 1.0)
    ys.append(cy + 1.0)
err = np.sqrt(data)
data = data + rng.normal(size=data.shape) * err
fits.writeto(directory + '/image.fits', data.astype(np.float32), overwrite=True)
fits.writeto(directory + '/error.fits', err.astype(np.float32), overwrite=True)
np.savetxt(directory + '/stars.txt', np.column_stack([xs, ys]), fmt='%.17g')

from photutils.psf import EPSFBuilder, extract_stars  # noqa: E402

stars_table = Table({'x': np.array(xs) - 1.0, 'y': np.array(ys) - 1.0})
nd = NDData(data=data - 100.0)
with warnings.catch_warnings():
    warnings.simplefilter('ignore')
    stars = extract_stars(nd, stars_table, size=21)
    best = float('inf')
    for _ in range(3):
        t0 = time.perf_counter()
        EPSFBuilder(oversampling=5, maxiters=10, progress_bar=False)(stars)
        best = min(best, time.perf_counter() - t0)
print('photutils_epsf', best)
