// The overlap box of the placed images and the region text and messages made from it.
#include "brisel/overlap.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "util/replacing_file.h"

namespace {

// Differences in 64 bits: a box of images far outside the frame may span more than an int.
long long boxWidth(const OverlapBox& box) { return static_cast<long long>(box.xmax) - box.xmin; }
long long boxHeight(const OverlapBox& box) { return static_cast<long long>(box.ymax) - box.ymin; }

}  // namespace

OverlapBox common_overlap(const ImageTable& table, const Frame& frame) {
  OverlapBox box{0, frame.width, 0, frame.height};
  for (int j = 1; j <= table.count(); ++j) {
    const bool rowInFrame = table.ystart(j) <= frame.height && table.yend(j) >= 1;
    if (!rowInFrame) continue;
    box.xmin = std::max(box.xmin, table.xstart(j));
    box.xmax = std::min(box.xmax, table.xend(j));
    box.ymin = std::max(box.ymin, table.ystart(j));
    box.ymax = std::min(box.ymax, table.yend(j));
  }
  return box;
}

bool has_common_region(const OverlapBox& box) { return boxWidth(box) >= 0 && boxHeight(box) >= 0; }

std::string no_overlap_message(const OverlapBox& box) {
  return "Error: the images have no region in common( " + std::to_string(boxWidth(box)) + ", " +
         std::to_string(boxHeight(box)) + " )!\n";
}

std::string overlap_region_text(const OverlapBox& box) {
  const long long w = boxWidth(box);
  const long long h = boxHeight(box);
  return std::to_string(box.xmin + w / 4) + ":" + std::to_string(box.xmax - w / 4) + "," +
         std::to_string(box.ymin + h / 4) + ":" + std::to_string(box.ymax - h / 4);
}

std::string small_overlap_warning(const OverlapBox& box) {
  const long long w = boxWidth(box);
  const long long h = boxHeight(box);
  if (w >= 40 && h >= 40) return "";
  return "Warning: overlapping region in all images is small( " + std::to_string(w) + ", " +
         std::to_string(h) + " )!\n";
}

void write_region_file(const std::string& name, const std::string& text) {
  util::writeReplacingTextFile(name, text);
}

void remove_region_file(const std::string& name) {
  std::error_code error;
  std::filesystem::remove(name, error);
  if (error) throw std::runtime_error("cannot remove '" + name + "': " + error.message());
}
