// The region that all cut images cover, and its central part as the text of "common.part".
#ifndef BRISEL_OVERLAP_H
#define BRISEL_OVERLAP_H

#include <string>

#include "brisel/image_table.h"

// Frame columns xmin..xmax and rows ymin..ymax covered by every image that takes part.
struct OverlapBox {
  int xmin = 0, xmax = 0, ymin = 0, ymax = 0;
};

// The box covered by every image of the table that has a row inside the frame, starting from
// 0..width, 0..height. It depends on the placement alone, so it is known before any pixel is copied.
OverlapBox common_overlap(const ImageTable& table, const Frame& frame);

// Whether the images share a region: w = xmax - xmin and h = ymax - ymin are differences, not
// counts, so w = 0 is an overlap of exactly one column; the images share none when w or h is
// negative.
bool has_common_region(const OverlapBox& box);

// The error printed, with a line end, when the images share no region.
std::string no_overlap_message(const OverlapBox& box);

// "x1:x2,y1:y2": the central half of the box, w = xmax - xmin and h = ymax - ymin (differences),
// x1 = xmin + w/4, x2 = xmax - w/4 and likewise in y, divisions truncating toward zero.
std::string overlap_region_text(const OverlapBox& box);

// The warning printed when w or h is below 40, with a line end; empty otherwise.
std::string small_overlap_warning(const OverlapBox& box);

// Writes text, without a line end, as the whole named file: an earlier file of the name stays
// unless the new one is complete. Throws util::UException when the file cannot be written.
void write_region_file(const std::string& name, const std::string& text);

// Removes the named file when there is one, so that no later step reads the region of an earlier
// run. Throws std::runtime_error, naming the file, when it is there and cannot be removed.
void remove_region_file(const std::string& name);

#endif
