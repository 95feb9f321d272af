# Synthetic star field for the aperture photometry tests and benchmark: Gaussian
# and Moffat stars on a sky with a gradient, Gaussian noise and its error image,
# a few blank and zero-error pixels near some stars. Pixel (x, y) of the FITS
# image (1-based) is data[y - 1, x - 1].
import numpy as np
from astropy.io import fits

BLANK = -999.0


def make_field(side=2048, nstars=1000, seed=7):
    rng = np.random.default_rng(seed)
    yy, xx = np.mgrid[0:side, 0:side]
    sky = 100.0 + 0.01 * xx - 0.005 * yy
    data = sky.copy()
    x = rng.uniform(40, side - 40, nstars) + 1.0
    y = rng.uniform(40, side - 40, nstars) + 1.0
    flux = rng.uniform(1e3, 1e5, nstars)
    for k in range(nstars):
        cx, cy = x[k] - 1.0, y[k] - 1.0
        x0, y0 = int(cx) - 15, int(cy) - 15
        sy, sx = np.mgrid[y0:y0 + 31, x0:x0 + 31]
        r2 = (sx - cx) ** 2 + (sy - cy) ** 2
        if k % 2 == 0:
            s = 1.5
            prof = np.exp(-r2 / (2 * s * s)) / (2 * np.pi * s * s)
        else:
            a, beta = 2.5, 3.0
            prof = (beta - 1) / (np.pi * a * a) * (1 + r2 / (a * a)) ** (-beta)
        data[y0:y0 + 31, x0:x0 + 31] += flux[k] * prof
    err = np.sqrt(data / 2.0)
    data = data + rng.normal(size=data.shape) * err
    data = data.astype(np.float32)
    err = err.astype(np.float32)
    # Blank and zero-error pixels about ten pixels from some stars (in their
    # sky annulus) and one on a star centre (inside its aperture).
    for k in range(5):
        data[int(round(y[k] - 1)), int(round(x[k] - 1 + 10))] = BLANK
    err[int(round(y[5] - 1 + 10)), int(round(x[5] - 1))] = 0.0
    data[int(round(y[6] - 1)), int(round(x[6] - 1))] = BLANK
    return data, err, x, y


def write_field(directory, **kw):
    data, err, x, y = make_field(**kw)
    fits.writeto(directory + '/image.fits', data, overwrite=True)
    fits.writeto(directory + '/error.fits', err, overwrite=True)
    np.savetxt(directory + '/stars.txt', np.column_stack([x, y]), fmt='%.17g')
    return data, err, x, y
