// Tests the median combination of cells, the diagnostic image writer (bounds and unit
// world-coordinate frame, read back here and by astropy, checked by fitsverify) and the
// printed tables of a fit over two cells.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "dia/cell_median.h"
#include "tests/dia/dia_fixtures.h"

namespace {

orv::MArray<double, 1> values(const std::vector<double>& v) { return dia_test::doubleArray(v); }

TEST(DiaCellMedian, CombinationCases) {
  struct Case {
    const char* name;
    std::vector<double> factor, factorErr, constant, constantErr;
    dia_cells::Combined expected;
  };
  const double r2 = std::sqrt(2.0) * 0.01;
  const Case cases[] = {
      {"three fitted, one not: the middle cell twice", {0.9, 0.0, 1.1, 1.0}, {0.01, 0.0, 0.01, 0.01},
       {5, 0, 7, 6}, {0.1, 0, 0.1, 0.1}, {1.0, r2, 6.0, std::sqrt(2.0) * 0.1}},
      {"four fitted: the two middle cells", {4, 1, 3, 2}, {0.3, 0.1, 0.2, 0.4}, {40, 10, 30, 20},
       {3, 1, 2, 4}, {2.5, std::sqrt(0.2 * 0.2 + 0.4 * 0.4), 25, std::sqrt(4.0 + 16.0)}},
      {"one cell, not fitted", {0.0}, {0.0}, {0.0}, {0.0}, {0, 0, 0, 0}},
      {"one cell as it is", {1.5}, {0.2}, {3.0}, {1e10}, {1.5, 0.2, 3.0, 1e10}},
      {"several cells, none fitted", {0, 0, 0}, {0, 0, 0}, {1, 2, 3}, {1, 1, 1}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const dia_cells::Combined r = dia_cells::combineCells(values(c.factor), values(c.factorErr), values(c.constant),
                                                          values(c.constantErr), 0);
    EXPECT_DOUBLE_EQ(r.factor, c.expected.factor);
    EXPECT_DOUBLE_EQ(r.factor_err, c.expected.factor_err);
    EXPECT_DOUBLE_EQ(r.constant, c.expected.constant);
    EXPECT_DOUBLE_EQ(r.constant_err, c.expected.constant_err);
  }
}

TEST(DiaWriteIma, BoundsAndWorldCoordinates) {
  const std::string dir = test_support::programScratchDir("write_ima");
  orv::MArray<float, 2> image(orv::Range(101, 300), orv::Range(51, 150));
  for (int y = 51; y <= 150; ++y)
    for (int x = 101; x <= 300; ++x) image(x, y) = static_cast<float>(x + 1000 * y);
  {
    orv::FitsOut out(dir + "ima.fits");
    diffima::write_ima(out, image);
  }
  EXPECT_EQ(test_support::fitsverifyVerdict(dir + "ima.fits"), "clean");
  const std::string script = "from astropy.io import fits\nfrom astropy.wcs import WCS\nimport warnings\n"
                             "warnings.simplefilter('ignore')\nh=fits.getheader('" + dir + "ima.fits')\n" + R"(
for k in ('MIN_X','MAX_X','MIN_Y','MAX_Y','CRPIX1','CRPIX2','LTV1','LTV2','CRVAL1','CRDELT1','CD2_2','LTM1_1'):
  print(k, h[k])
w=WCS(h)
x,y=w.all_pix2world([[1,1]],1)[0]
print('pixel11', x, y)
d=fits.getdata(')" + dir + R"(ima.fits')
print('shape', d.shape[0], d.shape[1], d[0,0], d[99,199])
)";
  const std::string text = test_support::runPython(script).out;
  EXPECT_EQ(text,
            "MIN_X 101\nMAX_X 300\nMIN_Y 51\nMAX_Y 150\nCRPIX1 -101\nCRPIX2 -51\nLTV1 -100\nLTV2 -50\n"
            "CRVAL1 -1\nCRDELT1 1\nCD2_2 1\nLTM1_1 1\npixel11 101.0 51.0\nshape 100 200 51101.0 150300.0\n");
  orv::MArray<float, 2> back = orv::readFitsImage<float>(dir + "ima.fits");
  EXPECT_EQ(back(1, 1), image(101, 51));
  EXPECT_EQ(back(200, 100), image(300, 150));
  std::filesystem::remove_all(dir);
}

// A fit over two cells (2 × 1) with a small model, its printed tables at verbosity 1 and 2.
TEST(DiaCalcKernTables, TwoCellLayout) {
  const std::string dir = test_support::programScratchDir("tables");
  dia_test::Model small;
  small.d = {0};
  small.sig = {1.5};
  small.half[0] = small.half[1] = 2;
  dia_test::StarField field(80, 40, 6, 20);
  {
    std::unique_ptr<diffima> e(dia_test::makeEngine(small, dir));
    util::Region whole(2);
    whole.setRange(1, 0, 0);
    whole.setRange(2, 0, 0);
    ASSERT_EQ(e->calc_reference(field.image, field.error, whole, 0, ""), 0);
  }
  for (int verbose : {1, 2}) {
    SCOPED_TRACE(verbose);
    std::unique_ptr<diffima> e(dia_test::makeEngine(small, dir));
    e->verbose = verbose;
    e->stampxy.makeReference(orv::MArray<int, 3>(orv::Range(1, 2), orv::Range(0, 1), orv::Range(1, 1)));
    e->stampxy(1, 0, 1) = 1, e->stampxy(1, 1, 1) = 80, e->stampxy(2, 0, 1) = 1, e->stampxy(2, 1, 1) = 40;
    util::Region whole(2);
    whole.setRange(1, 0, 0);
    whole.setRange(2, 0, 0);
    testing::internal::CaptureStdout();
    ASSERT_EQ(e->calc_kern(field.image, field.error, whole, 38, false, 0, 0), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(e->cell_factor.length(1), 2);
    // Numbers of the tables take the stream's precision as the formatter left it.
    const int lo = e->cell_factor(1) <= e->cell_factor(2) ? 1 : 2;
    std::ostringstream rows;
    rows << "\n" << std::string(50, '-') << "\n                 NR         FACTOR         BACKGR\n"
         << " field = " << std::setw(10) << lo;
    EXPECT_NE(out.find(rows.str()), std::string::npos) << out;
    std::ostringstream second;
    second << "\n field = " << std::setw(10) << 3 - lo;
    EXPECT_NE(out.find(second.str()), std::string::npos);
    EXPECT_NE(out.find("\n\n---------------------- MEDIAN ------------------\n factor:     "), std::string::npos);
    EXPECT_NE(out.find("\n constant:   "), std::string::npos);
    EXPECT_NE(out.find("\n" + std::string(48, '-') + "\n"), std::string::npos);
    const bool tables = out.find(" background parameter: \n" + std::string(15, ' ') + "i       j" +
                                 std::string(39, ' ') + "a           err_a\n") != std::string::npos;
    EXPECT_EQ(tables, verbose > 1);
    EXPECT_EQ(out.find("     dnx     dny    delx    dely               a           err_a\n") != std::string::npos,
              verbose > 1);
    EXPECT_EQ(out.find("N: MArray<T,1> ") != std::string::npos, verbose > 1);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
