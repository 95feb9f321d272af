// Tests the ASCII and raw-record light-curve readers.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lightcurve/pellib.h"
#include "orv/fits/ascio.h"
#include "tests/lightcurve/lightcurve_fixtures.h"
#include "tests/support/fifo.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;

// A file of the given text; removed when the test program ends.
std::string tempFile(const std::string& name, const std::string& text) {
  const std::string path = test_support::tempPath(name);
  test_support::writeText(path, text);
  return path;
}

TEST(LightcurveRead, AsciiTables) {
  struct Case {
    const char* label;
    std::string text;
    int nchiCol, boxvalCol, nameCol;
    std::vector<double> jd, flux, error, nchi, boxval;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"three columns, comments",
       "# head\n1.5 2.0 0.1 # trailing\n\n2.5 4.0 0.2\n# mid\n3.5 3.0 0.3\n",
       0,
       0,
       0,
       {1.5, 2.5, 3.5},
       {2, 4, 3},
       {0.1, 0.2, 0.3},
       {0, 0, 0},
       {0, 0, 0},
       {"no file information", "no file information", "no file information"}},
      {"two columns",
       "10 1\n11 2\n",
       0,
       0,
       0,
       {10, 11},
       {1, 2},
       {1, 1},
       {0, 0},
       {0, 0},
       {"no file information", "no file information"}},
      {"extra columns",
       "1 2 3 a.fits 7 8\n4 5 6 b.fits 9 10\n",
       5,
       6,
       4,
       {1, 4},
       {2, 5},
       {3, 6},
       {7, 9},
       {8, 10},
       {"a.fits", "b.fits"}},
      {"one line", "7 1.25 0.5\n", 0, 0, 0, {7}, {1.25}, {0.5}, {0}, {0}, {"no file information"}},
      {"no data line", "# nothing\n", 0, 0, 0, {}, {}, {}, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = tempFile("read.txt", c.text);
    Lightcurve lc;
    lc.read(path, true, c.nchiCol, c.boxvalCol, c.nameCol);
    const int n = static_cast<int>(c.jd.size());
    ASSERT_EQ(lc.getLength(), n);
    EXPECT_EQ(lc.has_data, n > 0);
    EXPECT_TRUE(lc.magnitudes);
    EXPECT_EQ(lc.source_file, path);
    for (int i = 1; i <= n; ++i) {
      EXPECT_EQ(lc.JD(i), c.jd[i - 1]);
      EXPECT_EQ(lc.flux(i), c.flux[i - 1]);
      EXPECT_EQ(lc.error(i), c.error[i - 1]);
      EXPECT_EQ(lc.nchi(i), c.nchi[i - 1]);
      EXPECT_EQ(lc.boxval(i), c.boxval[i - 1]);
      EXPECT_EQ(lc.filename(i), c.names[i - 1]);
      EXPECT_EQ(lc.weights(i), 0.0);
    }
    if (n < 2) {
      EXPECT_EQ(lc.noise, 0.0);
    }
    std::remove(path.c_str());
  }
  // Noise: numpy's scatter about the median.
  const std::string path = tempFile("noise.txt", "1 1.0\n2 1.2\n3 0.7\n4 1.1\n5 0.95\n");
  Lightcurve lc;
  lc.read(path, false, 0, 0, 0);
  const std::vector<double> ref = lightcurve_test::numpyValues(
      "f=np.array([1.0,1.2,0.7,1.1,0.95])\nprint(repr(np.sqrt(np.sum((f-np.median(f))**2)/4)))\n");
  ASSERT_EQ(ref.size(), 1u);
  EXPECT_NEAR(lc.noise, ref[0], 1e-15);
  std::remove(path.c_str());
}

