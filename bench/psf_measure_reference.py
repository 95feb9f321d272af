# Reference timings for bench_psf_measure: writes a field of pixel-integrated
# Gaussian stars (sigma 1.2 px, no sky, background noise 5 plus the stars'
# own noise) with its error image and the start positions (truth plus up to
# 0.4 px in each axis, 1-based) into the given directory, then times photutils.
#   measure: 2048 x 2048, 1000 stars; BasicPSFPhotometry with
#            IntegratedGaussianPRF (sigma fixed; x, y, flux free), fitshape
#            9 x 9, the same starts, on the first 200 stars: seconds per star.
#   find:    1024 x 1024, 250 stars; DAOStarFinder (fwhm of the PSF, threshold
#            5 sigma of the background): seconds (best of 3) and the peak of
#            the memory that Python and numpy allocate while it runs
#            (tracemalloc), in bytes.
#   find4096: the same on 4096 x 4096 with 4000 stars (the same density).
# Prints "name value" lines.
import sys
import time
import tracemalloc

import numpy as np
from astropy.io import fits
from scipy.special import erf

SIGMA = 1.2
NOISE = 5.0


def make_field(side, nstars, seed):
    rng = np.random.default_rng(seed)
    x = rng.uniform(40, side - 40, nstars) + 1.0  # 1-based pixel coordinates
    y = rng.uniform(40, side - 40, nstars) + 1.0
    flux = rng.uniform(2e3, 5e4, nstars)
    model = np.zeros((side, side))
    s2 = np.sqrt(2.0) * SIGMA
    for k in range(nstars):
        cx, cy = x[k] - 1.0, y[k] - 1.0
        x0, y0 = int(cx) - 8, int(cy) - 8
        ex = np.arange(x0, x0 + 18) - 0.5 - cx
        ey = np.arange(y0, y0 + 18) - 0.5 - cy
        px = 0.5 * (erf(ex[1:] / s2) - erf(ex[:-1] / s2))
        py = 0.5 * (erf(ey[1:] / s2) - erf(ey[:-1] / s2))
        model[y0:y0 + 17, x0:x0 + 17] += flux[k] * np.outer(py, px)
    err = np.sqrt(NOISE ** 2 + model)
    data = (model + rng.normal(size=model.shape) * err).astype(np.float32)
    start_x = x + rng.uniform(-0.4, 0.4, nstars)
    start_y = y + rng.uniform(-0.4, 0.4, nstars)
    return data, err.astype(np.float32), x, y, flux, start_x, start_y


def main():
    directory, mode = sys.argv[1], sys.argv[2]
    side, nstars = {'measure': (2048, 1000), 'find': (1024, 250), 'find4096': (4096, 4000)}[mode]
    data, err, x, y, flux, sx, sy = make_field(side, nstars, 11)
    fits.writeto(directory + '/image.fits', data, overwrite=True)
    fits.writeto(directory + '/error.fits', err, overwrite=True)
    np.savetxt(directory + '/stars.txt', np.column_stack([sx, sy]), fmt='%.17g')
    np.savetxt(directory + '/truth.txt', np.column_stack([x, y, flux]), fmt='%.17g')
    data64 = data.astype(np.float64)
    if mode == 'measure':
        from astropy.modeling.fitting import LevMarLSQFitter
        from astropy.table import Table
        from photutils.psf import BasicPSFPhotometry, DAOGroup, IntegratedGaussianPRF
        n = 200
        model = IntegratedGaussianPRF(sigma=SIGMA)
        model.sigma.fixed = True
        phot = BasicPSFPhotometry(group_maker=DAOGroup(2.0), bkg_estimator=None, psf_model=model,
                                  fitshape=(9, 9), fitter=LevMarLSQFitter())
        init = Table()
        init['x_0'] = sx[:n] - 1.0
        init['y_0'] = sy[:n] - 1.0
        init['flux_0'] = flux[:n] * 1.1
        t0 = time.perf_counter()
        result = phot(image=data64, init_guesses=init)
        seconds = time.perf_counter() - t0
        dx = np.asarray(result['x_fit']) + 1.0 - x[:n]
        dy = np.asarray(result['y_fit']) + 1.0 - y[:n]
        print('photutils_psf_per_star', seconds / n)
        print('photutils_psf_median_error_px', float(np.median(np.hypot(dx, dy))))
    else:
        from photutils.detection import DAOStarFinder
        finder = DAOStarFinder(fwhm=2.3548200450309493 * SIGMA, threshold=5 * NOISE)
        best = float('inf')
        for _ in range(3):
            t0 = time.perf_counter()
            found = finder(data64)
            best = min(best, time.perf_counter() - t0)
        tracemalloc.start()
        finder(data64)
        peak = tracemalloc.get_traced_memory()[1]
        tracemalloc.stop()
        print('daofind_s', best)
        print('daofind_peak_bytes', peak)
        print('daofind_found', 0 if found is None else len(found))


main()
