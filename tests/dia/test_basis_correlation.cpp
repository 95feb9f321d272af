// Tests the reference step's correlations in one-dimensional passes against the footprint
// correlation summed in double: equal to 1e-6 of the largest product value for every model
// shape; against convolve2d_circ, whose float sums stray by a few 1e-6 themselves; and the very
// same bits as convolve2d_circ where a kernel does not split or the image is not finite.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "dia/basis_correlation.h"
#include "tests/dia/dia_fixtures.h"

namespace {

using dia_test::Model;
using Image = orv::MArray<float, 2>;

// The stamp box of a star field, indexed from (first, first) as calc_basis hands it over.
Image stampBox(int nx, int ny, int first, unsigned seed) {
  const dia_test::StarField field(nx, ny, seed, nx * ny / 400);
  Image box(orv::Range(first, first + nx - 1), orv::Range(first, first + ny - 1));
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) box(first + x - 1, first + y - 1) = field.image(x, y);
  return box;
}

Image varianceOf(const Image& a) {
  Image b(orv::Range(a.first(1), a.last(1)), orv::Range(a.first(2), a.last(2)));
  for (int y = a.first(2); y <= a.last(2); ++y)
    for (int x = a.first(1); x <= a.last(1); ++x) b(x, y) = a(x, y) * 0.01f + 1.0f;
  return b;
}

orv::MArray<double, 2> kernelOf(const orv::MArray<double, 3>& kernels, int p) {
  return orv::MArray<double, 2>(kernels, orv::Range::all(), orv::Range::all(), p);
}

// First parameter of every basis function, as calc_basis walks them.
std::vector<int> functionParameters(const diffima& e) {
  std::vector<int> ps;
  int p = e.nbg + 1;
  for (int n = 1; n <= e.ngauss; ++n)
    for (int i = 0; i <= e.d(n); ++i)
      for (int j = 0; j <= e.d(n) - i; ++j) {
        ps.push_back(p);
        const int t = (p == e.nbg + e.flux_basis) ? 0 : e.kern_order;
        p += (t + 1) * (t + 2) / 2;
      }
  return ps;
}

// The footprint correlation summed in double, per pixel: the exact value that both the passes
// and convolve2d_circ round.
orv::MArray<double, 2> exactCorrelation(const orv::MArray<double, 2>& kernel, const Image& image) {
  const int hx = kernel.length(1) / 2, hy = kernel.length(2) / 2;
  orv::MArray<double, 2> result(orv::Range(image.first(1), image.last(1)),
                                orv::Range(image.first(2), image.last(2)));
  result = 0.0;
  for (int y = image.first(2) + hy; y <= image.last(2) - hy; ++y)
    for (int x = image.first(1) + hx; x <= image.last(1) - hx; ++x) {
      double sum = 0.0;
      for (int j = -hy; j <= hy; ++j)
        for (int i = -hx; i <= hx; ++i) {
          const double u = i / (hx + 0.5), v = j / (hy + 0.5);
          if (u * u + v * v < 1.0)
            sum += kernel(kernel.first(1) + hx + i, kernel.first(2) + hy + j) * image(x + i, y + j);
        }
      result(x, y) = sum;
    }
  return result;
}

bool sameBits(const Image& a, const Image& b) {
  return a.numElements() == b.numElements() && a.first(1) == b.first(1) && a.first(2) == b.first(2) &&
         std::memcmp(a.firstElement(), b.firstElement(), sizeof(float) * a.numElements()) == 0;
}

struct Case {
  const char* name;
  Model model;
  int nx, ny;
};

Model model(std::vector<int> d, std::vector<double> sig, int hx, int hy, int ko, int bg, int fb) {
  Model m;
  m.d = d;
  m.sig = sig;
  m.half[0] = hx, m.half[1] = hy;
  m.kern_order = ko;
  m.bg_order = bg;
  m.flux_basis = fb;
  return m;
}

class BasisCorrelation : public testing::TestWithParam<Case> {};

