# Reference timings for bench_psf_aperture: writes the synthetic field (image,
# error image, star list) into the given directory, then times photutils'
# aperture_photometry with the error image (r = 4.3, method "center") and the
# ApertureStats median of the annulus 8.2..12.7, and sep.sum_circle with the
# same annulus, best of 5 each. Prints "name seconds" lines.
import sys
import time

import numpy as np

sys.path.insert(0, sys.argv[2] + '/tests/psf/data')
import aperture_field  # noqa: E402
from photutils.aperture import (ApertureStats, CircularAnnulus,  # noqa: E402
                                CircularAperture, aperture_photometry)

data, err, x, y = aperture_field.write_field(sys.argv[1])
pos = np.column_stack([x - 1.0, y - 1.0])
data64 = data.astype(np.float64)
err64 = err.astype(np.float64)


def best_of(f, repeat=5):
    best = float('inf')
    for _ in range(repeat):
        t0 = time.perf_counter()
        f()
        best = min(best, time.perf_counter() - t0)
    return best


ap = CircularAperture(pos, 4.3)
ann = CircularAnnulus(pos, 8.2, 12.7)
print('photutils_aperture', best_of(lambda: aperture_photometry(data64, ap, error=err64, method='center')))
print('photutils_annulus_median', best_of(lambda: ApertureStats(data64, ann, sum_method='center').median))
try:
    import sep
    sx, sy = pos[:, 0].copy(), pos[:, 1].copy()
    print('sep_sum_circle', best_of(lambda: sep.sum_circle(data64, sx, sy, 4.3, err=err64, bkgann=(8.2, 12.7))))
except ImportError:
    pass
