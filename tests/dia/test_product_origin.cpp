// Tests the cards that tie reference products to the run of the step that made them: the
// checksum against an independent FNV-1a in python, the cards as astropy and fitsverify see
// them, reads that take only a product of the asked run, and the cards of a whole step.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <string>

#include "dia/product_names.h"
#include "dia/product_origin.h"
#include "tests/dia/dia_fixtures.h"

namespace {

using Image = orv::MArray<float, 2>;
using dia_files::ProductOrigin;

// Pixels of every kind: ordinary values, both zeros, a NaN, an infinity and a subnormal.
Image oddPixels(int nx, int ny) {
  Image a(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) a(x, y) = static_cast<float>(std::sin(x * 1.7 + y * 0.3) * 1000.0);
  a(1, 1) = 0.0f;
  a(2, 1) = -0.0f;
  a(3, 1) = NAN;
  a(1, 2) = INFINITY;
  a(2, 2) = 1e-42f;
  return a;
}

// FNV-1a 64 over the little-endian float32 bytes of a file's image, rows of y in turn.
const char* pythonChecksum = R"(
import sys, numpy as np
from astropy.io import fits
h=14695981039346656037
for b in fits.getdata(sys.argv[1]).astype('<f4').tobytes():
  h=((h^b)*1099511628211)&0xffffffffffffffff
print('%016x'%h)
)";

TEST(DiaProductOrigin, PixelChecksumMatchesPython) {
  const std::string dir = test_support::programScratchDir("checksum");
  const Image a = oddPixels(7, 5);
  orv::writeFitsImage(dir + "a.fits", a);
  test_support::writeText(dir + "checksum.py", pythonChecksum);
  std::string out;
  ASSERT_EQ(
      test_support::runCommand(test_support::pythonCommand(dir + "checksum.py " + dir + "a.fits"), &out), 0);
  EXPECT_EQ(dia_files::pixelChecksum(a) + "\n", out);

  // A view sums its own pixels, whatever the strides of the storage under it.
  const Image wide = oddPixels(9, 5);
  const Image view = wide(orv::Range(2, 8), orv::Range(1, 5));
  Image copy(7, 5);
  copy = view;
  EXPECT_EQ(dia_files::pixelChecksum(view), dia_files::pixelChecksum(copy));
  // One bit changes the sum; so does -0.0 for 0.0.
  for (const float v : {std::nextafter(a(4, 4), 1e30f), 0.0f}) {
    Image changed(7, 5);
    changed = a;
    changed(v == 0.0f ? 2 : 4, v == 0.0f ? 1 : 4) = v;
    EXPECT_NE(dia_files::pixelChecksum(changed), dia_files::pixelChecksum(a)) << v;
  }
  std::filesystem::remove_all(dir);
}

ProductOrigin someOrigin() {
  ProductOrigin o;
  o.referenceWidth = 7;
  o.referenceHeight = 5;
  o.referenceChecksum = "0123456789abcdef";
  o.step = "stars";
  o.backgroundOrder = -1;
  o.kernel = dia_files::kernelSettings(dia_test::intArray({6, 4, 2, 0}),
                                       dia_test::doubleArray({1, 3, 9, 0.1}), 17, 17, 0, 1);
  o.set = dia_files::newProductSet();
  return o;
}

void writeProduct(const std::string& file, const Image& a, const ProductOrigin* origin) {
  orv::FitsOut out(file);
  if (origin) dia_files::addOriginCards(out, *origin);
  out << a;
}

TEST(DiaProductOrigin, CardsReadBackAndPassFitsverify) {
  const std::string dir = test_support::programScratchDir("cards");
  const ProductOrigin o = someOrigin();
  EXPECT_EQ(o.kernel, "d=6,4,2,0 sig=1,3,9,0.1 half=17,17 order=0 flux=1");
  EXPECT_EQ(o.set.size(), 16u);
  EXPECT_NE(o.set, dia_files::newProductSet());
  writeProduct(dir + "p.fits", oddPixels(7, 5), &o);

  const auto back = dia_files::readOriginCards(orv::FitsHeader(dir + "p.fits", true, false));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->set, o.set);
  EXPECT_EQ(back->step, o.step);
  EXPECT_EQ(back->backgroundOrder, o.backgroundOrder);
  EXPECT_EQ(back->kernel, o.kernel);
  EXPECT_EQ(back->referenceWidth, 7);
  EXPECT_EQ(back->referenceHeight, 5);
  EXPECT_EQ(back->referenceChecksum, o.referenceChecksum);
  EXPECT_EQ(dia_test::fitsverifyCleanCount(dir + "p.fits"), 1);
  const std::string seen = test_support::pythonOutputIn(dir, R"(
from astropy.io import fits
h=fits.getheader('p.fits')
print(h['DIASET'], h['DIASTEP'], h['DIABGORD'], h['DIAREFN1'], h['DIAREFN2'], h['DIAREFCK'], '|'+h['DIAKERN']+'|')
)");
  EXPECT_EQ(seen, o.set + " stars -1 7 5 0123456789abcdef |" + o.kernel + "|\n");

  // A kernel too long for a card is recorded by its hash, different for another kernel.
  std::vector<double> sigmas(12, 1.0 / 3.0);
  const std::string longKernel = dia_files::kernelSettings(dia_test::intArray(std::vector<int>(12, 6)),
                                                           dia_test::doubleArray(sigmas), 17, 17, 2, 1);
  sigmas[11] = 0.5;
  EXPECT_EQ(longKernel.substr(0, 4), "fnv=");
  EXPECT_NE(longKernel, dia_files::kernelSettings(dia_test::intArray(std::vector<int>(12, 6)),
                                                  dia_test::doubleArray(sigmas), 17, 17, 2, 1));
  ProductOrigin withLong = o;
  withLong.kernel = longKernel;
  writeProduct(dir + "q.fits", oddPixels(7, 5), &withLong);
  EXPECT_EQ(dia_files::readOriginCards(orv::FitsHeader(dir + "q.fits", true, false))->kernel, longKernel);
  EXPECT_EQ(dia_test::fitsverifyCleanCount(dir + "q.fits"), 1);

  // Without the cards, or with one of them of another type, there is no origin.
  writeProduct(dir + "none.fits", oddPixels(7, 5), nullptr);
  EXPECT_FALSE(dia_files::readOriginCards(orv::FitsHeader(dir + "none.fits", true, false)));
  {
    orv::FitsOut out(dir + "odd.fits");
    dia_files::addOriginCards(out, o);
    out.eraseCard(dia_files::backgroundOrderKey);
    out.addValueCard(dia_files::backgroundOrderKey, "zero", "", true);
    out << oddPixels(7, 5);
  }
  EXPECT_FALSE(dia_files::readOriginCards(orv::FitsHeader(dir + "odd.fits", true, false)));
  std::filesystem::remove_all(dir);
}