TEST(LightcurveRead, FailuresKeepTheRecord) {
  Lightcurve lc(arrayOf({1, 2}), arrayOf({3, 4}), arrayOf({0.1, 0.1}));
  lc.source_file = "old";
  const std::string bad = tempFile("bad.txt", "1 2 3\n4 x 6\n");
  EXPECT_THROW(lc.read(bad, true, 0, 0, 0), orv::IOException);
  EXPECT_THROW(lc.read(::testing::TempDir() + "missing_lc_file.txt", true, 0, 0, 0), orv::IOException);
  const std::string shortCol = tempFile("short.txt", "1 2 3\n4 5 6\n");
  EXPECT_THROW(lc.read(shortCol, true, 4, 0, 0), orv::IOException);
  EXPECT_EQ(lc.getLength(), 2);
  EXPECT_EQ(lc.flux(2), 4.0);
  EXPECT_FALSE(lc.magnitudes);
  EXPECT_EQ(lc.source_file, "old");
  std::remove(bad.c_str());
  std::remove(shortCol.c_str());
}

TEST(LightcurveRead, RawRecords) {
  // 100 bytes: 4 records of three doubles (4 bytes left over), or 8 of three floats.
  std::vector<double> d(13);
  for (int i = 0; i < 13; ++i) d[i] = 0.5 * i;
  const std::string path = test_support::tempPath("lc_raw");
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(d.data()), 100);
  }
  Lightcurve a, b;
  a.read_binary(path, false);
  ASSERT_EQ(a.getLength(), 4);
  EXPECT_EQ(a.JD(4), 4.5);
  EXPECT_EQ(a.flux(2), 2.0);
  EXPECT_EQ(a.error(3), 4.0);
  b.read_binary_float(path, true);
  ASSERT_EQ(b.getLength(), 8);
  const float* f = reinterpret_cast<const float*>(d.data());
  for (int i = 1; i <= 8; ++i) {
    EXPECT_EQ(b.JD(i), static_cast<double>(f[3 * i - 3]));
    EXPECT_EQ(b.error(i), static_cast<double>(f[3 * i - 1]));
    EXPECT_EQ(b.nchi(i), 0.0);
    EXPECT_EQ(b.boxval(i), 0.0);
    EXPECT_EQ(b.weights(i), 0.0);
    EXPECT_EQ(b.filename(i), "no file information");
  }
  EXPECT_TRUE(b.magnitudes && b.has_data);
  std::remove(path.c_str());
  Lightcurve missing;
  EXPECT_NE(captured([&] { missing.read_binary(path + "_none", false); }), "");
  EXPECT_EQ(missing.getLength(), 0);
  EXPECT_FALSE(missing.has_data);
}

// Files that hold no readable records: a directory (whose reported size is huge), a FIFO
// without a writer (opening it would wait for ever) and a sparse file of more records than a
// curve can index. Each reader says so naming the file and leaves an empty curve.
TEST(LightcurveRead, RawRecordsOfWhatIsNoRecordFile) {
  const std::string dir = test_support::tempPath("lc_raw_directory");
  std::filesystem::create_directories(dir);
  test_support::Fifo fifo(test_support::tempPath("lc_raw_fifo"));
  ASSERT_TRUE(fifo.made);
  const std::string huge = test_support::tempPath("lc_raw_huge");
  { std::ofstream create(huge, std::ios::binary); }
  // 2^31 records of three doubles and more, without a byte on the disk.
  std::filesystem::resize_file(huge, 24ull << 31);
  for (const std::string& path : {dir, fifo.path, huge}) {
    for (const bool floats : {false, true}) {
      SCOPED_TRACE(path + (floats ? " as floats" : " as doubles"));
      Lightcurve lc;
      const std::string said =
          captured([&] { floats ? lc.read_binary_float(path, false) : lc.read_binary(path, false); });
      EXPECT_NE(said.find("error:"), std::string::npos) << said;
      EXPECT_NE(said.find(path), std::string::npos) << said;
      EXPECT_EQ(lc.getLength(), 0);
      EXPECT_FALSE(lc.has_data);
      EXPECT_EQ(lc.JD.numElements(), 0);
    }
  }
  std::filesystem::remove(huge);
}

}  // namespace
