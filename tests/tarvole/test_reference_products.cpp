// Tests that the runs of difference imaging read reference products only when they belong to
// this reference and this run: products that are missing, of another shape, of another
// reference, step or --ordsky, or a mix of two runs of the step, and outputs named as products,
// each refused before anything is written; references too small for the kernel refused by the
// reference step (the sanitizer build runs these too); and the cards of a clean step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using tarvole_test::Image;
using test_support::ScratchDir;
namespace fs = std::filesystem;

constexpr int side = 90;
const std::string fieldRegion = "-r 1:90,1:90 ";

// The scene: a reference, another reference of the same size, an image, the error image of the
// reference and a table of the reference's stars.
void write_scene(const std::string& dir) {
  std::vector<std::pair<double, double>> stars;
  const Image R = tarvole_test::sky_reference(side, 45, 45, 7, 1.0, 200.0, &stars);
  Image I(side, side), error(side, side);
  for (int y = 1; y <= side; ++y)
    for (int x = 1; x <= side; ++x) I(x, y) = static_cast<float>(R(x, y) / 0.8 + 50.0);
  error = 2.0f;
  orv::writeFitsImage(dir + "ref.fits", tarvole_test::with_noise(R, 8, 2.0));
  orv::writeFitsImage(dir + "other.fits",
                      tarvole_test::with_noise(tarvole_test::sky_reference(side, 40, 50, 9), 10, 2.0));
  orv::writeFitsImage(dir + "img.fits", tarvole_test::with_noise(I, 11, 2.0));
  orv::writeFitsImage(dir + "e.ref.fits", error);
  orv::writeFitsImage(dir + "e.other.fits", error);
  std::ofstream table(dir + "stars.txt");
  for (std::size_t k = 0; k < stars.size(); ++k)
    table << k + 1 << " " << stars[k].first << " " << stars[k].second << "\n";
}

// Whether a file of that name is one of the scene's own, not a product.
bool scene_file(const std::string& name) {
  for (const char* own : {"ref.fits", "other.fits", "img.fits", "e.ref.fits", "e.other.fits", "stars.txt"})
    if (name == own) return true;
  return false;
}

// A scene with the products of one reference step, made once per test program.
struct ProductSet {
  const char* name;
  const char* step;  // the arguments of the reference step in the scene
};
const ProductSet stars{"stars", "--ref -d -t stars.txt ref.fits"};
const ProductSet starsWithErrors{"stars_e", "--ref -d -e -t stars.txt ref.fits"};
const ProductSet starsOfOther{"stars_other", "--ref -d -t stars.txt other.fits"};
const ProductSet field0{"field0", "--ref --fielddiffima --ordsky 0 -r 1:90,1:90 ref.fits"};

const std::string& made(const ProductSet& set) {
  static std::map<std::string, std::string> dirs;
  auto found = dirs.find(set.name);
  if (found != dirs.end()) return found->second;
  const std::string dir = test_support::programScratchDir(set.name);
  write_scene(dir);
  const auto run = tarvole_test::run_tarvole(dir, set.step);
  EXPECT_EQ(run.status, 0) << set.step << "\n" << run.err;
  return dirs.emplace(set.name, dir).first->second;
}

// Every file of the set's scene into dir.
void copy_scene(const ProductSet& set, const std::string& dir) {
  for (const auto& entry : fs::directory_iterator(made(set)))
    fs::copy_file(entry.path(), dir + entry.path().filename().string(), fs::copy_options::overwrite_existing);
}

std::string cc(int q) {
  char name[32];
  std::snprintf(name, sizeof name, "cc%4.4d.fits", q);
  return name;
}

// The basis images q of the set `from` put over those of dir.
void take_basis_images(const ProductSet& from, const std::string& dir, int first, int last, int step = 1) {
  for (int q = first; q <= last; q += step)
    fs::copy_file(made(from) + cc(q), dir + cc(q), fs::copy_options::overwrite_existing);
}

struct ProductCase {
  const char* what;
  const ProductSet* set;                          // the scene the case starts from
  std::function<void(const std::string&)> spoil;  // what happened to it since
  std::string arguments;
  const char* message;  // the line on the error stream, or its start
};

std::ostream& operator<<(std::ostream& os, const ProductCase& c) { return os << c.what; }

