// Image files in one call: what writeFitsImage writes with each BITPIX reads back through
// readFitsImage, passes fitsverify, and a box comes back indexed where it lies in the image.
#include <gtest/gtest.h>

#include "orv/fits/fits_image.h"
#include "tests/orv/fits/fits_fixtures.h"

namespace {

// Whole numbers from 0 to 250: every BITPIX holds them exactly.
orv::MArray<double, 2> ramp(int nx, int ny) {
  orv::MArray<double, 2> a(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) a(x, y) = (x + 10 * y) % 251;
  return a;
}

class FitsImageBitpix : public testing::TestWithParam<int> {};

TEST_P(FitsImageBitpix, WrittenImageHasTheBitpixAndReadsBack) {
  const int bitpix = GetParam();
  const std::string file =
      test_support::programScratchDir("orv_fits") + "image_" + std::to_string(bitpix + 100) + ".fits";
  const orv::MArray<double, 2> written = ramp(13, 7);
  orv::writeFitsImage(file, written, bitpix);

  EXPECT_EQ(orv::FitsIn(file, true).getBitpix(), bitpix);
  EXPECT_EQ(test_support::fitsverifyVerdict(file), "clean");
  const orv::MArray<double, 2> back = orv::readFitsImage<double>(file);
  ASSERT_EQ(back.length(1), 13);
  ASSERT_EQ(back.length(2), 7);
  EXPECT_EQ(back.first(1), 1);
  EXPECT_EQ(back.first(2), 1);
  for (int y = 1; y <= 7; ++y)
    for (int x = 1; x <= 13; ++x) EXPECT_EQ(back(x, y), written(x, y)) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(EveryBitpix, FitsImageBitpix, testing::Values(8, 16, 32, -32, -64));

TEST(FitsImage, BitpixFollowsTheElementTypeUnlessGiven) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  orv::MArray<short, 1> shorts(5);
  shorts = 1;
  const orv::MArray<double, 2> doubles = ramp(3, 4);
  orv::MArray<float, 2> floats(3, 4);
  floats = doubles;
  orv::writeFitsImage(dir + "image_short.fits", shorts);
  orv::writeFitsImage(dir + "image_float.fits", floats);
  orv::writeFitsImage(dir + "image_double.fits", doubles);
  EXPECT_EQ(orv::FitsIn(dir + "image_short.fits", true).getBitpix(), 16);
  EXPECT_EQ(orv::FitsIn(dir + "image_float.fits", true).getBitpix(), -32);
  EXPECT_EQ(orv::FitsIn(dir + "image_double.fits", true).getBitpix(), -64);
}

TEST(FitsImage, BoxIsIndexedInImageCoordinates) {
  const std::string file = test_support::programScratchDir("orv_fits") + "image_box.fits";
  const orv::MArray<double, 2> whole = ramp(20, 15);
  orv::writeFitsImage(file, whole, -32);

  const orv::MArray<float, 2> box = orv::readFitsBox<float>(file, 4, 9, 11, 15);
  EXPECT_EQ(box.first(1), 4);
  EXPECT_EQ(box.last(1), 9);
  EXPECT_EQ(box.first(2), 11);
  EXPECT_EQ(box.last(2), 15);
  for (int y = 11; y <= 15; ++y)
    for (int x = 4; x <= 9; ++x) EXPECT_EQ(box(x, y), whole(x, y)) << x << "," << y;
}

}  // namespace