TEST(DiaProductOrigin, ReadsTakeOnlyProductsOfTheAskedRun) {
  const std::string dir = test_support::programScratchDir("of_set");
  const ProductOrigin o = someOrigin();
  const Image a = oddPixels(7, 5);
  writeProduct(dir + "own.fits", a, &o);
  writeProduct(dir + "plain.fits", a, nullptr);

  Image whole;
  ASSERT_TRUE(dia_files::readProductOfSet(dir + "own.fits", o.set, whole));
  EXPECT_EQ(dia_files::pixelChecksum(whole), dia_files::pixelChecksum(a));
  Image box;
  ASSERT_TRUE(dia_files::readProductOfSet(dir + "own.fits", o.set, 2, 6, 3, 5, box));
  EXPECT_EQ(box.first(1), 2);
  EXPECT_EQ(box.last(2), 5);
  EXPECT_EQ(box(6, 4), a(6, 4));

  struct Refused {
    const char* file;
    std::string set;
  };
  for (const Refused& r : {Refused{"own.fits", dia_files::newProductSet()}, Refused{"plain.fits", o.set}}) {
    SCOPED_TRACE(r.file);
    Image none, noBox;
    EXPECT_FALSE(dia_files::readProductOfSet(dir + r.file, r.set, none));
    EXPECT_FALSE(dia_files::readProductOfSet(dir + r.file, r.set, 1, 3, 1, 3, noBox));
    EXPECT_TRUE(none.isEmpty());
    EXPECT_TRUE(noBox.isEmpty());
  }
  std::filesystem::remove_all(dir);
}

TEST(DiaProductOrigin, EveryProductOfAStepCarriesItsOrigin) {
  const dia_test::StarField field(60, 50, 5, 6);
  std::set<std::string> sets;
  for (const int bg : {1, -1}) {
    SCOPED_TRACE(bg);
    const std::string dir = test_support::programScratchDir("step_cards");
    dia_test::Model m;
    m.d = {2, 0};
    m.sig = {1.5, 0.1};
    m.half[0] = 3;
    m.half[1] = 2;
    m.bg_order = bg;
    std::unique_ptr<diffima> e(dia_test::makeEngine(m, dir));
    e->product_step = "field";
    util::Region whole = dia_test::region(0, 0, 0, 0);
    ASSERT_EQ(e->calc_reference(field.image, field.error, whole, 0, ""), 0);
    const ProductOrigin wanted = e->product_origin(field.image);
    EXPECT_EQ(wanted.kernel, "d=2,0 sig=1.5,0.1 half=3,2 order=0 flux=1");
    EXPECT_EQ(wanted.referenceChecksum, dia_files::pixelChecksum(field.image));
    const auto products = dia_files::referenceProducts(dir, bg, e->mat - e->nbg);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()),
              static_cast<long>(products.size()));
    std::string set;
    for (const std::string& name : products) {
      SCOPED_TRACE(name);
      const auto o = dia_files::readOriginCards(orv::FitsHeader(name, true, false));
      ASSERT_TRUE(o);
      if (set.empty()) set = o->set;
      EXPECT_EQ(o->set, set);
      EXPECT_EQ(o->step, "field");
      EXPECT_EQ(o->backgroundOrder, bg);
      EXPECT_EQ(o->kernel, wanted.kernel);
      EXPECT_EQ(o->referenceWidth, 60);
      EXPECT_EQ(o->referenceHeight, 50);
      EXPECT_EQ(o->referenceChecksum, wanted.referenceChecksum);
    }
    sets.insert(set);
    std::string all;
    for (const std::string& name : products) all += name + " ";
    EXPECT_EQ(dia_test::fitsverifyCleanCount(all), static_cast<int>(products.size()));
    std::filesystem::remove_all(dir);
  }
  EXPECT_EQ(sets.size(), 2u);  // each run of the step draws its own identifier
}

}  // namespace
