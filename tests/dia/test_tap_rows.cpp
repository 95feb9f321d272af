// Tests the correlation rows on every processor path this machine runs against the plain loop,
// byte for byte: float and double, setting and adding, row lengths around the vector and block
// widths of every path, taps before and after the output pixel, and no taps at all.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dia/tap_rows.h"
#include "orv/lanes.h"

namespace {

using orv::lanes::Path;

struct Case {
  const char* label;
  std::vector<std::ptrdiff_t> offsets;  // one tap each, from the output pixel
};

// The row lengths: empty, one pixel, and either side of every vector and block width.
const int kCounts[] = {0,  1,  2,  3,  4,  5,  7,   8,   9,   15,  16, 17,
                       31, 32, 33, 63, 64, 65, 127, 128, 129, 200, 257};

const Case kCases[] = {
    {"no taps", {}},
    {"one tap on the pixel", {0}},
    {"taps on both sides", {-3, -1, 0, 2, 5}},
    {"taps of other rows", {-300, -151, 1, 149, 302}},
};

template <class T, bool ADD>
void checkEveryPath() {
  constexpr std::ptrdiff_t margin = 320, longest = 257;
  std::mt19937 rng(52);
  std::uniform_real_distribution<T> value(T(-4), T(4));
  std::vector<T> source(margin + longest + margin), start(longest);
  for (T& v : source) v = value(rng);
  for (T& v : start) v = value(rng);
  source[margin + 40] = T(0) * T(-1);  // a negative zero among the pixels
  for (const Case& c : kCases) {
    std::vector<dia_taps::Tap<T>> taps;
    for (std::ptrdiff_t offset : c.offsets) taps.push_back({offset, value(rng)});
    for (int count : kCounts) {
      std::vector<T> expected = start;
      dia_taps::correlateRowPlain<T, ADD>(taps.data(), taps.size(), &source[margin], expected.data(), count);
      for (const Path path : orv::lanes::runnable()) {
        orv::lanes::PathOverride only(path);
        std::vector<T> got = start;
        dia_taps::rowFunction<T, ADD>()(taps.data(), taps.size(), &source[margin], got.data(), count);
        EXPECT_EQ(std::memcmp(got.data(), expected.data(), sizeof(T) * got.size()), 0)
            << c.label << ", " << count << " pixels, path " << orv::lanes::pathName(path)
            << (ADD ? ", adding" : ", setting");
      }
    }
  }
}

TEST(DiaTapRows, EveryPathEqualsThePlainLoop) {
  checkEveryPath<float, false>();
  checkEveryPath<float, true>();
  checkEveryPath<double, false>();
  checkEveryPath<double, true>();
}

// The plain loop itself against sums written out by hand.
TEST(DiaTapRows, PlainLoopSumsInTapOrder) {
  const float source[] = {1.0f, 2.0f, 4.0f, 8.0f, 16.0f};
  const dia_taps::Tap<float> taps[] = {{-1, 0.5f}, {1, 3.0f}};
  float row[3] = {100.0f, 100.0f, 100.0f};
  dia_taps::correlateRowPlain<float, false>(taps, 2, source + 1, row, 3);
  EXPECT_EQ(row[0], 0.5f * 1.0f + 3.0f * 4.0f);
  EXPECT_EQ(row[2], 0.5f * 4.0f + 3.0f * 16.0f);
  dia_taps::correlateRowPlain<float, true>(taps, 2, source + 1, row, 1);
  EXPECT_EQ(row[0], 2.0f * (0.5f * 1.0f + 3.0f * 4.0f));
}

}  // namespace
