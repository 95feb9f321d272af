// PSF files: the two error-name rules, the oversampling names, crop and pad on
// read, the shift-table files, size checks, and clean FITS output.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "orv/fits/fits.h"
#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

namespace {

namespace fs = std::filesystem;

// Cell (i, j) of a test grid: distinct, exact in single precision.
double cellValue(int i, int j) { return 100.0 + i + 0.25 * j; }

psf numberedPsf(int analyt, int subgrid) {
  psf p(2, analyt, subgrid, 0);
  const int N = p.get_slen();
  for (int j = -N; j <= N; ++j) {
    for (int i = -N; i <= N; ++i) {
      p.get_psf()(i, j) = cellValue(i, j);
      p.get_epsf()(i, j) = 0.5 * cellValue(i, j);
    }
  }
  return p;
}

orv::MArray<float, 2> readFile(const std::string& name) {
  orv::FitsIn in(name);
  orv::MArray<float, 2> a;
  in >> a;
  return a;
}

class PsfFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir = test_support::programScratchDir("psf_files");
    fs::create_directories(dir + "/d");
    previous = fs::current_path();
    fs::current_path(dir);
  }
  void TearDown() override { fs::current_path(previous); }
  std::string dir;
  fs::path previous;
};

TEST_F(PsfFiles, ErrorNamesAndReadBack) {
  psf p = numberedPsf(2, 3);  // N = 7
  // write_psf puts "e." before the whole name (a directory "e.d" must exist),
  // read_psf after the directory.
  EXPECT_THROW(p.write_psf("d/p.fits"), orv::FitsException);
  EXPECT_TRUE(fs::exists("d/p.fits"));
  fs::create_directories("e.d");
  p.write_psf("d/p.fits");
  ASSERT_TRUE(fs::exists("e.d/p.fits"));
  fs::copy_file("e.d/p.fits", "d/e.p.fits");

  psf q(2, 4, 5, 0);
  q.read_psf("d/p.fits");
  EXPECT_EQ(q.get_slen(), 7);
  EXPECT_EQ(q.get_analyt(), 4);
  EXPECT_EQ(q.get_psf().first(1), -7);
  EXPECT_EQ(q.get_epsf().last(2), 7);
  for (int j = -7; j <= 7; ++j) {
    for (int i = -7; i <= 7; ++i) {
      EXPECT_EQ(q.get_psf()(i, j), cellValue(i, j));
      EXPECT_EQ(q.get_epsf()(i, j), 0.5 * cellValue(i, j));
    }
  }
  for (const char* f : {"d/p.fits", "e.d/p.fits"}) psf_test::expectFitsverifyClean(f);
}

TEST_F(PsfFiles, OversamplingNamesCropAndPad) {
  psf file = numberedPsf(4, 5);  // N = 22, files 45 x 45
  file.writefits_psf("d/p.fits");
  ASSERT_TRUE(fs::exists("d/psf_0005_p.fits"));
  ASSERT_TRUE(fs::exists("d/e.psf_0005_p.fits"));
  psf_test::expectFitsverifyClean("d/psf_0005_p.fits");

  struct Case {
    int analyt;  // object N = 5·analyt + 2
  };
  for (const Case c : {Case{8}, Case{2}, Case{4}}) {
    psf q(2, c.analyt, 5, 0);
    const int N = q.get_slen();
    testing::internal::CaptureStdout();
    q.readfits_psf("d/p.fits");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(" psf = d/psf_0005_p.fits\n"), std::string::npos);
    EXPECT_NE(out.find("_slen = " + std::to_string(N) + "\n_file_slen = 22\n"), std::string::npos) << out;
    EXPECT_EQ(q.get_psf().last(1), N);
    for (int j = -N; j <= N; ++j) {
      for (int i = -N; i <= N; ++i) {
        const bool inFile = std::abs(i) <= 22 && std::abs(j) <= 22;
        EXPECT_EQ(q.get_psf()(i, j), inFile ? cellValue(i, j) : 0.0) << N << " " << i << "," << j;
        EXPECT_EQ(q.get_epsf()(i, j), inFile ? 0.5 * cellValue(i, j) : 0.0);
      }
    }
  }
}

