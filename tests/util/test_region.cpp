// Index regions: setting, reading, lengths, illegal dimensions, slices and copies.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "util/region.h"
#include "util/uexception.h"

namespace {

const char* const kGet = "request for region parameter of illegal dimension";
const char* const kSet = "request to set region parameter of illegal dimension";

void expectMessage(const std::function<void()>& call, const char* message) {
  try {
    call();
    FAIL() << "nothing thrown, expected: " << message;
  } catch (const util::UException& e) {
    EXPECT_STREQ(e.what(), message);
  }
}

TEST(Region, NewRegionIsAllZeroAndPrints) {
  util::Region r(2);
  EXPECT_EQ(r.N, 2u);
  EXPECT_EQ(r.toString(), "[0:0,0:0]");
  EXPECT_EQ(r.getLength(), 1);
  EXPECT_EQ(r.getLength(1), 1);

  util::Region none(0);
  EXPECT_EQ(none.N, 0u);
  EXPECT_EQ(none.toString(), "[]");
  EXPECT_EQ(none.getLength(), 1);
}

TEST(Region, SettersGettersAndText) {
  util::Region r(2);
  r.setRange(1, 270, 1870);
  r.setStart(2, 280);
  r.setEnd(2, 1880);
  EXPECT_EQ(r.getStart(1), 270);
  EXPECT_EQ(r.getEnd(1), 1870);
  EXPECT_EQ(r.getStart(2), 280);
  EXPECT_EQ(r.getEnd(2), 1880);
  EXPECT_EQ(r.toString(), "[270:1870,280:1880]");
  EXPECT_EQ(r.getLength(), 1601LL * 1601LL);

  util::Region one(1);
  one.setRange(1, -5, 9);
  EXPECT_EQ(one.toString(), "[-5:9]");
}

TEST(Region, LengthsIgnoreOrderAndDoNotOverflow) {
  struct Case {
    int start, end;
    std::int64_t length;
  };
  const Case cases[] = {
      {10, 3, 8},
      {3, 10, 8},
      {7, 7, 1},
      {-2, 2, 5},
      {INT_MIN, INT_MAX, 4294967296LL},
      {INT_MAX, INT_MIN, 4294967296LL},
  };
  for (const auto& c : cases) {
    util::Region r(1);
    r.setRange(1, c.start, c.end);
    EXPECT_EQ(r.getLength(1), c.length) << c.start << ":" << c.end;
    EXPECT_EQ(r.getLength(), c.length) << c.start << ":" << c.end;
  }
  util::Region huge(3);
  for (unsigned long d = 1; d <= 3; ++d) huge.setRange(d, INT_MIN, INT_MAX);
  EXPECT_EQ(huge.getLength(), INT64_MAX);
}

TEST(Region, IllegalDimensionsThrowExactMessagesAndChangeNothing) {
  util::Region r(2);
  r.setRange(1, 1, 100);
  r.setRange(2, 7, 7);
  expectMessage([&] { r.getStart(0); }, kGet);
  expectMessage([&] { r.getStart(3); }, kGet);
  expectMessage([&] { r.getEnd(3); }, kGet);
  expectMessage([&] { r.getLength(0); }, kGet);
  expectMessage([&] { r.getSlice(3, 2); }, kGet);
  expectMessage([&] { r.getSlice(0, 1); }, kGet);
  expectMessage([&] { r.getSlice(2, 3); }, kGet);
  expectMessage([&] { r.setStart(0, 5); }, kSet);
  expectMessage([&] { r.setEnd(3, 5); }, kSet);
  expectMessage([&] { r.setRange(3, 5, 6); }, kSet);
  expectMessage([&] { r.setRegion(util::Region(3)); }, kSet);
  EXPECT_EQ(r.toString(), "[1:100,7:7]");
}

TEST(Region, SliceHoldsTheChosenDimensions) {
  util::Region r(3);
  r.setRange(1, 1, 2);
  r.setRange(2, 3, 4);
  r.setRange(3, 6, 5);
  const util::Region mid = r.getSlice(2, 2);
  EXPECT_EQ(mid.N, 1u);
  EXPECT_EQ(mid.toString(), "[3:4]");
  EXPECT_EQ(r.getSlice(2, 3).toString(), "[3:4,6:5]");
  EXPECT_EQ(r.getSlice(1, 3).toString(), r.toString());
}

TEST(Region, CopiesAreIndependent) {
  util::Region r(2);
  r.setRange(1, 1, 10);
  util::Region copy(r);
  util::Region target(2);
  target.setRegion(r);
  r.setRange(1, 5, 6);
  r.setEnd(2, 9);
  EXPECT_EQ(copy.toString(), "[1:10,0:0]");
  EXPECT_EQ(target.toString(), "[1:10,0:0]");
  copy.setStart(2, 4);
  EXPECT_EQ(r.toString(), "[5:6,0:9]");
}

}  // namespace
