// The region that all cut images cover, and its central part as the text of "common.part".
#ifndef BRISEL_OVERLAP_H
#define BRISEL_OVERLAP_H

#include <string>

#include "brisel/image_table.h"

// Frame columns xmin..xmax and rows ymin..ymax covered by every image folded in so far.
struct OverlapBox {
  int xmin = 0, xmax = 0, ymin = 0, ymax = 0;
};

// The box before any image is folded in: 0..width, 0..height.
OverlapBox initial_overlap(const Frame& frame);

// Narrows the box to image j of the table. Only images with a row inside the frame take part.
void fold_image(OverlapBox& box, const ImageTable& table, int j, const Frame& frame);

// "x1:x2,y1:y2": the central half of the box, w = xmax - xmin and h = ymax - ymin (differences),
// x1 = xmin + w/4, x2 = xmax - w/4 and likewise in y, divisions truncating toward zero.
std::string overlap_region_text(const OverlapBox& box);

// The warning printed when w or h is below 40, with a line end; empty otherwise.
std::string small_overlap_warning(const OverlapBox& box);

// Writes text, without a line end, to the named file, replacing it. Throws std::runtime_error
// when the file cannot be written.
void write_region_file(const std::string& name, const std::string& text);

#endif
