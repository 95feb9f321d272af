// Tests the convolutions with the fitted kernel: the full-frame convolution from the stored
// products (image and error modes), the direct correlations of convolve_kern and
// convolve_kern_e, the per-pixel kernel of a spatially varying model, and their refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "tests/dia/dia_fixtures.h"

namespace {

using dia_test::Model;
using Image = orv::MArray<float, 2>;
constexpr int kSide = 120;

using dia_test::region;

using dia_test::setStamp;

// I = a·(R ⋆ G) + b plus noise σ 3, G a Gaussian of σ 1.4 over a footprint of half size h.
Image observed(const Image& R, int h, double a, double b, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> noise(0.0, 3.0);
  Image I(kSide, kSide);
  double norm = 0;
  for (int j = -h; j <= h; ++j)
    for (int i = -h; i <= h; ++i) norm += std::exp(-(i * i + j * j) / (2 * 1.4 * 1.4));
  for (int y = 1; y <= kSide; ++y)
    for (int x = 1; x <= kSide; ++x) {
      double v = 0;
      for (int j = -h; j <= h; ++j)
        for (int i = -h; i <= h; ++i) {
          const int xx = std::clamp(x + i, 1, kSide), yy = std::clamp(y + j, 1, kSide);
          v += std::exp(-(i * i + j * j) / (2 * 1.4 * 1.4)) / norm * R(xx, yy);
        }
      I(x, y) = static_cast<float>(a * v + b + noise(gen));
    }
  return I;
}

struct Fitted {
  std::string dir;
  dia_test::StarField field{kSide, kSide, 17, 30};
  Image I, eI;
  std::unique_ptr<diffima> e;
  Fitted(const Model& m, const std::string& name)
      : dir(test_support::programScratchDir(name)), eI(kSide, kSide) {
    field.error = 0.001f;
    field.error(60, 60) = -1.0f;  // one bad reference pixel
    {
      std::unique_ptr<diffima> ref(dia_test::makeEngine(m, dir));
      util::Region whole = region(0, 0, 0, 0);
      EXPECT_EQ(ref->calc_reference(field.image, field.error, whole, 0, ""), 0);
    }
    I.makeReference(observed(field.image, m.half[0], 0.9, 30.0, 5));
    eI = 3.0f;
    e.reset(dia_test::makeEngine(m, dir));
    setStamp(*e, 1, kSide, 1, kSide);
    util::Region whole = region(0, 0, 0, 0);
    EXPECT_EQ(e->calc_kern(I, eI, whole, 0, false, 0, 0), 0);
  }
  ~Fitted() { std::filesystem::remove_all(dir); }
};

Model compact(int kernOrder) {
  Model m;
  m.d = {0, 2};
  m.sig = {1.5, 3.0};
  m.half[0] = m.half[1] = 6;
  m.kern_order = kernOrder;
  return m;
}

Fitted& fitted() {
  static Fitted f(compact(0), "convolve");
  return f;
}

TEST(DiaConvolve, ImageModeDifference) {
  Fitted& f = fitted();
  diffima& e = *f.e;
  ASSERT_NEAR(e.factor, 0.9, 0.01);
  const orv::MArray<short, 2> conv = orv::readFitsImage<short>(f.dir + "rmask_conv.fits");
  for (bool norm : {false, true}) {
    SCOPED_TRACE(norm);
    e.norm_kern = norm;
    Image rk, dif;
    testing::internal::CaptureStdout();
    ASSERT_EQ(e.convolve(f.I, rk, dif, 1), 0);
    testing::internal::GetCapturedStdout();
    double sum = 0, sq = 0;
    long n = 0;
    for (int y = 1; y <= kSide; ++y)
      for (int x = 1; x <= kSide; ++x) {
        const bool fit = x >= e.mx0 && x <= e.mx1 && y >= e.my0 && y <= e.my1;
        if (!fit) {
          EXPECT_EQ(rk(x, y), 0.0f);
          EXPECT_EQ(dif(x, y), 0.0f);
          continue;
        }
        const bool inner = x >= e.mx0 + 6 && x <= e.mx1 - 6 && y >= e.my0 + 6 && y <= e.my1 - 6;
        if (!inner || conv(x, y) != 1) continue;
        sum += dif(x, y);
        sq += dif(x, y) * dif(x, y);
        ++n;
        if (!norm) {
          EXPECT_NEAR(rk(x, y) + dif(x, y), f.I(x, y), 1e-6 * std::fabs(f.I(x, y)));
        }
      }
    const double mean = sum / n, rms = std::sqrt(sq / n);
    EXPECT_LT(std::fabs(mean), norm ? 0.1 / 0.9 : 0.1);
    EXPECT_NEAR(rms, norm ? 3.0 / e.factor : 3.0, (norm ? 3.0 / e.factor : 3.0) * 0.05);
  }
  e.norm_kern = true;
}

TEST(DiaConvolve, StoredProductsAgreeWithDirectCorrelation) {
  Fitted& f = fitted();
  diffima& e = *f.e;
  e.norm_kern = true;
  Image rk, dif, direct;
  testing::internal::CaptureStdout();
  ASSERT_EQ(e.convolve(f.I, rk, dif, 1), 0);
  ASSERT_EQ(e.convolve_kern(orv::Range(1, kSide), orv::Range(1, kSide), direct), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  std::ostringstream lines;
  lines << "fx0 = " << e.mx0 << "\nfx1 = " << e.mx1 << "\nfy0 = " << e.my0 << "\nfy1 = " << e.my1 << "\n";
  EXPECT_EQ(out, lines.str());
  double largest = 0;
  for (int y = e.my0 + 6; y <= e.my1 - 6; ++y)
    for (int x = e.mx0 + 6; x <= e.mx1 - 6; ++x) largest = std::max(largest, std::fabs(static_cast<double>(rk(x, y))));
  for (int y = e.my0 + 6; y <= e.my1 - 6; ++y)
    for (int x = e.mx0 + 6; x <= e.mx1 - 6; ++x) EXPECT_NEAR(rk(x, y), direct(x, y), 1e-5 * largest) << x << "," << y;

  // Against scipy: the correlation of image_r.fits with the cell's kernel, masked.
  {
    std::ofstream k(f.dir + "kern.txt");
    k.precision(17);
    for (int y = -6; y <= 6; ++y) {
      for (int x = -6; x <= 6; ++x) k << e.kern(x, y, 1) << " ";
      k << "\n";
    }
  }
  orv::writeFitsImage(f.dir + "direct.fits", direct);
  const std::string script = "D='" + f.dir + "'\nM=(" + std::to_string(e.mx0) + "," + std::to_string(e.mx1) + "," +
                             std::to_string(e.my0) + "," + std::to_string(e.my1) + ")\n" + R"(
import numpy as np
from astropy.io import fits
from scipy import ndimage
img=fits.getdata(D+'image_r.fits').astype(float); conv=fits.getdata(D+'rmask_conv.fits')
k=np.loadtxt(D+'kern.txt'); Y,X=np.mgrid[-6:7,-6:7]; k=np.where((X/6.5)**2+(Y/6.5)**2<1,k,0)
r=ndimage.correlate(img,k,mode='constant')
want=np.zeros_like(img); box=(slice(M[2]-1,M[3]),slice(M[0]-1,M[1]))
want[box]=np.where(conv[box]!=0,r[box],0)
got=fits.getdata(D+'direct.fits').astype(float)
print(np.abs(got-want).max()/np.abs(want).max())
)";
  const std::vector<double> worst = test_support::numbersIn(test_support::runPython(script).out);
  ASSERT_EQ(worst.size(), 1u);
  EXPECT_LT(worst[0], 1e-5);
}

TEST(DiaConvolve, DeltaKernelAndErrorModes) {
  Fitted& f = fitted();
  diffima& e = *f.e;
  const Image image_r = orv::readFitsImage<float>(f.dir + "image_r.fits");
  const Image e2 = orv::readFitsImage<float>(f.dir + "e2.image_r.fits");
  const orv::MArray<short, 2> conv = orv::readFitsImage<short>(f.dir + "rmask_conv.fits");
  const orv::MArray<short, 2> econv = orv::readFitsImage<short>(f.dir + "e.rmask_conv.fits");
  orv::MArray<double, 3> saved(e.kern.getShape());
  saved = e.kern;
  e.kern = 0.0;
  e.kern(0, 0, 1) = 1.0;
  Image out, err;
  testing::internal::CaptureStdout();
  ASSERT_EQ(e.convolve_kern(orv::Range(1, kSide), orv::Range(1, kSide), out), 0);
  ASSERT_EQ(e.convolve_kern_e(orv::Range(1, kSide), orv::Range(1, kSide), err), 0);
  testing::internal::GetCapturedStdout();
  e.kern = saved;
  for (int y = e.my0; y <= e.my1; ++y)
    for (int x = e.mx0; x <= e.mx1; ++x) {
      EXPECT_EQ(out(x, y), conv(x, y) ? image_r(x, y) : 0.0f);
      EXPECT_EQ(err(x, y), econv(x, y) && e2(x, y) > 0 ? std::sqrt(e2(x, y)) : 0.0f);
    }

  // Error mode 2: variance Σ coef²·e2cc without cross terms; mode 0 adds the −1 marks.
  std::vector<Image> e2cc;
  for (int q = 1; q <= e.mat - e.nbg; ++q) {
    char name[32];
    std::snprintf(name, sizeof name, "e2.cc%4.4i.fits", q);
    e2cc.push_back(orv::readFitsImage<float>(f.dir + name));
  }
  e.norm_kern = false;
  for (int mode : {2, 0}) {
    SCOPED_TRACE(mode);
    Image rk, dif;
    ASSERT_EQ(e.convolve(f.I, rk, dif, mode), 0);
    for (int y = e.my0; y <= e.my1; ++y)
      for (int x = e.mx0; x <= e.mx1; ++x) {
        if (mode == 0 && e2(x, y) == -1.0f) {
          EXPECT_EQ(rk(x, y), -1.0f);
          EXPECT_EQ(dif(x, y), -1.0f);
          continue;
        }
        double v = 0;
        for (int p = e.nbg + 1; p <= e.mat; ++p) v += e.coef(p, 1) * e.coef(p, 1) * e2cc[p - e.nbg - 1](x, y);
        if (!econv(x, y)) v = 0;
        EXPECT_NEAR(rk(x, y), v > 0 ? std::sqrt(v) : 0.0, 1e-5 * std::sqrt(std::fabs(v)) + 1e-12);
        const double s = e.e2image_i(x, y);
        if (v > 0 && s > 0 && e.image_i(x, y) != 0) {
          EXPECT_NEAR(dif(x, y), std::sqrt(s * s + v), 1e-5 * s);
        }
      }
  }
  e.norm_kern = true;
}

TEST(DiaConvolve, VaryingKernelRebuiltPerPixel) {
  Fitted f(compact(1), "convolve_varying");
  diffima& e = *f.e;
  ASSERT_EQ(e.mat, 20);
  // Spatial coefficients set to 0: every pixel's kernel is the cell's kernel before
  // normalisation.
  orv::MArray<double, 2> K(orv::Range(-6, 6), orv::Range(-6, 6));
  for (int y = -6; y <= 6; ++y)
    for (int x = -6; x <= 6; ++x) K(x, y) = e.kern(x, y, 1) * e.cell_factor(1);
  for (int p = 3; p <= e.mat; p += 3) e.coef(p + 1, 1) = e.coef(p + 2, 1) = 0.0;
  Image out;
  testing::internal::CaptureStdout();
  ASSERT_EQ(e.convolve_kern(orv::Range(1, kSide), orv::Range(1, kSide), out), 0);
  testing::internal::GetCapturedStdout();
  const Image image_r = orv::readFitsImage<float>(f.dir + "image_r.fits");
  const orv::MArray<short, 2> conv = orv::readFitsImage<short>(f.dir + "rmask_conv.fits");
  double largest = 0;
  for (int y = e.my0; y <= e.my1; ++y)
    for (int x = e.mx0; x <= e.mx1; ++x) largest = std::max(largest, std::fabs(static_cast<double>(out(x, y))));
  for (int y = e.my0; y <= e.my1; ++y)
    for (int x = e.mx0; x <= e.mx1; ++x) {
      if (conv(x, y) != 1) {
        EXPECT_EQ(out(x, y), 0.0f);
        continue;
      }
      double v = 0;
      for (int j = -6; j <= 6; ++j)
        for (int i = -6; i <= 6; ++i)
          if (e.quad(i, j)) v += K(i, j) * image_r(x + i, y + j);
      EXPECT_NEAR(out(x, y), v, 2e-6 * largest) << x << "," << y;
    }
}

TEST(DiaConvolve, RefusalsLeaveOutputsUntouched) {
  Fitted& f = fitted();
  diffima& e = *f.e;
  Image rk(3, 3), dif(3, 3);
  rk = 5.0f;
  dif = 5.0f;
  testing::internal::CaptureStderr();
  EXPECT_EQ(e.convolve_kern(orv::Range(20, kSide), orv::Range(1, kSide), rk), -1);  // misses the fit area
  Image small(orv::Range(10, 50), orv::Range(10, 50));
  EXPECT_EQ(e.convolve(small, rk, dif, 1), -1);
  std::unique_ptr<diffima> fresh(dia_test::makeEngine(compact(0), f.dir));
  EXPECT_EQ(fresh->convolve(f.I, rk, dif, 1), -1);  // no fit yet
  EXPECT_EQ(fresh->convolve_kern(orv::Range(1, kSide), orv::Range(1, kSide), rk), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "wrong area in diffima\nwrong area in diffima\n"
                                                         "wrong area in diffima\nwrong area in diffima\n");
  e.no_ref_error = true;
  EXPECT_EQ(e.convolve(f.I, rk, dif, 2), -1);
  EXPECT_EQ(e.convolve_kern_e(orv::Range(1, kSide), orv::Range(1, kSide), rk), 0);
  e.no_ref_error = false;
  e.no_image_error = true;
  EXPECT_EQ(e.convolve(f.I, rk, dif, 0), -1);
  e.no_image_error = false;
  EXPECT_EQ(rk.length(1), 3);
  EXPECT_EQ(rk(2, 2), 5.0f);
  EXPECT_EQ(dif(2, 2), 5.0f);
}

TEST(DiaConvolve, DiagnosticImagesAreValidFits) {
  Fitted& f = fitted();
  diffima& e = *f.e;
  const std::string work = test_support::programScratchDir("convolve_work");
  dia_test::InDirectory here(work);
  e.verbose = 3;
  Image rk, dif;
  testing::internal::CaptureStdout();
  ASSERT_EQ(e.convolve(f.I, rk, dif, 1), 0);
  ASSERT_EQ(e.convolve(f.I, rk, dif, 0), 0);
  testing::internal::GetCapturedStdout();
  e.verbose = 0;
  std::string files;
  for (const char* name : {"image_rk.fits", "nimage_i.fits", "backgr.fits", "e2.image_rk.fits", "e.nimage_i.fits"})
    files += work + name + " ";
  EXPECT_EQ(dia_test::fitsverifyCleanCount(files), 5);
  std::filesystem::remove_all(work);
}

TEST(DiaConvolveDeathTest, MissingReferenceEndsWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Fitted& f = fitted();
  diffima& e = *f.e;
  const std::string saved = e.refpath;
  e.refpath = "/nonexistent/";
  Image out;
  EXPECT_EXIT(e.convolve_kern(orv::Range(1, kSide), orv::Range(1, kSide), out), testing::ExitedWithCode(1),
              "cannot open file '/nonexistent/image_r.fits' for reading");
  e.refpath = saved;
}

}  // namespace
