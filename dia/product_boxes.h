// Reference products opened once for many fits: each file's header is read and its data
// segment mapped on first use, and every later box of it is read from that one mapping.
#ifndef DIA_PRODUCT_BOXES_H
#define DIA_PRODUCT_BOXES_H

#include <memory>
#include <string>
#include <unordered_map>

#include "orv/fits/fits.h"
#include "orv/marray.h"

namespace dia_products {

// Boxes of product files, in image coordinates. A fit over a small box, made thousands of times
// per image (a star at a time), would otherwise spend most of its time opening the ~50 files,
// reading their headers and mapping and unmapping a window of each. The files must not change
// while the object holds them.
class ProductBoxes {
 public:
  ProductBoxes() = default;
  ProductBoxes(const ProductBoxes&) = delete;
  ProductBoxes& operator=(const ProductBoxes&) = delete;

  // The box [x0 … x1] × [y0 … y1] of the image in `file` as a new array indexed from (x0, y0),
  // converted to T as a region read of the file converts it; throws what that read throws
  // for a missing file or a box outside the image.
  template <class T>
  orv::MArray<T, 2> read(const std::string& file, int x0, int x1, int y0, int y1);

 private:
  // The open file, its data segment mapped.
  orv::FitsIn& open__(const std::string& file);

  std::unordered_map<std::string, std::unique_ptr<orv::FitsIn>> files_;
};

}  // namespace dia_products

#endif
