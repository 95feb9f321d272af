// Tests boxes read through product files held open: equal to a region read of the file, for
// several boxes of one file and for the element types of the products, and the same refusals.
#include <gtest/gtest.h>

#include "dia/product_boxes.h"
#include "orv/fits/fits_exception.h"
#include "orv/fits/fits_image.h"
#include "tests/support/scratch_dir.h"

namespace {

template <class T>
void expectSameBox(const orv::MArray<T, 2>& a, const orv::MArray<T, 2>& b) {
  ASSERT_EQ(a.first(1), b.first(1));
  ASSERT_EQ(a.last(1), b.last(1));
  ASSERT_EQ(a.first(2), b.first(2));
  ASSERT_EQ(a.last(2), b.last(2));
  for (int y = a.first(2); y <= a.last(2); ++y)
    for (int x = a.first(1); x <= a.last(1); ++x) ASSERT_EQ(a(x, y), b(x, y)) << x << "," << y;
}

TEST(DiaProductBoxes, BoxesEqualRegionReads) {
  const std::string dir = test_support::programScratchDir("product_boxes");
  orv::MArray<float, 2> values(300, 200);
  orv::MArray<short, 2> mask(300, 200);
  for (int y = 1; y <= 200; ++y)
    for (int x = 1; x <= 300; ++x) {
      values(x, y) = static_cast<float>(x * 0.25 - y * 1.5e3 + 1.0 / (x + y));
      mask(x, y) = static_cast<short>((x * 7 + y * 3) % 5 - 2);
    }
  orv::writeFitsImage(dir + "v.fits", values);
  orv::writeFitsImage(dir + "m.fits", mask);
  // A scaled file: 16-bit integers with BZERO and BSCALE, read back as floats.
  {
    orv::FitsOut out(dir + "s.fits");
    out.setBitpixOut(16);
    out.addValueCard("BZERO   ", 100.0, "", true);
    out.addValueCard("BSCALE  ", 0.5, "", true);
    orv::MArray<float, 2> scaled(300, 200);
    for (int y = 1; y <= 200; ++y)
      for (int x = 1; x <= 300; ++x) scaled(x, y) = static_cast<float>(100.0 + 0.5 * ((x + 2 * y) % 97));
    out << scaled;
  }
  dia_products::ProductBoxes files;
  struct Box {
    int x0, x1, y0, y1;
  };
  for (const Box& b : {Box{1, 300, 1, 200}, Box{40, 140, 60, 160}, Box{45, 145, 58, 158}, Box{299, 300, 1, 2},
                       Box{1, 2, 199, 200}, Box{200, 300, 100, 200}}) {
    expectSameBox(files.read<float>(dir + "v.fits", b.x0, b.x1, b.y0, b.y1),
                  orv::readFitsBox<float>(dir + "v.fits", b.x0, b.x1, b.y0, b.y1));
    expectSameBox(files.read<short>(dir + "m.fits", b.x0, b.x1, b.y0, b.y1),
                  orv::readFitsBox<short>(dir + "m.fits", b.x0, b.x1, b.y0, b.y1));
    expectSameBox(files.read<float>(dir + "s.fits", b.x0, b.x1, b.y0, b.y1),
                  orv::readFitsBox<float>(dir + "s.fits", b.x0, b.x1, b.y0, b.y1));
  }
  // A box beyond the image and a missing file are refused as a region read refuses them; the
  // file stays usable after a refused box.
  for (const Box& b : {Box{0, 10, 1, 10}, Box{290, 301, 1, 10}, Box{1, 10, 195, 201}})
    EXPECT_THROW(files.read<float>(dir + "v.fits", b.x0, b.x1, b.y0, b.y1), orv::FitsException);
  EXPECT_THROW(files.read<float>(dir + "none.fits", 1, 2, 1, 2), orv::FitsException);
  EXPECT_EQ(files.read<float>(dir + "v.fits", 7, 7, 9, 9)(7, 9), values(7, 9));
}

}  // namespace