const std::string again = "; run the reference step again (--ref)\n";

const ProductCase productCases[] = {
    {"a product replaced by an unrelated larger image", &stars,
     [](const std::string& d) { orv::writeFitsImage(d + "cc0010.fits", Image(120, 120)); },
     "-d -t stars.txt ref.fits img.fits",
     "reference product cc0010.fits has 120 x 120 pixels, the reference ref.fits 90 x 90; run the reference "
     "step again (--ref)\n"},
    {"a product of a smaller shape", &stars,
     [](const std::string& d) { orv::writeFitsImage(d + "rmask_calc.fits", orv::MArray<short, 2>(40, 40)); },
     "-d -t stars.txt ref.fits img.fits",
     "reference product rmask_calc.fits has 40 x 40 pixels, the reference ref.fits 90 x 90; run the "
     "reference "
     "step again (--ref)\n"},
    {"a missing product", &stars, [](const std::string& d) { fs::remove(d + "cc0010.fits"); },
     "-d -t stars.txt ref.fits img.fits",
     "reference product cc0010.fits is missing (the reference step makes it); run the reference step again "
     "(--ref)\n"},
    {"a missing product beside a reference in a directory", &stars,
     [](const std::string& d) {
       fs::create_directory(d + "sub");
       for (const auto& entry : fs::directory_iterator(d))
         if (entry.is_regular_file()) fs::rename(entry.path(), d + "sub/" + entry.path().filename().string());
       fs::remove(d + "sub/cc0050.fits");
     },
     "-d -t sub/stars.txt sub/ref.fits sub/img.fits",
     "reference product sub/cc0050.fits is missing (the reference step makes it); run the reference step "
     "again "
     "(--ref)\n"},
    {"a product that is not a FITS file", &stars,
     [](const std::string& d) { test_support::writeText(d + "cc0010.fits", "not an image\n"); },
     "-d -t stars.txt ref.fits img.fits", "reference product cc0010.fits cannot be read ("},
    {"a product cut short", &stars,
     [](const std::string& d) { fs::resize_file(d + "cc0010.fits", 2880 * 3); },
     "-d -t stars.txt ref.fits img.fits",
     "reference product cc0010.fits is shorter than its header says; run the reference step again (--ref)\n"},
    {"an image of the reference's size without the cards of the step", &stars,
     [](const std::string& d) { orv::writeFitsImage(d + "cc0010.fits", Image(side, side)); },
     "-d -t stars.txt ref.fits img.fits",
     "reference product cc0010.fits does not carry the cards of the reference step (such as DIASET): the "
     "step "
     "did not write it; run the reference step again (--ref)\n"},
    {"products of another reference of the same size", &starsOfOther, nullptr,
     "-d -t stars.txt ref.fits img.fits",
     "reference product rmask_calc.fits was made from another reference (90 x 90 pixels, checksum "},
    {"field products of --ordsky 0 read with the default --ordsky -1", &field0, nullptr,
     "--fielddiffima " + fieldRegion + "ref.fits img.fits",
     "reference product rmask_calc.fits was made with --ordsky 0, this run has --ordsky -1 (a run reads the "
     "products with the --ordsky of the step); run the reference step again (--ref)\n"},
    {"field products read by difference imaging of stars", &field0, nullptr,
     "-d -t stars.txt ref.fits img.fits",
     "reference product rmask_calc.fits was made by the reference step for difference imaging in the field "
     "(--fielddiffima), this run does difference imaging of stars (-d); run the reference step again "
     "(--ref)\n"},
    {"star products read by difference imaging in the field", &stars, nullptr,
     "--fielddiffima --ordsky 0 " + fieldRegion + "ref.fits img.fits",
     "reference product rmask_calc.fits was made by the reference step for difference imaging of stars (-d), "
     "this run does difference imaging in the field (--fielddiffima); run the reference step again "
     "(--ref)\n"},
    {"a set left half new, half old by a failed step with another reference", &stars,
     [](const std::string& d) { take_basis_images(starsOfOther, d, 26, 50); },
     "-d -t stars.txt ref.fits img.fits",
     "reference product cc0026.fits was made from another reference (90 x 90 pixels, checksum "},
    {"a set left half new, half old by a failed step with an error image", &stars,
     [](const std::string& d) { take_basis_images(starsWithErrors, d, 26, 50); },
     "-d -t stars.txt ref.fits img.fits",
     "reference product cc0026.fits and rmask_calc.fits were made by two runs of the reference step ("},
    {"two steps with different references at once", &stars,
     [](const std::string& d) { take_basis_images(starsOfOther, d, 2, 50, 2); },
     "-d -t stars.txt ref.fits img.fits",
     "reference product cc0002.fits was made from another reference (90 x 90 pixels, checksum "},
    {"the configuration file named as a product", &stars, nullptr,
     "-d -t stars.txt --write_config_file rmask_calc.fits ref.fits img.fits",
     "output file rmask_calc.fits would overwrite the input file rmask_calc.fits\n"},
    {"a prefix that names an output as a product", &stars,
     [](const std::string& d) { fs::copy_file(d + "img.fits", d + "calc.fits"); },
     "-d -t stars.txt -p rmask_ ref.fits calc.fits",
     "output file rmask_calc.fits would overwrite the input file rmask_calc.fits\n"},
    {"a prefix that names an output as a basis image of the field", &field0,
     [](const std::string& d) { fs::copy_file(d + "img.fits", d + "c0001.fits"); },
     "--fielddiffima --ordsky 0 " + fieldRegion + "-p c ref.fits c0001.fits",
     "output file cc0001.fits would overwrite the input file cc0001.fits\n"},
};

