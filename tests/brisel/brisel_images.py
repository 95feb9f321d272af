"""Test images for the overlap cutter, and the astropy reference check of its outputs.

  brisel_images.py make DIR SPECS.json    writes the images of each SPEC into its subdirectory
  brisel_images.py check DIR EXPECTS.json checks the cut images of each subdirectory

SPECS and EXPECTS map a subdirectory of DIR to one SPEC or EXPECT (one python start serves
many runs of the cutter).

SPEC: a list of images {"name" (may hold a directory part), "nx", "ny", "bitpix", "bscale" and
"bzero" (optional: the stored values scaled), "cards" (header cards over the defaults below; null
removes one, [value, comment] gives a comment), "error_bitpix" (optional: also write the error
image, "e." in front of the file-name part), "blank" and "error_blank" (optional, integer images:
the BLANK value of the image or its error image, held by some of its pixels), "seed"}. The stored
values span their type, its extremes among them.

EXPECT: {"frame": [W, H], "images": [{"name", "out", "start": [xstart, ystart], "error"}]}:
image "name" placed with its pixel (1, 1) at frame pixel (xstart, ystart), written as "out"
(and its error image too when "error" is true). Every pixel must equal the physical value of its
input pixel exactly (undefined pixels, those of an integer input that hold its BLANK value, stay
undefined: NaN in a float cut, the same BLANK value and card in an integer cut), and every string
card of the input must read back with its value and comment. The check prints one line per fault
and exits with 1.
"""
import json
import os
import sys

import numpy as np
from astropy.io import fits
from astropy.nddata import Cutout2D
from astropy.nddata.utils import NoOverlapError
from astropy.wcs import WCS

DEFAULT_CARDS = {
    "CTYPE1": "RA---TAN", "CTYPE2": "DEC--TAN",
    "CRVAL1": 150.0, "CRVAL2": 2.0,
    "CRPIX1": 50.0, "CRPIX2": 50.0,
    "CD1_1": -1e-4, "CD1_2": 0.0, "CD2_1": 0.0, "CD2_2": 1e-4,
}


RAW_TYPES = {8: np.uint8, 16: np.int16, 32: np.int32, -32: np.float32, -64: np.float64}


def stored_values(nx, ny, bitpix, rng):
    """Values that span the type, with its extremes in the first and last pixels of the image."""
    shape = (ny, nx)
    if bitpix > 0:
        info = np.iinfo(RAW_TYPES[bitpix])
        data = rng.integers(info.min, info.max, shape, dtype=np.int64, endpoint=True)
        edges = [info.min, info.max, info.min + 1, info.max - 1, 0] + ([(1 << 24) + 1] if bitpix == 32 else [])
    else:
        info = np.finfo(RAW_TYPES[bitpix])
        data = rng.normal(0.0, 1000.0, shape) + 0.5
        edges = [info.max, -info.max, info.tiny, -info.smallest_subnormal, 2.1234567890123, 16779217.0]
    data = data.astype(RAW_TYPES[bitpix])
    data.flat[:len(edges)] = edges
    data.flat[-len(edges):] = edges[::-1]
    return data


def image_hdu(nx, ny, bitpix, bscale, bzero, rng, header=None):
    """An image of the stored type; with BSCALE or BZERO its physical values are those of the
    stored values scaled, so the extremes of the stored type reach the file."""
    stored = stored_values(nx, ny, bitpix, rng)
    if bscale == 1 and bzero == 0:
        return fits.PrimaryHDU(data=stored, header=header)
    hdu = fits.PrimaryHDU(data=stored.astype(np.float64) * bscale + bzero, header=header)
    hdu.scale(np.dtype(RAW_TYPES[bitpix]).name, bscale=bscale, bzero=bzero)
    return hdu


def write_image(path, nx, ny, bitpix, bscale, bzero, blank, rng, header=None):
    """Writes the image; with a blank value, every seventh pixel holds it and the BLANK card
    says so."""
    if blank is None:
        image_hdu(nx, ny, bitpix, bscale, bzero, rng, header).writeto(path, overwrite=True)
        return
    stored = stored_values(nx, ny, bitpix, rng)
    stored.flat[3::7] = blank
    header = fits.Header() if header is None else header
    header["BLANK"] = blank
    fits.PrimaryHDU(data=stored, header=header).writeto(path, overwrite=True)
    if bscale != 1 or bzero != 0:
        # astropy scales NaN to 0 rather than to BLANK: the scaling is put on the stored values.
        with fits.open(path, mode="update", do_not_scale_image_data=True) as hdus:
            hdus[0].header["BSCALE"] = bscale
            hdus[0].header["BZERO"] = bzero


