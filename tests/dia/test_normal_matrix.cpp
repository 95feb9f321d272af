// Tests the weighted product sums of packed basis values against a plain loop: row and pixel
// counts off the vector blocks, objects made one after another of falling and rising sizes
// (their storage is reused), and two objects alive at once.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "dia/normal_matrix.h"

namespace {

// A packed basis of the given shape with values drawn from the seed, and its sums by a plain
// loop in double.
struct Filled {
  std::unique_ptr<dia_normal::PackedBasis> packed;
  std::vector<double> expected;
  Filled(int rows, std::size_t pixels, unsigned seed)
      : packed(std::make_unique<dia_normal::PackedBasis>(rows, pixels)),
        expected(static_cast<std::size_t>(rows) * rows, 0.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(-3.0f, 3.0f);
    std::uniform_real_distribution<double> weight(0.1, 2.0);
    for (std::size_t k = 0; k < pixels; ++k) packed->weights()[k] = weight(rng);
    for (int i = 0; i < rows; ++i)
      for (std::size_t k = 0; k < pixels; ++k) packed->row(i)[k] = value(rng);
    for (int i = 0; i < rows; ++i)
      for (int j = i; j < rows; ++j)
        for (std::size_t k = 0; k < pixels; ++k)
          expected[static_cast<std::size_t>(i) * rows + j] += packed->weights()[k] *
                                                             static_cast<double>(packed->row(i)[k]) *
                                                             static_cast<double>(packed->row(j)[k]);
  }
  void check() const {
    const int rows = packed->rows();
    std::vector<double> sums(expected.size(), 0.0);
    packed->addWeightedProducts(sums);
    for (int i = 0; i < rows; ++i)
      for (int j = i; j < rows; ++j) {
        const std::size_t at = static_cast<std::size_t>(i) * rows + j;
        EXPECT_NEAR(sums[at], expected[at], 1e-11 * (1.0 + std::fabs(expected[at])))
            << rows << " rows, " << packed->pixels() << " pixels, (" << i << ", " << j << ")";
      }
  }
};

TEST(DiaNormalMatrix, SumsEqualPlainLoop) {
  struct Shape {
    int rows;
    std::size_t pixels;
  };
  // Falling then rising sizes: a smaller object takes over the larger one's storage, whose
  // values beyond its own pixels must not count; more than one chunk of pixels.
  for (const Shape& s : {Shape{52, 8013}, Shape{5, 13}, Shape{1, 1}, Shape{52, 1500}, Shape{7, 9}, Shape{9, 2049}})
    Filled(s.rows, s.pixels, static_cast<unsigned>(s.rows * 7919 + s.pixels)).check();
  // Two objects alive at once keep apart.
  const Filled a(12, 700, 1), b(12, 700, 2);
  b.check();
  a.check();
}

}  // namespace
