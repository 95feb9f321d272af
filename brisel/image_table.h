// The per-image table of the overlap cutter: world-coordinate keywords and sizes read from
// every header, the check that all images share one pixel scale, and their placement.
#ifndef BRISEL_IMAGE_TABLE_H
#define BRISEL_IMAGE_TABLE_H

#include <string>
#include <vector>

#include "orv/marray.h"

// One row per image j = 1..n (index base 1). The header values are read by
// read_image_table; xstart..yend are set by place_images.
struct ImageTable {
  explicit ImageTable(int n);

  int count() const { return naxis1.length(1); }

  orv::MArray<double, 1> cd1_1, cd1_2, cd2_1, cd2_2;
  orv::MArray<double, 1> crval1, crval2, crpix1, crpix2;
  orv::MArray<int, 1> naxis1, naxis2;
  // Placement of image j in the common frame: its columns xstart..xend and rows ystart..yend.
  orv::MArray<int, 1> xstart, xend, ystart, yend;
};

// The common pixel frame: its reference pixel and its size; frame pixels run 1..width, 1..height.
struct Frame {
  int rx = 0, ry = 0;
  int width = 0, height = 0;
};

// The header pass: reads CD1_1, CD1_2, CD2_1, CD2_2 of every file (an absent CD1_2 or CD2_1 is
// 0; CDELT1 and CDELT2 stand for CD1_1 and CD2_2 when one of those is missing), CRVAL1, CRVAL2,
// CRPIX1, CRPIX2, NAXIS1 and NAXIS2. Also makes sure that everything the cut will read is there
// before anything is written: every file is a two-dimensional image with pixels and its complete
// data segment, and, with withError, so is its error image (error_image_name), of the same size.
// Throws (orv::FitsException or std::runtime_error) naming the file otherwise.
ImageTable read_image_table(const std::vector<std::string>& files, bool withError);

// Whether every image has CD1_2 = CD2_1 = 0 and the CD1_1 and CD2_2 of image 1 (exact
// comparison; a NaN anywhere fails).
bool cd_compatible(const ImageTable& table);

// Whether all images share the CRVAL1 and CRVAL2 of image 1 (exact comparison).
bool crval_agree(const ImageTable& table);

// Places every image in the common frame by its reference pixel truncated toward zero: the
// frame of image 1, or with expand the smallest frame that holds every image whole. Sets
// xstart..yend of every row. Throws std::runtime_error when a reference pixel or a frame
// coordinate does not fit an int.
Frame place_images(ImageTable& table, bool expand);

#endif
