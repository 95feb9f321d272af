// Tests the footprint correlation: footprint cut, offsets, borders, index bases, strides,
// bit identity with the per-pixel loop and agreement with scipy.ndimage.correlate.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/dia/dia_fixtures.h"
#include "tests/dia/dia_plain_correlation.h"

namespace {

using Image = orv::MArray<float, 2>;

Image rampImage(int nx, int ny, int bx = 1, int by = 1) {
  Image a(orv::Range(bx, bx + nx - 1), orv::Range(by, by + ny - 1));
  for (int y = a.first(2); y <= a.last(2); ++y)
    for (int x = a.first(1); x <= a.last(1); ++x) a(x, y) = static_cast<float>(1000 * x + y) * 0.37f;
  return a;
}

template <class K>
orv::MArray<K, 2> kernelOf(int lx, int ly, std::initializer_list<std::pair<std::pair<int, int>, K>> taps) {
  orv::MArray<K, 2> k(lx, ly);  // index base 1: the correlation indexes it from its centre anyway
  k = K(0);
  for (const auto& t : taps) k(t.first.first + lx / 2 + 1, t.first.second + ly / 2 + 1) = t.second;
  return k;
}

bool identical(const Image& a, const Image& b) {
  if (a.first(1) != b.first(1) || a.first(2) != b.first(2) || a.length(1) != b.length(1) ||
      a.length(2) != b.length(2))
    return false;
  for (int y = a.first(2); y <= a.last(2); ++y)
    for (int x = a.first(1); x <= a.last(1); ++x)
      if (std::memcmp(&a(x, y), &b(x, y), sizeof(float)) != 0) return false;
  return true;
}

template <class K>
void checkEdgeCases() {
  const Image img = rampImage(12, 9, 3, -2);
  {  // 3 × 3 keeps all nine taps: the sum of a 3 × 3 box of ones.
    orv::MArray<K, 2> k(3, 3);
    k = K(1);
    const Image r = convolve2d_circ(k, img);
    EXPECT_EQ(r(3 + 5, 0), dia_test::plainCorrelation(k, img)(3 + 5, 0));
    float box = 0;
    for (int j = -1; j <= 1; ++j)
      for (int i = -1; i <= 1; ++i) box += img(8 + i, 0 + j);
    EXPECT_FLOAT_EQ(r(8, 0), box);
  }
  {  // 5 × 5 loses the corners, keeps (±2, ±1).
    const Image r = convolve2d_circ(kernelOf<K>(5, 5, {{{2, 2}, K(1)}, {{-2, -2}, K(1)}}), img);
    EXPECT_EQ(r(8, 2), 0.0f);
    const Image s = convolve2d_circ(kernelOf<K>(5, 5, {{{2, 1}, K(1)}}), img);
    EXPECT_EQ(s(8, 2), img(10, 3));
  }
  {  // 1 × 1 of value c: c·image everywhere, no border.
    const Image r = convolve2d_circ(kernelOf<K>(1, 1, {{{0, 0}, K(2.5)}}), img);
    for (int y = img.first(2); y <= img.last(2); ++y)
      for (int x = img.first(1); x <= img.last(1); ++x) EXPECT_EQ(r(x, y), 2.5f * img(x, y));
  }
  {  // Correlation, not convolution: the tap at (1, 0) reads the pixel to the right; the
     // result keeps the image's index ranges and is 0 in a border of hx, hy.
    const Image r = convolve2d_circ(kernelOf<K>(3, 5, {{{1, 0}, K(1)}}), img);
    EXPECT_EQ(r.first(1), 3);
    EXPECT_EQ(r.first(2), -2);
    EXPECT_EQ(r.last(1), 14);
    for (int y = img.first(2); y <= img.last(2); ++y)
      for (int x = img.first(1); x <= img.last(1); ++x) {
        const bool inside = x >= 4 && x <= 13 && y >= 0 && y <= 4;
        EXPECT_EQ(r(x, y), inside ? img(x + 1, y) : 0.0f) << x << "," << y;
      }
  }
  {  // Even sizes are refused with the message; narrow images give zeros.
    try {
      convolve2d_circ(orv::MArray<K, 2>(4, 3), img);
      ADD_FAILURE() << "no exception";
    } catch (const orv::RangeException& e) {
      EXPECT_STREQ(e.what(), "This convolution only works with odd kernel sizes.");
    }
    orv::MArray<K, 2> k(13, 3);
    k = K(1);
    const Image r = convolve2d_circ(k, img);
    for (int y = img.first(2); y <= img.last(2); ++y)
      for (int x = img.first(1); x <= img.last(1); ++x) EXPECT_EQ(r(x, y), 0.0f);
  }
}

TEST(DiaConvolve2dCirc, EdgeCasesBothInstantiations) {
  checkEdgeCases<float>();
  checkEdgeCases<double>();
}

// A kernel of the sky model (parameter 39: σ 3, x², about 970 non-zero taps).
orv::MArray<double, 2> skyKernel39() {
  std::unique_ptr<diffima> e(dia_test::makeEngine(dia_test::Model{}, ""));
  orv::MArray<double, 2> k(35, 35);
  for (int y = -17; y <= 17; ++y)
    for (int x = -17; x <= 17; ++x) k(x + 18, y + 18) = e->basis(x, y, 39);
  return k;
}

TEST(DiaConvolve2dCirc, BitIdenticalToPerPixelLoop) {
  const orv::MArray<double, 2> k = skyKernel39();
  dia_test::StarField field(2048, 40, 3, 300);
  const Image fast = convolve2d_circ(k, field.image);
  EXPECT_TRUE(identical(fast, dia_test::plainCorrelation(k, field.image)));
  // Special values: an infinite pixel under a zero tap must not poison the sum.
  orv::MArray<float, 2> shifted(5, 5);
  shifted = 0.0f;
  shifted(3, 3) = 1.0f;
  Image withInf = rampImage(300, 7);
  withInf(100, 4) = INFINITY;
  const Image r = convolve2d_circ(shifted, withInf);
  EXPECT_EQ(r(101, 4), withInf(101, 4));
  EXPECT_TRUE(identical(r, dia_test::plainCorrelation(shifted, withInf)));
}

TEST(DiaConvolve2dCirc, ViewsGiveTheValuesOfACopy) {
  const orv::MArray<double, 2> k = skyKernel39();
  dia_test::StarField field(300, 120, 5, 30);
  // A sub-box view (row stride larger than its length) moved to image coordinates.
  Image view = field.image(orv::Range(41, 230), orv::Range(11, 100));
  view.setBase(41, 11);
  Image copy(orv::Range(41, 230), orv::Range(11, 100));
  copy = view;
  EXPECT_TRUE(identical(convolve2d_circ(k, view), convolve2d_circ(k, copy)));
  // A view whose x stride is 2.
  Image strided(field.image);
  strided.setrange(1, orv::Range(1, 299, 2));
  Image stridedCopy(strided.length(1), strided.length(2));
  stridedCopy = strided;
  EXPECT_TRUE(identical(convolve2d_circ(k, strided), convolve2d_circ(k, stridedCopy)));
}

TEST(DiaConvolve2dCirc, AgreesWithScipyCorrelate) {
  const orv::MArray<double, 2> k = skyKernel39();
  dia_test::StarField field(96, 80, 11, 12);
  const std::string dir = test_support::programScratchDir("scipy_correlate");
  {
    std::ofstream img(dir + "image.txt"), ker(dir + "kernel.txt");
    img.precision(9);
    ker.precision(17);
    for (int y = 1; y <= 80; ++y) {
      for (int x = 1; x <= 96; ++x) img << field.image(x, y) << " ";
      img << "\n";
    }
    for (int y = 1; y <= 35; ++y) {
      for (int x = 1; x <= 35; ++x) ker << static_cast<float>(k(x, y)) << " ";
      ker << "\n";
    }
  }
  const std::string script = "import numpy as np\nfrom scipy import ndimage\n"
                             "img=np.loadtxt('" + dir + "image.txt')\nk=np.loadtxt('" + dir + "kernel.txt')\n" +
                             R"(Y,X=np.mgrid[-17:18,-17:18]
k=np.where((X/17.5)**2+(Y/17.5)**2<1,k,0.0)
r=ndimage.correlate(img,k,mode='constant')
for v in r[17:-17,17:-17].ravel(): print(repr(v))
)";
  const std::vector<double> expected = test_support::numbersIn(test_support::runPython(script).out);
  ASSERT_EQ(expected.size(), static_cast<size_t>((96 - 34) * (80 - 34)));
  const Image r = convolve2d_circ(k, field.image);
  // The kernel sums to zero, so values cancel: the scale is the largest value of the field.
  double largest = 0;
  for (double v : expected) largest = std::max(largest, std::fabs(v));
  size_t n = 0;
  for (int y = 18; y <= 80 - 17; ++y)
    for (int x = 18; x <= 96 - 17; ++x, ++n)
      EXPECT_NEAR(r(x, y), expected[n], 1e-5 * largest) << x << "," << y;
}

}  // namespace