TEST_F(PsfFiles, BinnedFilesNamedByShift) {
  psf p = numberedPsf(2, 5);
  p.calc_base(3, 0);
  p.write_binned_psf("b.fits");
  EXPECT_EQ(readFile("b.fits")(3, 3), p.get_binned_psf()(0, 0));
  EXPECT_EQ(readFile("e.b.fits")(1, 5), static_cast<float>(p.get_ebinned_psf()(-2, 2)));
  fs::create_directories("e.d");
  p.write_binned("d/b");
  const char* shifts[] = {"000-1", "000", "001"};
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      const std::string name = std::string("d/b_") + shifts[a] + "_" + shifts[b] + ".fits";
      ASSERT_TRUE(fs::exists(name)) << name;
      ASSERT_TRUE(fs::exists("e." + name)) << name;
      const orv::MArray<float, 2> t = readFile(name);
      const orv::MArray<float, 2> e = readFile("e." + name);
      ASSERT_EQ(t.length(1), 5);
      for (int i = -2; i <= 2; ++i) {
        for (int j = -2; j <= 2; ++j) {
          EXPECT_EQ(t(i + 3, j + 3), static_cast<float>(p.get_all_binned_psf()(a - 1, b - 1, i, j)));
          EXPECT_EQ(e(i + 3, j + 3), static_cast<float>(p.get_all_ebinned_psf()(a - 1, b - 1, i, j)));
        }
      }
    }
  }
  psf_test::expectFitsverifyClean("d/b_000-1_001.fits");
  psf_test::expectFitsverifyClean("e.d/b_001_000.fits");
  // astropy reads every kind of file as BITPIX -32.
  const std::string out = test_support::pythonOutputIn(dir, R"(
from astropy.io import fits
for f in ['d/p.fits', 'b.fits', 'e.b.fits', 'd/b_000_000.fits', 'e.d/b_000_000.fits']:
    try:
        h = fits.getheader(f)
        print(f, h['BITPIX'], h['NAXIS1'], h['NAXIS2'])
    except FileNotFoundError:
        pass
)");
  EXPECT_NE(
      out.find("b.fits -32 5 5\ne.b.fits -32 5 5\nd/b_000_000.fits -32 5 5\ne.d/b_000_000.fits -32 5 5"),
      std::string::npos)
      << out;
}

// Images that are not square, of even width or of unequal size leave the
// object unchanged with the message; a missing file throws and changes nothing.
TEST_F(PsfFiles, UnusableImagesLeaveTheObjectUnchanged) {
  struct Case {
    int w1, h1, w2, h2;
  };
  const Case cases[] = {{5, 7, 5, 7}, {6, 6, 6, 6}, {7, 7, 5, 5}, {7, 7, 7, 9}};
  for (const Case& c : cases) {
    {
      orv::MArray<float, 2> a(c.w1, c.h1), b(c.w2, c.h2);
      a = 1.0f;
      b = 1.0f;
      orv::FitsOut o1("d/s.fits");
      o1 << a;
      orv::FitsOut o2("d/e.s.fits");
      o2 << b;
      orv::FitsOut o3("d/psf_0005_s.fits");
      o3 << a;
      orv::FitsOut o4("d/e.psf_0005_s.fits");
      o4 << b;
    }
    psf q = numberedPsf(2, 5);
    const double* data = q.get_psf().getData();
    testing::internal::CaptureStdout();
    q.read_psf("d/s.fits");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("error: wrong psf-size\n"), std::string::npos);
    testing::internal::CaptureStdout();
    q.readfits_psf("d/s.fits");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("error: wrong psf-size\n"), std::string::npos);
    EXPECT_EQ(q.get_slen(), 12);
    EXPECT_EQ(q.get_psf().getData(), data);
    EXPECT_EQ(q.get_psf()(3, -4), cellValue(3, -4));
  }
  psf q = numberedPsf(2, 5);
  EXPECT_THROW(q.read_psf("d/missing.fits"), orv::FitsException);
  fs::copy_file("d/s.fits", "d/lonely.fits");
  EXPECT_THROW(q.read_psf("d/lonely.fits"), orv::FitsException);
  EXPECT_EQ(q.get_slen(), 12);
  EXPECT_EQ(q.get_psf()(3, -4), cellValue(3, -4));
}

}  // namespace
