# Synthetic star fields for the PSF finding and measuring tests: Gaussian and
# Moffat profiles of unit total flux, integrated over image pixels and over the
# cells of the PSF's fine grid (the Gaussian exactly through erf, the Moffat by
# supersampling), and isolated stars of given S/N on Gaussian noise. Pixel
# (x, y) of an image (1-based) is data[y - 1, x - 1] and covers x - 0.5 .. x + 0.5.
import numpy as np
from scipy.special import erf

GAUSS_SIGMA = 1.3
MOFFAT_FWHM, MOFFAT_BETA = 3.0, 3.0


def fwhm(kind):
    return 2.3548200450309493 * GAUSS_SIGMA if kind == 'gauss' else MOFFAT_FWHM


def integrate(kind, ex, ey, cx, cy, sub=6):
    """Integral of the profile centred at (cx, cy) over the cells between the
    edges ex (x) and ey (y); returns [len(ey) - 1, len(ex) - 1]."""
    if kind == 'gauss':
        s2 = np.sqrt(2.0) * GAUSS_SIGMA
        px = 0.5 * np.diff(erf((ex - cx) / s2))
        py = 0.5 * np.diff(erf((ey - cy) / s2))
        return np.outer(py, px)
    alpha = MOFFAT_FWHM / (2.0 * np.sqrt(2.0 ** (1.0 / MOFFAT_BETA) - 1.0))
    norm = (MOFFAT_BETA - 1.0) / (np.pi * alpha * alpha)
    # sub x sub midpoints per cell
    fx = (np.arange(sub) + 0.5) / sub
    wx = np.diff(ex)[:, None]
    wy = np.diff(ey)[:, None]
    xs = (ex[:-1, None] + wx * fx[None, :]).ravel() - cx
    ys = (ey[:-1, None] + wy * fx[None, :]).ravel() - cy
    r2 = ys[:, None] ** 2 + xs[None, :] ** 2
    f = norm * (1.0 + r2 / (alpha * alpha)) ** (-MOFFAT_BETA)
    f = f.reshape(len(ey) - 1, sub, len(ex) - 1, sub).mean(axis=(1, 3))
    return f * np.outer(wy[:, 0], wx[:, 0])


def fine_grid(kind, S, R):
    """The fine grid of S cells per pixel, cells -N..N with N = R S + S/2,
    cell a centred a/S pixel from the centre; [b + N, a + N]."""
    N = R * S + S // 2
    e = (np.arange(-N, N + 2) - 0.5) / S
    return integrate(kind, e, e, 0.0, 0.0)


def star_stamp(kind, x, y, half=12):
    """The pixel-integrated profile of a star at (x, y) over the pixels
    round(x) - half .. round(x) + half (same in y); returns (stamp, x0, y0)."""
    x0, y0 = int(round(x)) - half, int(round(y)) - half
    ex = np.arange(x0, x0 + 2 * half + 2) - 0.5
    ey = np.arange(y0, y0 + 2 * half + 2) - 0.5
    return integrate(kind, ex, ey, x, y), x0, y0


def make_field(kind, side, grid, snr_range, noise, seed, jitter=5.0, margin=20):
    """Stars on a jittered lattice of grid = (columns, rows), S/N log-uniform in snr_range
    (S/N = flux sqrt(sum p^2) / noise, the PSF-fit S/N); returns data, error
    (float32), and the stars' x, y, flux, snr."""
    rng = np.random.default_rng(seed)
    stepx = (side - 2 * margin) / (grid[0] - 1)
    stepy = (side - 2 * margin) / (grid[1] - 1)
    xs, ys, fs, ss = [], [], [], []
    data = np.zeros((side, side))
    for gy in range(grid[1]):
        for gx in range(grid[0]):
            x = margin + 1 + gx * stepx + rng.uniform(-jitter, jitter)
            y = margin + 1 + gy * stepy + rng.uniform(-jitter, jitter)
            snr = np.exp(rng.uniform(np.log(snr_range[0]), np.log(snr_range[1])))
            stamp, x0, y0 = star_stamp(kind, x, y)
            flux = snr * noise / np.sqrt((stamp ** 2).sum())
            data[y0 - 1:y0 - 1 + stamp.shape[0], x0 - 1:x0 - 1 + stamp.shape[1]] += flux * stamp
            xs.append(x)
            ys.append(y)
            fs.append(flux)
            ss.append(snr)
    data += rng.normal(size=data.shape) * noise
    err = np.full(data.shape, noise)
    return (data.astype(np.float32), err.astype(np.float32), np.array(xs), np.array(ys), np.array(fs),
            np.array(ss))


def write_field(directory, kind, S, R, **kw):
    """Writes image_<kind>.fits, error_<kind>.fits, the fine grid as text
    (grid_<kind>.txt, x fastest) and the stars (truth_<kind>.txt: x y flux
    snr); returns what make_field returns."""
    from astropy.io import fits
    data, err, x, y, flux, snr = make_field(kind, **kw)
    fits.writeto(f'{directory}/image_{kind}.fits', data, overwrite=True)
    fits.writeto(f'{directory}/error_{kind}.fits', err, overwrite=True)
    np.savetxt(f'{directory}/grid_{kind}.txt', fine_grid(kind, S, R).ravel(), fmt='%.17g')
    np.savetxt(f'{directory}/truth_{kind}.txt', np.column_stack([x, y, flux, snr]), fmt='%.17g')
    return data, err, x, y, flux, snr
