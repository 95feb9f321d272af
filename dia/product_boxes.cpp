#include "dia/product_boxes.h"

#include "orv/fits/fits_region.h"
#include "util/region.h"

namespace dia_products {

orv::FitsIn& ProductBoxes::open__(const std::string& file) {
  auto found = files_.find(file);
  if (found != files_.end()) return *found->second;
  // A region of the whole image maps the segment lazily: only the pages that boxes reach are
  // ever read in.
  auto in = std::make_unique<orv::FitsIn>(file);
  in->setRegion(in->getFullRegion());
  in->begin();
  return *files_.emplace(file, std::move(in)).first->second;
}

template <class T>
orv::MArray<T, 2> ProductBoxes::read(const std::string& file, int x0, int x1, int y0, int y1) {
  util::Region box(2);
  box.setRange(1, x0, x1);
  box.setRange(2, y0, y1);
  orv::FitsIn& in = open__(file);
  orv::checkRegionInside(in.getFullRegion(), box);  // refused before anything is allocated
  orv::MArray<T, 2> a(orv::Range(x0, x1), orv::Range(y0, y1));
  in.readBox(box, &a(x0, y0));
  return a;
}

template orv::MArray<float, 2> ProductBoxes::read<float>(const std::string&, int, int, int, int);
template orv::MArray<short, 2> ProductBoxes::read<short>(const std::string&, int, int, int, int);

}  // namespace dia_products
