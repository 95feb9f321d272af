// Tests the weighted product sums of packed basis values against a plain loop: row and pixel
// counts off the vector blocks, objects made one after another of falling and rising sizes
// (their storage is reused), and two objects alive at once; and, bit for bit on every processor
// path this machine runs, against the plain loop in the order the sums keep on every path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "dia/normal_matrix.h"
#include "orv/lanes.h"

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
  for (const Shape& s :
       {Shape{52, 8013}, Shape{5, 13}, Shape{1, 1}, Shape{52, 1500}, Shape{7, 9}, Shape{9, 2049}})
    Filled(s.rows, s.pixels, static_cast<unsigned>(s.rows * 7919 + s.pixels)).check();
  // Two objects alive at once keep apart.
  const Filled a(12, 700, 1), b(12, 700, 2);
  b.check();
  a.check();
}

// The sums in their documented order: chunks of kSumChunk pixels, kSumLanes lane sums per
// chunk, each from 0 in pixel order, added up in lane order from 0.
std::vector<double> sumsInLaneOrder(dia_normal::PackedBasis& packed) {
  const int rows = packed.rows();
  const std::size_t pixels = packed.pixels();
  std::vector<double> sums(static_cast<std::size_t>(rows) * rows, 0.0);
  for (int i = 0; i < rows; ++i)
    for (int j = i; j < rows; ++j)
      for (std::size_t k0 = 0; k0 < pixels; k0 += dia_normal::kSumChunk) {
        double lane[dia_normal::kSumLanes] = {};
        for (std::size_t k = k0; k < std::min(pixels, k0 + dia_normal::kSumChunk); ++k)
          lane[k % dia_normal::kSumLanes] += static_cast<double>(packed.row(i)[k]) * packed.weights()[k] *
                                             static_cast<double>(packed.row(j)[k]);
        double chunk = 0.0;
        for (double l : lane) chunk += l;
        sums[static_cast<std::size_t>(i) * rows + j] += chunk;
      }
  return sums;
}

// Every path gives the bits of the plain loop in lane order, whatever the vector width of the
// path: a kernel fit does not depend on the processor it runs on.
TEST(DiaNormalMatrix, EveryPathGivesTheBitsOfTheLaneOrder) {
  struct Shape {
    int rows;
    std::size_t pixels;
  };
  for (const Shape& s : {Shape{36, 3001}, Shape{8, 8}, Shape{5, 13}, Shape{52, 1025}, Shape{1, 1}}) {
    Filled filled(s.rows, s.pixels, static_cast<unsigned>(s.rows * 31 + s.pixels));
    const std::vector<double> expected = sumsInLaneOrder(*filled.packed);
    for (const orv::lanes::Path path : orv::lanes::runnable()) {
      orv::lanes::PathOverride only(path);
      std::vector<double> sums(expected.size(), 0.0);
      filled.packed->addWeightedProducts(sums);
      for (int i = 0; i < s.rows; ++i)
        for (int j = i; j < s.rows; ++j) {
          const std::size_t at = static_cast<std::size_t>(i) * s.rows + j;
          EXPECT_EQ(std::memcmp(&sums[at], &expected[at], sizeof(double)), 0)
              << "path " << orv::lanes::pathName(path) << ", " << s.rows << " rows, " << s.pixels
              << " pixels, (" << i << ", " << j << "): " << sums[at] << " against " << expected[at];
        }
    }
  }
}

}  // namespace
