"""Independent rendering of the row-wise sky's running median and bright-object mask.

Usage: row_sky_reference.py R.fits med.fits mask.fits
The running median must equal scipy.ndimage.median_filter(size=21) on the interior (10 pixels
from every border) and 0 on the frame; the mask must equal: 1 everywhere, 0 within radius 10
of every interior pixel more than 100 above its median. Exit status 0 when both agree.
"""
import sys

import numpy as np
from astropy.io import fits
from scipy import ndimage

R = fits.getdata(sys.argv[1]).astype(np.float32)
med = fits.getdata(sys.argv[2]).astype(np.float32)
mask = fits.getdata(sys.argv[3]).astype(np.float32)
failures = []
ref = ndimage.median_filter(R, size=21)
inner = (slice(10, -10), slice(10, -10))
if not np.array_equal(ref[inner], med[inner]):
    failures.append(f"median differs at {np.count_nonzero(ref[inner] != med[inner])} pixels")
frame = np.ones_like(med, dtype=bool)
frame[inner] = False
if np.any(med[frame] != 0):
    failures.append("frame of the median not 0")
bright = np.zeros_like(R, dtype=bool)
diff = (R - med).astype(np.float32)
bright[inner] = (med[inner] != 0) & (diff[inner].astype(np.float64) > 100.0)
j, i = np.mgrid[-10:11, -10:11]
disc = (i * i + j * j) <= 100
expected = np.where(ndimage.binary_dilation(bright, structure=disc), 0.0, 1.0)
if not np.array_equal(expected, mask):
    failures.append(f"mask differs at {np.count_nonzero(expected != mask)} pixels")
print("bright pixels", int(bright.sum()), "masked", int((mask == 0).sum()))
for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
