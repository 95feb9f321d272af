#!/usr/bin/python3
"""Makes the image fixtures of the FITS reader tests in the directory given as argument.

Every value fixture img_<name>.fits comes with img_<name>.raw, its raw (unscaled) pixel
values as little-endian float64 in FITS order (first axis fastest), and a line of
manifest.txt: name BITPIX BSCALE BZERO NAXIS1 [NAXIS2 [NAXIS3]]. The tests compute the
expected values from the raw ones with the reader's arithmetic.

Region fixtures: img_cube.fits and boxes.txt (one random box a line: x1 x2 y1 y2 z1 z2 and the
lengths numpy's squeezed slice has) with boxes.f64, the slices' values one after the other.

Extension fixture: img_ext.fits, a primary HDU without data, an IMAGE extension and a binary
table.

BLANK fixtures: img_blank_<name>.fits, integer images with a BLANK card, each with its .raw
file, img_blank_<name>.nan (one byte a pixel, 1 where astropy reads NaN) and a line of
blank_manifest.txt: name BITPIX BSCALE BZERO BLANK NAXIS1 NAXIS2.
"""
import os
import subprocess
import sys

import numpy as np
from astropy.io import fits

out = sys.argv[1]
rng = np.random.default_rng(20260210)
manifest = []


def path(name):
    return os.path.join(out, name)


def record(name):
    """Reads a fixture back raw and appends its raw values and its manifest line."""
    with fits.open(path("img_%s.fits" % name), do_not_scale_image_data=True) as hdul:
        h = hdul[0].header
        raw = np.asarray(hdul[0].data, dtype=np.float64)
        raw.ravel(order="C").astype("<f8").tofile(path("img_%s.raw" % name))
        axes = [str(h["NAXIS%d" % i]) for i in range(1, h["NAXIS"] + 1)]
        manifest.append(" ".join([name, str(h["BITPIX"]), repr(float(h.get("BSCALE", 1.0))),
                                  repr(float(h.get("BZERO", 0.0)))] + axes))


def write(name, data, bscale=None, bzero=None, cards=0):
    """Writes data as they are; BSCALE/BZERO cards are added afterwards without touching them."""
    hdu = fits.PrimaryHDU(data)
    for i in range(cards):
        hdu.header.add_history("history card number %d of a header that spans several records" % i)
    hdu.writeto(path("img_%s.fits" % name), overwrite=True)
    if bscale is not None or bzero is not None:
        with fits.open(path("img_%s.fits" % name), mode="update", do_not_scale_image_data=True) as hdul:
            hdul[0].header["BSCALE"] = bscale if bscale is not None else 1.0
            hdul[0].header["BZERO"] = bzero if bzero is not None else 0.0
    record(name)


def ints(dtype, shape, extremes):
    info = np.iinfo(dtype)
    a = rng.integers(info.min, info.max, size=shape, endpoint=True, dtype=np.int64).astype(dtype)
    flat = a.reshape(-1)
    flat[: len(extremes)] = extremes
    return a


# Unscaled data of every BITPIX, 1-D to 3-D, sizes that are no multiple of 2880 or a page.
write("u8", ints(np.uint8, (5, 7), [0, 255, 1, 128]))
write("i16", ints(np.int16, (1000,), [-32768, 32767, 0, -1]))
write("i32", ints(np.int32, (3, 7, 9), [-2**31, 2**31 - 1, 0, -1, 40000, -70000]))
f32 = rng.normal(0, 1000, size=(4, 6, 11)).astype(np.float32)
f32.reshape(-1)[:10] = [np.nan, np.inf, -np.inf, 2.9, -2.9, 1e30, -1e30, 32767.9, -32768.9, 0.5]
write("f32", f32)
f64 = rng.normal(0, 1e5, size=(13, 29))
f64.reshape(-1)[:6] = [np.nan, np.inf, -np.inf, 2.7, -2.7, 1e300]
write("f64", f64)
# The standard unsigned and signed-byte conventions, written by astropy itself.
write("u16", ints(np.uint16, (17, 33), [0, 65535, 32768, 32767]))
write("s8", ints(np.int8, (9, 10), [-128, 127, 0, -1]))
write("u32", ints(np.uint32, (6, 5), [0, 2**32 - 1, 2**31, 2**31 - 1]))
# Explicit scalings: the real path, and whole-number paths of 16 and 32 bits.
write("half", ints(np.int16, (8, 9), [-32768, 32767, 3, -3]), bscale=0.5, bzero=0.0)
write("s2z3", ints(np.int16, (8, 9), [-32768, 32767, 3, -3]), bscale=2.0, bzero=-3.0)
write("i32s3", ints(np.int32, (5, 4), [-2**31, 2**31 - 1]), bscale=3.0, bzero=7.0)
# Whole-number scalings of 16-bit values at the bounds of 32-bit arithmetic: 32768 * 65535
# fits a 32-bit int, 32768 * 65536 does not, nor does 32767 + 2147483647; a negative scale.
edges16 = [-32768, 32767, 0, -1, 1]
write("s16fits32", ints(np.int16, (10, 7), edges16), bscale=65535.0, bzero=0.0)
write("s16wide", ints(np.int16, (10, 7), edges16), bscale=65536.0, bzero=-5.0)
write("s16top", ints(np.int16, (10, 7), edges16), bscale=1.0, bzero=2147483647.0)
write("s16neg", ints(np.int16, (10, 7), edges16), bscale=-3.0, bzero=100.0)
# Images of many pages of data, for reads into every kind of destination.
write("f32big", rng.normal(0, 1e4, size=(260, 301)).astype(np.float32))
write("u16big", ints(np.uint16, (400, 377), [0, 65535, 32768, 32767]))
write("f64big", rng.normal(0, 1e5, size=(120, 301)))
write("i32big", ints(np.int32, (250, 301), [-2**31, 2**31 - 1]), bscale=3.0, bzero=7.0)
# A header of several records.
write("many", rng.normal(size=(10, 12)).astype(np.float32), cards=80)
# The same data written by cfitsio's tools.
for name in ("u16", "f32", "s8"):
    subprocess.run(["imcopy", path("img_%s.fits" % name), "!" + path("img_%s_cfitsio.fits" % name)],
                   check=True, stdout=subprocess.DEVNULL)
    record("%s_cfitsio" % name)

