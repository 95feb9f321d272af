// Copying one image, and optionally its error image, into the common frame.
#ifndef BRISEL_CUT_IMAGE_H
#define BRISEL_CUT_IMAGE_H

#include <string>

#include "brisel/image_table.h"
#include "brisel/output_names.h"
#include "orv/fits/fits_header.h"
#include "orv/fits/fits_in.h"

// The header a cut image starts from: that of the input file, in, read from file. A header with
// long strings is taken with its cards as they stand in the file, in their order, so that each
// run of CONTINUE cards stays right after the card it continues, with a LONGSTRN card that
// declares the convention when the header has none; any other keeps its cards as parsed.
orv::FitsHeader cut_header(const orv::FitsIn& in, const std::string& file);

// BITPIX of a cut image: that of the input, so the stored values pass unchanged, except for a
// scaled input (BSCALE != 1 or BZERO != 0), whose physical values are written as floats (the
// output carries no scaling cards): 32-bit floats for 8- and 16-bit integers (exact for the
// usual scaling, such as BZERO 32768 or a power-of-two BSCALE), 64-bit floats for wider types.
int cut_bitpix(const orv::FitsHeader& input);

// Replaces the keyword's card by the reference pixel value: an integer card for a whole
// number, else a floating-point card, both in the fixed format with an empty comment.
void set_reference_pixel(orv::FitsHeader& header, const std::string& keyword, double value);

// Writes image j of the table placed in the frame: frame.width x frame.height pixels, input
// pixel (i, r) at frame pixel (i + xstart - 1, r + ystart - 1), 0 where the image does not
// reach; pixels outside the frame are dropped. The header is that of the input with CRPIX1
// and CRPIX2 moved by the placement, so every pixel keeps its world coordinates. Undefined
// pixels of an integer input (those that hold its BLANK value) stay undefined: NaN in a float
// cut, the BLANK value, under the input's BLANK card, in an integer cut. With withError, the
// error image is written the same way with a header of the writer's own cards and, for an
// integer cut, the BLANK card of the error image. Rows pass through double buffers, which hold
// every value of every BITPIX exactly, and are copied in blocks of about blockBytes (at least
// one row each), so memory stays small for any size.
inline constexpr long cut_block_bytes = 4L << 20;
void cut_image(const CutFiles& files, bool withError, const ImageTable& table, int j, const Frame& frame,
               long blockBytes = cut_block_bytes);

#endif
