#!/usr/bin/python3
"""Writes the seed files of the fuzz targets of the programs and libraries into the directory
given as argument, one subdirectory per corpus. Each seed is the control byte(s) of its target
followed by the file(s) it reads:

  corpus_star_table/       star tables (number, x, y and more columns)
  corpus_lightcurve_text/  light-curve text files with and without error and extra columns
  corpus_lightcurve_raw/   raw double and float records
  corpus_psf_file/         PSF image pairs, square with odd width, some of the wrong size
  corpus_brisel_header/    images with CD or CDELT keywords, one and two of them
  corpus_tarvole_header/   small images of every BITPIX, scaled and unscaled
"""
import io
import os
import struct
import sys

import numpy as np
from astropy.io import fits

out = sys.argv[1]
rng = np.random.default_rng(20261211)


def write(corpus, name, data):
    d = os.path.join(out, corpus)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def fits_bytes(data, cards=(), bitpix=None, bscale=None, bzero=None):
    hdu = fits.PrimaryHDU(data)
    for key, value in cards:
        if value is None:
            hdu.header.remove(key, ignore_missing=True)
        else:
            hdu.header[key] = value
    if bscale is not None or bzero is not None:
        hdu.scale(type={8: "uint8", 16: "int16", 32: "int32"}[bitpix],
                  bscale=1.0 if bscale is None else bscale, bzero=0.0 if bzero is None else bzero)
    buf = io.BytesIO()
    hdu.writeto(buf)
    return buf.getvalue()


def two(first, second):
    """Two files for splitInTwo: the 16-bit length of the first, then both."""
    return struct.pack(">H", len(first)) + first + second


# Star tables.
write("corpus_star_table", "plain", b"# n x y mag\n1 10.5 20.25 14.1\n2 300 400 15\n3 -5 1e3 16\n")
write("corpus_star_table", "short_rows", b"1 10 20\n2 30\n# comment\n\n3 5 6 7 8\n")
write("corpus_star_table", "special", b"1 nan inf\n2 1e308 -1e308\n3 0x10 1,5\n")

# Light-curve text files; control byte 0x00: no optional columns, 0x5a: nchi 4, boxval 4.
lc = "".join(f"{2450000.0 + 0.01 * i:.6f} {1.0 + 0.001 * np.sin(i):.8f} 0.001 {i % 3} 0.5 f{i}.fits\n"
             for i in range(12))
for control in (0x00, 0x5A, 0x96, 0xFF):
    write("corpus_lightcurve_text", f"six_columns_{control:02x}", bytes([control]) + lc.encode())
write("corpus_lightcurve_text", "two_columns", b"\x00# date flux\n1.0 2.0\n2.0 3.0\n3.0 2.5\n")
write("corpus_lightcurve_text", "ragged", b"\x02" + b"1 2 3 4\n5 6\n7 8 9\n")

# Raw records: control bit 0 selects float records.
records = np.column_stack([2450000 + np.arange(8) * 0.01, 1 + rng.normal(0, 1e-3, 8), np.full(8, 1e-3)])
write("corpus_lightcurve_raw", "double", b"\x00" + records.astype("<f8").tobytes())
write("corpus_lightcurve_raw", "float", b"\x01" + records.astype("<f4").tobytes())
write("corpus_lightcurve_raw", "double_tail", b"\x06" + records.astype("<f8").tobytes() + b"\x01\x02\x03\x04")
write("corpus_lightcurve_raw", "special", b"\x03" + np.array([np.nan, np.inf, -0.0] * 2, "<f4").tobytes())

# PSF images: control bit 0 selects the oversampling reader, bit 1 an error copy of the image.
for w in (1, 5, 9):
    img = rng.random((w, w)).astype(np.float32)
    err = (0.1 * img).astype(np.float32)
    write("corpus_psf_file", f"pair_{w}", b"\x04" + two(fits_bytes(img), fits_bytes(err)))
    write("corpus_psf_file", f"oversampled_{w}", b"\x25" + two(fits_bytes(img), fits_bytes(err)))
    write("corpus_psf_file", f"copy_{w}", b"\x0b" + fits_bytes(img))
write("corpus_psf_file", "sizes_differ",
      b"\x08" + two(fits_bytes(np.ones((5, 5), np.float32)), fits_bytes(np.ones((7, 7), np.float32))))
write("corpus_psf_file", "even", b"\x0a" + fits_bytes(np.ones((4, 4), np.float32)))
write("corpus_psf_file", "not_square", b"\x0a" + fits_bytes(np.ones((3, 5), np.float32)))

# Cutter headers: control bit 0 two images, bit 1 error images, bit 2 expand.
wcs = [("CTYPE1", "RA---TAN"), ("CTYPE2", "DEC--TAN"), ("CRVAL1", 150.0), ("CRVAL2", 2.0),
       ("CRPIX1", 5.5), ("CRPIX2", 4.0), ("CD1_1", -1e-4), ("CD1_2", 0.0), ("CD2_1", 0.0), ("CD2_2", 1e-4)]
cdelt = [c for c in wcs if not c[0].startswith("CD")] + [("CDELT1", -1e-4), ("CDELT2", 1e-4)]
diagonal = [c for c in wcs if c[0] not in ("CD1_2", "CD2_1")]
a = fits_bytes(rng.random((6, 8)).astype(np.float32), wcs)
b = fits_bytes(rng.integers(0, 100, (7, 5)).astype(np.int16), wcs[:4] + [("CRPIX1", -2.0), ("CRPIX2", 9.75)] + wcs[6:])
write("corpus_brisel_header", "one", b"\x00" + a)
write("corpus_brisel_header", "one_cdelt", b"\x02" + fits_bytes(np.ones((4, 4), np.float32), cdelt))
write("corpus_brisel_header", "one_diagonal", b"\x00" + fits_bytes(np.ones((4, 4), np.float32), diagonal))
write("corpus_brisel_header", "two", b"\x01" + two(a, b))
write("corpus_brisel_header", "two_expand_error", b"\x07" + two(a, b))

# Sky program images: every BITPIX, scaled integers, WCS cards.
base = rng.random((6, 5)) * 100
write("corpus_tarvole_header", "float", b"\x41" + fits_bytes(base.astype(np.float32), wcs))
write("corpus_tarvole_header", "double", b"\x40" + fits_bytes(base, wcs))
write("corpus_tarvole_header", "uint8", b"\x43" + fits_bytes(base.astype(np.uint8)))
write("corpus_tarvole_header", "int32", b"\x45" + fits_bytes(base.astype(np.int32), wcs))
write("corpus_tarvole_header", "uint16", b"\x41" + fits_bytes(base.astype(np.float64), bitpix=16, bzero=32768))
write("corpus_tarvole_header", "int16_half", b"\x01" + fits_bytes(base.round(), bitpix=16, bscale=0.5))
plain = bytearray(fits_bytes(base.astype(np.float32)))
end = plain.index(b"END" + b" " * 77)
plain[end + 80:end + 100] = b"text after the END  "
write("corpus_tarvole_header", "text_after_end", b"\x41" + bytes(plain))