with open(path("manifest.txt"), "w") as f:
    f.write("\n".join(manifest) + "\n")

# Integer images with a BLANK card, unscaled and scaled (whole-number and real paths): a tenth
# of the pixels hold the BLANK value. img_blank_i16out's BLANK lies outside the 16-bit range,
# and its pixels hold the value that BLANK would have if it were cut to 16 bits.
blank_manifest = []


def write_blank(name, data, blank, bscale=None, bzero=None, extremes=()):
    flat = data.reshape(-1)
    marked = rng.random(flat.size) < 0.1
    marked[0] = True
    if -2**63 <= blank < 2**63 and np.iinfo(data.dtype).min <= blank <= np.iinfo(data.dtype).max:
        flat[marked] = blank
    flat[1:1 + len(extremes)] = extremes
    full = "blank_" + name
    fits.PrimaryHDU(data).writeto(path("img_%s.fits" % full), overwrite=True)
    with fits.open(path("img_%s.fits" % full), mode="update", do_not_scale_image_data=True) as hdul:
        h = hdul[0].header
        if bscale is not None or bzero is not None:
            h["BSCALE"] = bscale if bscale is not None else 1.0
            h["BZERO"] = bzero if bzero is not None else 0.0
        h["BLANK"] = blank
    with fits.open(path("img_%s.fits" % full), do_not_scale_image_data=True) as hdul:
        h = hdul[0].header
        np.asarray(hdul[0].data, dtype=np.float64).ravel().astype("<f8").tofile(path("img_%s.raw" % full))
        blank_manifest.append(" ".join([name, str(h["BITPIX"]), repr(float(h.get("BSCALE", 1.0))),
                                        repr(float(h.get("BZERO", 0.0))), str(h["BLANK"]),
                                        str(h["NAXIS1"]), str(h["NAXIS2"])]))
    with fits.open(path("img_%s.fits" % full)) as hdul:
        read = np.asarray(hdul[0].data, dtype=np.float64)
        np.isnan(read).ravel().astype(np.uint8).tofile(path("img_%s.nan" % full))


write_blank("u8", ints(np.uint8, (9, 11), []), 255)
write_blank("u8s", ints(np.uint8, (9, 11), []), 7, bscale=2.0, bzero=-100.0)
write_blank("i16", ints(np.int16, (13, 10), []), -32768)
write_blank("i16z", ints(np.int16, (13, 10), []), 32767, bzero=4000.0)
write_blank("i16r", ints(np.int16, (13, 10), []), 3, bscale=0.5, bzero=10.0)
write_blank("i16out", ints(np.int16, (13, 10), []), 99999, extremes=[99999 - 2**17])
write_blank("i32", ints(np.int32, (7, 12), []), -2**31)
write_blank("i32s", ints(np.int32, (7, 12), []), 12345, bscale=3.0, bzero=7.0)
with open(path("blank_manifest.txt"), "w") as f:
    f.write("\n".join(blank_manifest) + "\n")

# A cube for region reads, scaled so that the readers' real path is used: numpy's slices of
# astropy's scaled data are exact here (half-integers of moderate size).
nx, ny, nz = 23, 17, 9
raw = rng.integers(-20000, 20000, size=(nz, ny, nx), dtype=np.int64).astype(np.int16)
hdu = fits.PrimaryHDU(raw)
hdu.writeto(path("img_cube.fits"), overwrite=True)
with fits.open(path("img_cube.fits"), mode="update", do_not_scale_image_data=True) as hdul:
    hdul[0].header["BSCALE"] = 0.5
    hdul[0].header["BZERO"] = 10.0
with fits.open(path("img_cube.fits")) as hdul:
    cube = np.asarray(hdul[0].data, dtype=np.float64)
lines = []
values = []
for _ in range(300):
    box = []
    for n in (nx, ny, nz):
        if rng.random() < 0.25:
            a = b = int(rng.integers(1, n + 1))
        else:
            a, b = sorted(int(v) for v in rng.integers(1, n + 1, size=2))
        box.append((a, b))
    (x1, x2), (y1, y2), (z1, z2) = box
    piece = np.squeeze(cube[z1 - 1:z2, y1 - 1:y2, x1 - 1:x2])
    lengths = list(reversed(piece.shape))
    lines.append(" ".join(str(v) for v in [x1, x2, y1, y2, z1, z2, len(lengths)] + lengths))
    values.append(piece.ravel(order="C"))
with open(path("boxes.txt"), "w") as f:
    f.write("\n".join(lines) + "\n")
np.concatenate(values).astype("<f8").tofile(path("boxes.f64"))

# Primary without data, an IMAGE extension (unsigned 16-bit) and a binary table.
image = ints(np.uint16, (4, 3), [0, 65535])
table = fits.BinTableHDU.from_columns([fits.Column(name="a", format="J", array=np.arange(5))])
fits.HDUList([fits.PrimaryHDU(), fits.ImageHDU(image), table]).writeto(path("img_ext.fits"), overwrite=True)
image.astype("<f8").ravel(order="C").tofile(path("img_ext_image.raw"))