def header_of(cards):
    """The header of the cards; a card given as [value, comment] gets the comment too."""
    header = fits.Header()
    for key, value in cards.items():
        if value is not None:
            header[key] = tuple(value) if isinstance(value, list) else value
    return header


def make(directory, spec):
    os.makedirs(directory, exist_ok=True)
    for image in spec:
        rng = np.random.default_rng(image.get("seed", 1))
        cards = dict(DEFAULT_CARDS)
        cards.update(image.get("cards", {}))
        path = directory + "/" + image["name"]
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write_image(path, image["nx"], image["ny"], image["bitpix"], image.get("bscale", 1), image.get("bzero", 0),
                    image.get("blank"), rng, header_of(cards))
        if "error_bitpix" in image:
            write_image(error_name(path), image["nx"], image["ny"], image["error_bitpix"], 1, 0,
                        image.get("error_blank"), rng)


def error_name(path):
    """The error image of a file: "e." in front of its file-name part."""
    return os.path.join(os.path.dirname(path), "e." + os.path.basename(path))


def reference_cut(data, start, frame):
    """The frame cut from data with astropy: frame pixel (l, k) is input pixel
    (l - xstart + 1, k - ystart + 1), 0 where the input has none."""
    width, height = frame
    x0, y0 = 1 - start[0], 1 - start[1]  # 0-based input position of frame pixel (1, 1)
    centre = (x0 + (width - 1) / 2.0, y0 + (height - 1) / 2.0)
    try:
        cut = Cutout2D(data, centre, (height, width), mode="partial", fill_value=0)
    except NoOverlapError:
        return np.zeros((height, width), dtype=np.float64), True
    placed = (cut.slices_original[1].start - cut.slices_cutout[1].start,
              cut.slices_original[0].start - cut.slices_cutout[0].start)
    return np.asarray(cut.data, dtype=np.float64), placed == (x0, y0)


def expected_bitpix(header):
    scaled = header.get("BSCALE", 1) != 1 or header.get("BZERO", 0) != 0
    if not scaled:
        return header["BITPIX"]
    return -32 if header["BITPIX"] in (8, 16) else -64


def check_values(faults, label, output, source, start, frame):
    cut, placed = reference_cut(np.asarray(source[0].data, dtype=np.float64), start, frame)
    if not placed:
        faults.append("%s: Cutout2D did not place the frame where asked" % label)
    data = output[0].data
    if data is None or data.shape != (frame[1], frame[0]):
        faults.append("%s: shape %s, want %s" % (label, None if data is None else data.shape,
                                                   (frame[1], frame[0])))
        return
    values = np.asarray(data, dtype=np.float64)
    wrong = np.argwhere((values != cut) & ~(np.isnan(values) & np.isnan(cut)))
    if len(wrong):
        k, l = wrong[0]
        faults.append("%s: %d pixels differ from Cutout2D, first at (%d, %d): %r, want %r"
                      % (label, len(wrong), l + 1, k + 1, data[k, l], cut[k, l]))
    header = output[0].header
    # The header as stored: astropy drops the BZERO of signed bytes once it has scaled the data.
    want = expected_bitpix(fits.getheader(source.filename()))
    if header["BITPIX"] != want:
        faults.append("%s: BITPIX %d, want %d" % (label, header["BITPIX"], want))
    for key in ("BSCALE", "BZERO"):
        if key in header:
            faults.append("%s: has %s" % (label, key))