// Every product of the passes against convolve2d_circ, the image and variance families each
// measured against their own largest product value.
TEST_P(BasisCorrelation, EqualsTheFootprintCorrelation) {
  const Case& c = GetParam();
  std::unique_ptr<diffima> e(dia_test::makeEngine(c.model, ""));
  const Image image = stampBox(c.nx, c.ny, 7, 11), variance = varianceOf(image);
  dia_basis::BasisCorrelator passes(*e, image, variance);
  for (bool isVariance : {false, true}) {
    const orv::MArray<double, 3>& kernels = isVariance ? e->quad_basis : e->basis;
    const Image& source = isVariance ? variance : image;
    double largest = 0.0, worst = 0.0, worstFloat = 0.0;
    int worstParameter = 0;
    for (int p : functionParameters(*e)) {
      EXPECT_TRUE(passes.splits(p, isVariance)) << "parameter " << p;
      const Image fast = isVariance ? passes.variance(p) : passes.image(p);
      const orv::MArray<double, 2> exact = exactCorrelation(kernelOf(kernels, p), source);
      const Image plain = convolve2d_circ(kernelOf(kernels, p), source);
      ASSERT_EQ(fast.first(1), plain.first(1));
      ASSERT_EQ(fast.last(2), plain.last(2));
      for (int y = plain.first(2); y <= plain.last(2); ++y)
        for (int x = plain.first(1); x <= plain.last(1); ++x) {
          largest = std::max(largest, std::fabs(exact(x, y)));
          const double difference = std::fabs(fast(x, y) - exact(x, y));
          if (difference > worst) worst = difference, worstParameter = p;
          worstFloat = std::max(worstFloat, std::fabs(static_cast<double>(fast(x, y)) - plain(x, y)));
        }
    }
    const char* family = isVariance ? "variance" : "image";
    EXPECT_LE(worst, 1e-6 * largest) << family << ", parameter " << worstParameter;
    EXPECT_LE(worstFloat, 5e-6 * largest) << family;
    EXPECT_GT(largest, 0.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, BasisCorrelation,
    testing::Values(Case{"SkyModel", Model{}, 90, 80},
                    Case{"SkyModelNoBackground", model({6, 4, 2, 0}, {1.0, 3.0, 9.0, 0.1}, 17, 17, 0, -1, 1),
                         70, 75},
                    Case{"SpatialTermsAndEllipse", model({2, 1}, {1.5, 4.0}, 6, 3, 1, 1, 1), 40, 30},
                    Case{"NoZeroSumRule", model({2, 2}, {1.0, 5.0}, 9, 9, 0, 0, 0), 40, 40},
                    Case{"FluxOfAnotherFunction", model({2, 0}, {2.0, 6.0}, 8, 8, 0, 0, 6), 40, 40},
                    Case{"WideCornersOverManyRowsAndColumns", model({2}, {6.0}, 8, 8, 0, -1, 1), 280, 300}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Products asked for in any order, or twice, are the very products of the plan's order: results
// kept or made ahead for later products are made again when a product comes back to them.
TEST(BasisCorrelationOrder, AnyOrderGivesTheSameBits) {
  std::unique_ptr<diffima> e(dia_test::makeEngine(model({2, 1}, {1.0, 6.0}, 8, 8, 0, 0, 1), ""));
  const Image image = stampBox(60, 170, 1, 5), variance = varianceOf(image);
  const std::vector<int> ps = functionParameters(*e);
  std::vector<Image> inOrder;
  {
    dia_basis::BasisCorrelator passes(*e, image, variance);
    for (int p : ps) {
      inOrder.push_back(passes.image(p));
      inOrder.push_back(passes.variance(p));
    }
  }
  dia_basis::BasisCorrelator passes(*e, image, variance);
  for (int round = 0; round < 2; ++round)
    for (std::size_t k = ps.size(); k-- > 0;) {
      EXPECT_TRUE(sameBits(passes.variance(ps[k]), inOrder[2 * k + 1])) << "variance " << ps[k];
      EXPECT_TRUE(sameBits(passes.image(ps[k]), inOrder[2 * k])) << "image " << ps[k];
    }
}

// A kernel that is no longer a Gaussian times a monomial goes through convolve2d_circ; so do
// a non-finite image value and a box too small for the footprint: the very same bits.
TEST(BasisCorrelationFallback, GivesTheFootprintCorrelationItself) {
  std::unique_ptr<diffima> e(dia_test::makeEngine(Model{}, ""));
  e->basis(3, -2, 5) += 1e-3;
  e->quad_basis(1, 0, 9) *= 2.0;
  const Image image = stampBox(60, 50, 1, 3), variance = varianceOf(image);
  {
    dia_basis::BasisCorrelator passes(*e, image, variance);
    EXPECT_FALSE(passes.splits(5, false));
    EXPECT_TRUE(passes.splits(5, true));
    EXPECT_FALSE(passes.splits(9, true));
    EXPECT_TRUE(sameBits(passes.image(5), convolve2d_circ(kernelOf(e->basis, 5), image)));
    EXPECT_TRUE(sameBits(passes.variance(9), convolve2d_circ(kernelOf(e->quad_basis, 9), variance)));
  }
  Image spoilt(orv::Range(1, 60), orv::Range(1, 50));
  spoilt = image;
  spoilt(30, 25) = std::numeric_limits<float>::infinity();
  {
    dia_basis::BasisCorrelator passes(*e, spoilt, Image());
    EXPECT_TRUE(sameBits(passes.image(2), convolve2d_circ(kernelOf(e->basis, 2), spoilt)));
    EXPECT_TRUE(sameBits(passes.image(40), convolve2d_circ(kernelOf(e->basis, 40), spoilt)));
  }
  const Image small = stampBox(30, 50, 1, 4);
  dia_basis::BasisCorrelator passes(*e, small, Image());
  EXPECT_TRUE(sameBits(passes.image(2), convolve2d_circ(kernelOf(e->basis, 2), small)));
}

// Views of larger images, as calc_basis hands them over: the image read in place and the
// results written into the stamp box of a larger frame, the same bits as with arrays of their
// own, the frame beyond the box untouched; a product of convolve2d_circ lands there too.
TEST(BasisCorrelationViews, ReadAndWrittenInPlace) {
  std::unique_ptr<diffima> e(dia_test::makeEngine(Model{}, ""));
  e->basis(3, -2, 5) += 1e-3;
  const Image box = stampBox(70, 60, 11, 6), variance = varianceOf(box);
  auto inLarger = [](const Image& a) {
    Image large(orv::Range(a.first(1) - 5, a.last(1) + 9), orv::Range(a.first(2) - 3, a.last(2) + 2));
    large = -7.0f;
    Image view = large(orv::Range(a.first(1), a.last(1)), orv::Range(a.first(2), a.last(2)));
    view.setBase(a.first(1), a.first(2));
    view = a;
    return std::make_pair(large, view);
  };
  const auto [largeImage, imageView] = inLarger(box);
  const auto [largeVariance, varianceView] = inLarger(variance);
  dia_basis::BasisCorrelator own(*e, box, variance), inPlace(*e, imageView, varianceView);
  for (int p : {2, 5, 27, 40})
    for (bool isVariance : {false, true}) {
      auto [frame, target] = inLarger(Image(orv::Range(11, 80), orv::Range(11, 70)));
      frame = -7.0f;
      const float* const storage = target.firstElement();
      (isVariance ? inPlace.variance(p, target) : inPlace.image(p, target));
      EXPECT_EQ(target.firstElement(), storage) << p;
      const Image want = isVariance ? own.variance(p) : own.image(p);
      for (int y = frame.first(2); y <= frame.last(2); ++y)
        for (int x = frame.first(1); x <= frame.last(1); ++x) {
          const bool inside = x >= 11 && x <= 80 && y >= 11 && y <= 70;
          const float expected = inside ? want(x, y) : -7.0f;
          ASSERT_EQ(std::memcmp(&frame(x, y), &expected, sizeof(float)), 0)
              << "parameter " << p << (isVariance ? " variance" : " image") << " at " << x << ", " << y;
        }
    }
  EXPECT_FALSE(inPlace.splits(5, false));
}

}  // namespace
