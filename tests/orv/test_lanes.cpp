// The path chooser of the kernels: the widest path this processor runs unless a test overrides it,
// and the vector type's lanes.
#include <gtest/gtest.h>

#include <cstring>

#include "orv/lanes.h"

namespace {

using orv::lanes::Path;

int onBaseline() { return 0; }
int onAvx2() { return 1; }
int onAvx512() { return 2; }

TEST(Lanes, ChosenPathIsTheWidestRunnableUnlessOverridden) {
  const std::vector<Path> paths = orv::lanes::runnable();
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(paths.front(), Path::baseline);
  EXPECT_EQ(orv::lanes::chosen(), paths.back());
  for (Path path : paths) {
    orv::lanes::PathOverride only(path);
    EXPECT_EQ(orv::lanes::chosen(), path);
    EXPECT_EQ(orv::lanes::pick(onBaseline, onAvx2, onAvx512)(), static_cast<int>(path))
        << orv::lanes::pathName(path);
    {
      orv::lanes::PathOverride inner(Path::baseline);
      EXPECT_EQ(orv::lanes::chosen(), Path::baseline);
    }
    EXPECT_EQ(orv::lanes::chosen(), path);  // an override ends by restoring the one before
  }
  EXPECT_EQ(orv::lanes::chosen(), paths.back());
}

TEST(Lanes, VectorHoldsItsLanesInOrder) {
  orv::lanes::Vector<double, 4> v;
  const double values[4] = {1.5, -2.0, 3.25, 0.0};
  std::memcpy(&v, values, sizeof v);
  v = v * 2.0 + 1.0;
  EXPECT_EQ(sizeof v, 32u);
  EXPECT_EQ(v[0], 4.0);
  EXPECT_EQ(v[1], -3.0);
  EXPECT_EQ(v[2], 7.5);
  EXPECT_EQ(v[3], 1.0);
}

}  // namespace
