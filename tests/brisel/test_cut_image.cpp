// Copying one image and its error image into a frame block by block: every placement of the
// image against the frame and every size of block give the pixels of a hand loop.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "brisel/cut_image.h"
#include "orv/fits/fits.h"
#include "tests/brisel/brisel_fixtures.h"

namespace {

constexpr int kWidth = 23, kHeight = 17;

// Distinct values, and a second set for the error image.
float pixel(int i, int j, bool error) { return static_cast<float>(i + 100 * j) + (error ? 0.5f : 0.0f); }

void writeImage(const std::string& file, bool error) {
  orv::MArray<float, 2> a(kWidth, kHeight);
  for (int j = 1; j <= kHeight; ++j)
    for (int i = 1; i <= kWidth; ++i) a(i, j) = pixel(i, j, error);
  orv::FitsOut out(file);
  out.addValueCard("CRPIX1  ", 10, "", true);
  out.addValueCard("CRPIX2  ", 8, "", true);
  out << a;
}

// The table of the one test image, its pixel (1, 1) placed at frame pixel (xstart, ystart).
ImageTable placedTable(int xstart, int ystart) {
  ImageTable table(1);
  table.naxis1(1) = kWidth;
  table.naxis2(1) = kHeight;
  table.crpix1(1) = 10;
  table.crpix2(1) = 8;
  table.xstart(1) = xstart;
  table.xend(1) = xstart + kWidth - 1;
  table.ystart(1) = ystart;
  table.yend(1) = ystart + kHeight - 1;
  return table;
}

struct Case {
  int xstart, ystart;  // frame pixel of input pixel (1, 1)
  int width, height;   // of the frame
  int blockRows;
};

TEST(CutImage, EveryPlacementAndBlockSizeGivesTheHandLoop) {
  const Case cases[] = {
      {1, 1, kWidth, kHeight, 1},  {1, 1, kWidth, kHeight, 100},
      {-4, 3, 20, 15, 3},          {5, -6, 30, 12, 4},
      {3, 5, 30, 30, 7},           {-30, 1, 20, 17, 5},
      {1, 40, kWidth, kHeight, 2}, {2, -20, 25, 9, 3},
  };
  const test_support::ScratchDir scratch("brisel_test");
  const std::string dir = scratch.path;
  writeImage(dir + "in.fits", false);
  writeImage(dir + "e.in.fits", true);
  for (const Case& c : cases) {
    SCOPED_TRACE("start " + std::to_string(c.xstart) + "," + std::to_string(c.ystart) + " frame " +
                 std::to_string(c.width) + "x" + std::to_string(c.height) + " block " +
                 std::to_string(c.blockRows));
    const ImageTable table = placedTable(c.xstart, c.ystart);
    const Frame frame{10, 8, c.width, c.height};
    const CutFiles files{dir + "in.fits", dir + "out.fits", dir + "e.in.fits", dir + "e.out.fits"};
    const long rowBytes = std::max(c.width, kWidth) * static_cast<long>(sizeof(float));
    cut_image(files, true, table, 1, frame, c.blockRows * rowBytes);

    for (const bool error : {false, true}) {
      orv::FitsIn in(error ? files.errorOutput : files.output, true);
      orv::MArray<float, 2> out;
      in >> out;
      ASSERT_EQ(out.length(1), c.width);
      ASSERT_EQ(out.length(2), c.height);
      int wrong = 0;
      for (int k = 1; k <= c.height; ++k) {
        for (int l = 1; l <= c.width; ++l) {
          const int i = l - c.xstart + 1, j = k - c.ystart + 1;
          const bool inside = i >= 1 && i <= kWidth && j >= 1 && j <= kHeight;
          const float want = inside ? pixel(i, j, error) : 0.0f;
          if (out(l, k) != want && ++wrong <= 3)
            ADD_FAILURE() << (error ? "error " : "") << "pixel (" << l << ", " << k << "): " << out(l, k)
                          << ", want " << want;
        }
      }
    }
  }
}

// An undefined pixel of an integer image: one in five holds the BLANK value.
constexpr int kBlank = -32768;
bool undefinedPixel(int i, int j) { return (i + 3 * j) % 5 == 0; }

// A 16-bit image of the pixels i + 100 j (plus 1 for the error image) stored with BZERO
// bzero, and the BLANK value on its undefined pixels.
void writeBlankImage(const std::string& file, double bzero, bool error) {
  orv::MArray<float, 2> stored(kWidth, kHeight);
  for (int j = 1; j <= kHeight; ++j)
    for (int i = 1; i <= kWidth; ++i)
      stored(i, j) = undefinedPixel(i, j) ? static_cast<float>(kBlank)
                                          : static_cast<float>(i + 100 * j + (error ? 1 : 0));
  orv::FitsOut out(file);
  out.addValueCard("CRPIX1  ", 10, "", true);
  out.addValueCard("CRPIX2  ", 8, "", true);
  out.addValueCard("BLANK   ", kBlank, "", true);
  if (bzero != 0.0) out.addValueCard("BZERO   ", bzero, "", true);
  out.setBitpixOut(16);
  out << stored;
}

// Undefined pixels stay undefined in every block, in the image and in its error image: an
// unscaled image keeps BITPIX 16, the BLANK value and its card; a scaled one is cut to floats,
// NaN on its undefined pixels. Read back, both give NaN there and the physical values elsewhere.
TEST(CutImage, UndefinedPixelsStayUndefinedInEveryBlock) {
  const test_support::ScratchDir scratch("brisel_test");
  const std::string dir = scratch.path;
  for (const double bzero : {0.0, 1000.0}) {
    writeBlankImage(dir + "in.fits", bzero, false);
    writeBlankImage(dir + "e.in.fits", bzero, true);
    for (const int blockRows : {1, 4, 100}) {
      SCOPED_TRACE("BZERO " + std::to_string(bzero) + " block " + std::to_string(blockRows));
      const int xstart = -4, ystart = 3, width = 20, height = 15;
      const ImageTable table = placedTable(xstart, ystart);
      const CutFiles files{dir + "in.fits", dir + "out.fits", dir + "e.in.fits", dir + "e.out.fits"};
      const long rowBytes = std::max(width, kWidth) * static_cast<long>(sizeof(double));
      cut_image(files, true, table, 1, Frame{10, 8, width, height}, blockRows * rowBytes);

      for (const bool error : {false, true}) {
        orv::FitsIn in(error ? files.errorOutput : files.output, true);
        if (bzero == 0.0) {
          EXPECT_EQ(in.getBitpix(), 16);
          EXPECT_EQ(in.getInt("BLANK   "), kBlank);
        } else {
          EXPECT_EQ(in.getBitpix(), -32);
        }
        orv::MArray<float, 2> out;
        in >> out;
        int wrong = 0;
        for (int k = 1; k <= height; ++k) {
          for (int l = 1; l <= width; ++l) {
            const int i = l - xstart + 1, j = k - ystart + 1;
            const bool inside = i >= 1 && i <= kWidth && j >= 1 && j <= kHeight;
            const bool undefined = inside && undefinedPixel(i, j);
            const float want = !inside ? 0.0f : static_cast<float>(i + 100 * j + (error ? 1 : 0) + bzero);
            const bool right = undefined ? std::isnan(out(l, k)) : out(l, k) == want;
            if (!right && ++wrong <= 3)
              ADD_FAILURE() << (error ? "error " : "") << "pixel (" << l << ", " << k << "): " << out(l, k)
                            << ", want " << (undefined ? "NaN" : std::to_string(want));
          }
        }
      }
    }
  }
}

}  // namespace
