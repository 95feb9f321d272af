// Tests the masking of basis-image rows on every processor path this machine runs against the
// plain loop, byte for byte: row lengths around the sixteen values of a step, rows masked in
// place, and values whose bits a comparison would change (not-a-numbers, negative zeros,
// infinities, subnormals).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dia/usable_values.h"
#include "orv/lanes.h"

namespace {

TEST(DiaUsableValues, EveryPathEqualsThePlainLoop) {
  constexpr int longest = 200;
  std::mt19937 rng(49);
  std::uniform_real_distribution<float> value(-5.0f, 5.0f);
  std::vector<float> from(longest);
  std::vector<std::uint8_t> keep(longest);
  for (int k = 0; k < longest; ++k) {
    from[k] = value(rng);
    keep[k] = rng() % 3 == 0 ? 0 : 0xff;
  }
  const float odd[] = {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
                       -0.0f, std::numeric_limits<float>::infinity(),
                       std::numeric_limits<float>::denorm_min()};
  for (int k = 0; k < 5; ++k) from[3 * k + 1] = from[3 * k + 2] = from[40 + k] = odd[k];
  for (int count : {0, 1, 15, 16, 17, 31, 32, 33, 47, 48, 100, longest}) {
    std::vector<float> expected(longest, 9.0f), expectedInPlace = from;
    dia_usable::keepUsablePlain(from.data(), keep.data(), expected.data(), count);
    dia_usable::keepUsablePlain(expectedInPlace.data(), keep.data(), expectedInPlace.data(), count);
    for (const orv::lanes::Path path : orv::lanes::runnable()) {
      orv::lanes::PathOverride only(path);
      std::vector<float> got(longest, 9.0f), inPlace = from;
      dia_usable::keepUsable(from.data(), keep.data(), got.data(), count);
      dia_usable::keepUsable(inPlace.data(), keep.data(), inPlace.data(), count);
      EXPECT_EQ(std::memcmp(got.data(), expected.data(), sizeof(float) * longest), 0)
          << count << " values, path " << orv::lanes::pathName(path);
      EXPECT_EQ(std::memcmp(inPlace.data(), expectedInPlace.data(), sizeof(float) * longest), 0)
          << count << " values in place, path " << orv::lanes::pathName(path);
    }
  }
}

// The plain loop keeps the bits of a kept value and writes +0.0 for a masked one.
TEST(DiaUsableValues, PlainLoopKeepsBitsAndClearsToPositiveZero) {
  const float from[] = {-0.0f, std::numeric_limits<float>::quiet_NaN(), -3.5f};
  const std::uint8_t keep[] = {0xff, 0xff, 0};
  float to[3];
  dia_usable::keepUsablePlain(from, keep, to, 3);
  EXPECT_EQ(std::memcmp(to, from, 2 * sizeof(float)), 0);
  const float zero = 0.0f;
  EXPECT_EQ(std::memcmp(&to[2], &zero, sizeof(float)), 0);
}

}  // namespace