class ProductRun : public testing::TestWithParam<ProductCase> {};

// The run ends with status 1 and the message before it writes anything: afterwards the directory
// holds the files it held, each byte for byte as it was, products and inputs alike.
TEST_P(ProductRun, RefusedBeforeAnyOutput) {
  const ProductCase& c = GetParam();
  ScratchDir dir;
  copy_scene(*c.set, dir.path);
  if (c.spoil) c.spoil(dir.path);
  std::vector<std::pair<std::string, std::string>> before;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path))
    if (entry.is_regular_file()) before.emplace_back(entry.path(), test_support::readText(entry.path()));
  const auto run = tarvole_test::run_tarvole(dir.path, c.arguments);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path)) files += entry.is_regular_file();
  EXPECT_EQ(files, before.size());
  for (const auto& [name, content] : before) EXPECT_TRUE(test_support::readText(name) == content) << name;
}

INSTANTIATE_TEST_SUITE_P(Cases, ProductRun, testing::ValuesIn(productCases),
                         [](const testing::TestParamInfo<ProductCase>& info) {
                           return tarvole_test::case_name(info.param.what);
                         });

// A clean reference step and the runs after it: the products carry one identifier, the step and
// the checksum of the reference (FNV-1a in python), and the runs read them.
TEST(ReferenceProducts, CleanStepsAreReadByTheirRuns) {
  for (const ProductSet* set : {&stars, &field0}) {
    SCOPED_TRACE(set->name);
    ScratchDir dir;
    copy_scene(*set, dir.path);
    const std::string seen = test_support::pythonOutputIn(dir.path, R"(
import glob
from astropy.io import fits
h=14695981039346656037
for b in fits.getdata('ref.fits').astype('<f4').tobytes():
  h=((h^b)*1099511628211)&0xffffffffffffffff
names=[n for n in glob.glob('*.fits') if n not in ('ref.fits','other.fits','img.fits','e.ref.fits','e.other.fits')]
cards=set((fits.getheader(n)['DIASET'],fits.getheader(n)['DIASTEP'],fits.getheader(n)['DIABGORD'],fits.getheader(n)['DIAREFCK']) for n in names)
ok=len(cards)==1 and list(cards)[0][3]=='%016x'%h
print(len(names), list(cards)[0][1], list(cards)[0][2], ok)
)");
    EXPECT_EQ(seen, set == &stars ? "106 stars 0 True\n" : "106 field 0 True\n");
    // The cards keep every product valid FITS.
    std::string products, report;
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir.path))
      if (!scene_file(entry.path().filename())) products += " " + entry.path().string(), ++count;
    test_support::runCommand("fitsverify" + products + " 2>&1", &report);
    int clean = 0;
    for (std::size_t at = 0; (at = report.find("found 0 warning(s) and 0 error(s)", at)) != std::string::npos;
         ++at)
      ++clean;
    EXPECT_EQ(clean, count);
    // The field run bins its sky in cells of 2 * 5 + 1 pixels: the default radius of 30 leaves
    // the 90 pixels of the scene too few cells for the spline.
    const auto run = tarvole_test::run_tarvole(
        dir.path, set == &stars
                      ? "-d -t stars.txt ref.fits img.fits"
                      : "--fielddiffima --ordsky 0 --radius 5 " + fieldRegion + "ref.fits img.fits");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(tarvole_test::exists(dir / "bimg.fits"));
  }
}