def check_wcs(faults, label, output, source, start, frame):
    """Every frame pixel that came from an input pixel has that pixel's sky position."""
    width, height = frame
    nx, ny = source[0].header["NAXIS1"], source[0].header["NAXIS2"]
    cols = np.arange(max(1, start[0]), min(width, start[0] + nx - 1) + 1)
    rows = np.arange(max(1, start[1]), min(height, start[1] + ny - 1) + 1)
    if len(cols) == 0 or len(rows) == 0:
        return
    l, k = np.meshgrid(cols, rows)
    out_world = WCS(output[0].header).all_pix2world(l - 1.0, k - 1.0, 0)
    in_world = WCS(source[0].header).all_pix2world(l - start[0] + 0.0, k - start[1] + 0.0, 0)
    error = max(np.max(np.abs(out_world[0] - in_world[0])), np.max(np.abs(out_world[1] - in_world[1])))
    if error > 1e-9:
        faults.append("%s: sky positions differ by up to %g deg" % (label, error))
    for axis in (1, 2):
        value = source[0].header["CRPIX%d" % axis]
        written = output[0].header["CRPIX%d" % axis]
        if float(value).is_integer() and not isinstance(written, int):
            faults.append("%s: CRPIX%d written as %r, want an integer card" % (label, axis, written))
    for key, value in source[0].header.items():
        if key.startswith(("CTYPE", "CRVAL", "CD")) and output[0].header.get(key) != value:
            faults.append("%s: %s is %r, want %r" % (label, key, output[0].header.get(key), value))


def check_blank(faults, label, out, name, start, frame):
    """The pixels of an integer input that hold its BLANK value are undefined in the cut, at the
    same places: NaN in a float cut, which has no BLANK card; the same BLANK value, with the same
    card, in an integer cut. No other pixel is undefined."""
    with fits.open(name, do_not_scale_image_data=True) as source:
        header = source[0].header
        if header["BITPIX"] < 0 or "BLANK" not in header:
            return
        blank = header["BLANK"]
        marked, _ = reference_cut((source[0].data == blank).astype(np.float64), start, frame)
    with fits.open(out, do_not_scale_image_data=True) as output:
        header, data = output[0].header, output[0].data
        if header["BITPIX"] > 0:
            if header.get("BLANK") != blank:
                faults.append("%s: BLANK is %r, want %r" % (label, header.get("BLANK"), blank))
            undefined = data == blank
        else:
            if "BLANK" in header:
                faults.append("%s: a float image with BLANK" % label)
            undefined = np.isnan(data)
    wrong = np.argwhere(undefined != (marked != 0))
    if len(wrong):
        k, l = wrong[0]
        faults.append("%s: %d pixels differ in being undefined, first at (%d, %d)" % (label, len(wrong), l + 1, k + 1))


WRITER_CARDS = {"SIMPLE", "BITPIX", "NAXIS", "NAXIS1", "NAXIS2", "DATE", "ORIGIN"}
COMMENTARY = {"COMMENT", "HISTORY", ""}


def check_strings(faults, label, output, source):
    """Every string card of the input, long strings over CONTINUE cards among them, reads back
    from the output with its value and comment."""
    written = output[0].header
    for card in source[0].header.cards:
        if not isinstance(card.value, str) or card.keyword in WRITER_CARDS | COMMENTARY:
            continue
        got = (written.get(card.keyword), written.comments[card.keyword] if card.keyword in written else None)
        if got != (card.value, card.comment):
            faults.append("%s: %s is %r, want %r" % (label, card.keyword, got, (card.value, card.comment)))


def check(directory, expect):
    faults = []
    frame = expect["frame"]
    for image in expect["images"]:
        start = image["start"]
        name = directory + "/" + image["name"]
        out = directory + "/" + image["out"]
        # Read as floats, an unsigned integer input has NaN at its BLANK pixels too.
        with fits.open(name, uint=False) as source, fits.open(out) as output:
            check_values(faults, image["out"], output, source, start, frame)
            check_wcs(faults, image["out"], output, source, start, frame)
            check_strings(faults, image["out"], output, source)
        check_blank(faults, image["out"], out, name, start, frame)
        if image.get("error"):
            label = error_name(image["out"])
            with fits.open(error_name(name), uint=False) as source, fits.open(error_name(out)) as output:
                check_values(faults, label, output, source, start, frame)
                # The BLANK card of an error image is kept (check_blank checks it).
                kept = {"BLANK"} if "BLANK" in fits.getheader(error_name(name)) else set()
                extra = set(output[0].header.keys()) - WRITER_CARDS - kept
                if extra:
                    faults.append("%s: cards beyond the writer's own: %s" % (label, sorted(extra)))
            check_blank(faults, label, error_name(out), error_name(name), start, frame)
    return faults


def main():
    command, directory, spec_file = sys.argv[1:4]
    with open(spec_file) as f:
        specs = json.load(f)
    faults = 0
    for subdirectory, spec in specs.items():
        if command == "make":
            make(directory + "/" + subdirectory, spec)
            continue
        for fault in check(directory + "/" + subdirectory, spec):
            print(subdirectory + ": " + fault)
            faults += 1
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