// References narrower or lower than the kernel (35 x 35 pixels) and its margin of 17 pixels on
// each side are refused by the reference step, of stars and of the field, before it writes a
// product; from 69 pixels on the step runs. Under the sanitizer build no run reports a fault.
struct NarrowCase {
  int nx, ny;
  bool field;
  std::string region;  // for the field step; empty: the whole reference
};

std::ostream& operator<<(std::ostream& os, const NarrowCase& c) {
  return os << c.nx << "x" << c.ny << (c.field ? " field " : " stars ") << c.region;
}

std::vector<NarrowCase> narrowCases() {
  std::vector<NarrowCase> cases;
  for (const bool field : {false, true}) {
    for (const int n : {1, 2, 18, 35, 36, 37, 48, 60, 67, 68, 69, 80}) {
      cases.push_back({n, 80, field, ""});
      if (n != 80) cases.push_back({80, n, field, ""});
    }
  }
  cases.push_back({80, 80, true, "20:50,1:80"});
  cases.push_back({80, 80, true, "20:54,1:80"});
  return cases;
}

class NarrowReference : public testing::TestWithParam<NarrowCase> {};

TEST_P(NarrowReference, RefusedUnlessTheKernelFits) {
  const NarrowCase& c = GetParam();
  ScratchDir dir;
  orv::writeFitsImage(dir / "ref.fits",
                      tarvole_test::with_noise(tarvole_test::sky_reference(80, 40, 40, 3), 4, 2.0)(
                          orv::Range(1, c.nx), orv::Range(1, c.ny)));
  test_support::writeText(dir / "stars.txt",
                          "1 " + std::to_string(c.nx / 2.0) + " " + std::to_string(c.ny / 2.0) + "\n");
  const std::string region =
      c.region.empty() ? std::to_string(1) + ":" + std::to_string(c.nx) + ",1:" + std::to_string(c.ny)
                       : c.region;
  const auto run =
      tarvole_test::run_tarvole(dir.path, c.field ? "--ref --fielddiffima -r " + region + " ref.fits"
                                                  : "--ref -d -t stars.txt ref.fits");
  EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
  // The fit area lies 17 pixels inside the reference and within the region; it must hold 35.
  const auto fitLength = [&](int n, int axis) {
    if (c.region.empty()) return n - 34;
    const int first = axis == 1 ? 20 : 1, last = axis == 1 ? std::stoi(c.region.substr(3, 2)) : 80;
    return std::min(last, n - 17) - std::max(first, 18) + 1;
  };
  const int width = fitLength(c.nx, 1), height = fitLength(c.ny, 2);
  if (width >= 35 && height >= 35) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(tarvole_test::exists(dir / "cc0050.fits"));
    return;
  }
  EXPECT_EQ(run.status, 1);
  const std::string step = c.field ? "in the field" : "of stars";
  EXPECT_NE(run.err.find("wrong area in diffima"), std::string::npos) << run.err;
  if (width >= 2 && height >= 2) {
    EXPECT_NE(run.err.find("is smaller than the kernel footprint of 35 x 35 pixels"), std::string::npos)
        << run.err;
  }
  EXPECT_NE(run.err.find("the reference step for difference imaging " + step + " failed\n"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(tarvole_test::exists(dir / "image_r.fits"));
  EXPECT_FALSE(tarvole_test::exists(dir / "cc0001.fits"));
}

INSTANTIATE_TEST_SUITE_P(Sizes, NarrowReference, testing::ValuesIn(narrowCases()),
                         [](const testing::TestParamInfo<NarrowCase>& info) {
                           std::ostringstream name;
                           name << info.param;
                           return tarvole_test::case_name(name.str());
                         });

}  // namespace
