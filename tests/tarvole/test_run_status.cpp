// Tests how runs of the sky program end: statuses and messages for missing or faulty inputs,
// outputs that would overwrite inputs and images of another extent.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using tarvole_test::small_pair_fit;
using tarvole_test::write_small_pair;
using test_support::ScratchDir;

struct StatusCase {
  const char* what;
  void (*setup)(const ScratchDir& dir);
  std::string arguments;
  int status;
  const char* out;                       // text standard output holds
  const char* err;                       // text the error stream holds
  std::vector<const char*> written;      // files that must exist afterwards
  std::vector<const char*> not_written;  // files that must not
};

std::ostream& operator<<(std::ostream& os, const StatusCase& c) { return os << c.what; }

void pair(const ScratchDir& d) { write_small_pair(d, "ref.fits", "img.fits"); }

void pair_with_errors(const ScratchDir& d) {
  write_small_pair(d, "ref.fits", "img.fits");
  write_small_pair(d, "e.ref.fits", "e.img.fits");
}

const std::string fit = small_pair_fit;

const StatusCase cases[] = {
    {"no file argument", pair, "-v 1", 255, nullptr, "\nplease use fits files\n\n", {}, {}},
    {"difference imaging without a table",
     pair,
     "-d ref.fits img.fits",
     255,
     "missing table for DIA\n",
     nullptr,
     {},
     {"bimg.fits"}},
    {"missing reference",
     pair,
     fit + "nothere.fits img.fits",
     1,
     nullptr,
     "Caught exception : ",
     {},
     {"bimg.fits"}},
    {"truncated reference",
     [](const ScratchDir& d) {
       write_small_pair(d, "ref.fits", "img.fits");
       std::filesystem::resize_file(d / "ref.fits", 4000);
     },
     fit + "ref.fits img.fits",
     1,
     nullptr,
     "Caught exception : ",
     {},
     {"bimg.fits"}},
    {"reference that is a directory",
     [](const ScratchDir& d) {
       write_small_pair(d, "ref0.fits", "img.fits");
       std::filesystem::create_directory(d / "ref.fits");
     },
     fit + "ref.fits img.fits",
     1,
     nullptr,
     "Caught exception : ",
     {},
     {"bimg.fits"}},
    {"missing error image of the reference",
     pair,
     "-e " + fit + "ref.fits img.fits",
     1,
     nullptr,
     "Caught exception : ",
     {},
     {"bimg.fits"}},
    {"missing error image of an image",
     [](const ScratchDir& d) {
       write_small_pair(d, "ref.fits", "img.fits");
       write_small_pair(d, "e.ref.fits", "other.fits");
     },
     "-e " + fit + "ref.fits img.fits",
     1,
     nullptr,
     "Caught exception : ",
     {},
     {"bimg.fits"}},
    {"with error images",
     pair_with_errors,
     "-e " + fit + "ref.fits img.fits",
     0,
     "e.bimg.fits\n",
     nullptr,
     {"bimg.fits", "e.bimg.fits"},
     {}},
    {"empty prefix writes onto the image",
     pair,
     fit + "-p \"\" ref.fits img.fits",
     1,
     nullptr,
     "img.fits",
     {},
     {}},
    {"output of a.fits is the input ba.fits",
     [](const ScratchDir& d) {
       write_small_pair(d, "ref.fits", "a.fits");
       write_small_pair(d, "ref2.fits", "ba.fits");
     },
     fit + "ref.fits a.fits ba.fits",
     1,
     nullptr,
     "ba.fits",
     {},
     {"bba.fits"}},
    {"prefix e. writes onto the error images",
     pair_with_errors,
     "-e -p e. " + fit + "ref.fits img.fits",
     1,
     nullptr,
     "e.img.fits",
     {},
     {"e.e.img.fits"}},
    {"output onto the reference",
     [](const ScratchDir& d) { write_small_pair(d, "bimg.fits", "img.fits"); },
     fit + "bimg.fits img.fits",
     1,
     nullptr,
     "bimg.fits",
     {},
     {}},
    {"output onto the reference through another path",
     [](const ScratchDir& d) {
       write_small_pair(d, "ref.fits", "img.fits");
       std::filesystem::create_directory(d / "sub");
     },
     fit + "./sub/../bimg.fits img.fits",
     1,
     nullptr,
     "bimg.fits",
     {},
     {}},
    {"output onto a hard link of the reference",
     [](const ScratchDir& d) {
       write_small_pair(d, "ref.fits", "img.fits");
       std::filesystem::create_hard_link(d / "ref.fits", d / "bimg.fits");
     },
     fit + "ref.fits img.fits",
     1,
     nullptr,
     "bimg.fits",
     {},
     {}},
    {"masked reference onto an input at verbosity 3",
     [](const ScratchDir& d) { write_small_pair(d, "ref_new.fits", "img.fits"); },
     "-v 3 " + fit + "ref_new.fits img.fits",
     1,
     nullptr,
     "ref_new.fits",
     {},
     {"bimg.fits"}},
    {"an image named as a product of the star reference step",
     [](const ScratchDir& d) {
       write_small_pair(d, "ref.fits", "cc0050.fits");
       std::ofstream(d / "stars.txt") << "1 20.0 15.0\n";
     },
     "--ref -d -t stars.txt ref.fits cc0050.fits",
     1,
     nullptr,
     "cc0050.fits",
     {},
     {"bcc0050.fits", "image_r.fits"}},
    {"a reference named as a background product of the field reference step",
     [](const ScratchDir& d) {
       std::filesystem::create_directory(d / "sub");
       write_small_pair(d, "sub/bb0100.fits", "img.fits");
     },
     "--ref --fielddiffima --ordsky 1 " + fit + "sub/bb0100.fits img.fits",
     1,
     nullptr,
     "bb0100.fits",
     {},
     {"bimg.fits", "sub/image_r.fits"}},
    {"a star table named as a product of the reference step",
     [](const ScratchDir& d) {
       write_small_pair(d, "ref.fits", "img.fits");
       std::ofstream(d / "rmask_calc.fits") << "1 20.0 15.0\n";
     },
     "--ref -d -t rmask_calc.fits ref.fits img.fits",
     1,
     nullptr,
     "rmask_calc.fits",
     {},
     {"bimg.fits", "image_r.fits"}},
    {"an image of another extent is skipped, the next one written",
     [](const ScratchDir& d) {
       write_small_pair(d, "ref.fits", "img.fits");
       write_small_pair(d, "r2.fits", "wide.fits", 41, 30);
     },
     fit + "ref.fits wide.fits img.fits",
     1,
     nullptr,
     "wide.fits",
     {"bimg.fits"},
     {"bwide.fits"}},
    {"only the reference", pair, fit + "-v 3 ref.fits", 0, nullptr, nullptr, {"ref_new.fits"}, {}},
    {"--radius beyond 2048 on a smaller image: refused before anything is written",
     pair,
     "-v 3 -w --radius 2049 " + fit + "ref.fits img.fits",
     1,
     nullptr,
     "radius must be at most 2048, the larger of 2048 and the larger side of the reference, ref.fits being "
     "40 x "
     "30 pixels, not 2049\n",
     {},
     {"bimg.fits", "ref_new.fits"}},
    {"--radius far beyond the image with a method that bins with it",
     pair,
     "-w --radius 900000 " + fit + "ref.fits img.fits",
     1,
     nullptr,
     "radius must be at most 2048",
     {},
     {"bimg.fits"}},
    // The run gets past the options to the fit, which this small pair is too small for.
    {"--radius far beyond the image with a method that does not bin with it",
     pair,
     "-m --radius 3000 " + fit + "ref.fits img.fits",
     1,
     nullptr,
     "absorption surface could not be built",
     {},
     {}},
    {"--radius above the larger side of a small image",
     pair,
     "--radius 41 " + fit + "ref.fits img.fits",
     0,
     nullptr,
     nullptr,
     {"bimg.fits"},
     {}},
    {"galcenter farther beyond the image than 2048 pixels: refused before anything is written",
     pair,
     "-v 3 -s -r 3:38,3:28 -a 4 -i 5 -g 20,2079 ref.fits img.fits",
     1,
     nullptr,
     "galcenter must be at most 2078, 2048 pixels beyond the last pixel of the reference, ref.fits being 40 "
     "x "
     "30 pixels, not 2079\n",
     {},
     {"bimg.fits", "ref_new.fits"}},
    {"galcenter far before the image with a method that lists its blank knots",
     pair,
     "-m -r 3:38,3:28 -a 4 -i 5 -g -900000,15 ref.fits img.fits",
     1,
     nullptr,
     "galcenter must be at least -2047, 2048 pixels before the first pixel of the reference",
     {},
     {"bimg.fits"}},
    {"galcenter 2048 pixels outside the image",
     pair,
     "-r 3:38,3:28 -a 4 -i 5 -g -2047,2078 ref.fits img.fits",
     0,
     nullptr,
     "warning: the center -2047 2078 lies outside the reference",
     {"bimg.fits"},
     {}},
};

class TarvoleRun : public testing::TestWithParam<StatusCase> {};

// One run in a fresh directory: its status, its messages, the files it leaves, and every input
// byte for byte as it was.
TEST_P(TarvoleRun, Statuses) {
  const StatusCase& c = GetParam();
  ScratchDir dir;
  c.setup(dir);
  const auto inputs = tarvole_test::file_contents(dir.path);
  const auto run = tarvole_test::run_tarvole(dir.path, c.arguments);
  EXPECT_EQ(run.status, c.status) << run.err;
  if (c.out) {
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
  }
  if (c.err) {
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
  for (const char* name : c.written) EXPECT_TRUE(tarvole_test::exists(dir / name)) << name;
  for (const char* name : c.not_written) EXPECT_FALSE(tarvole_test::exists(dir / name)) << name;
  for (const auto& [name, content] : inputs) EXPECT_TRUE(test_support::readText(name) == content) << name;
}

INSTANTIATE_TEST_SUITE_P(Cases, TarvoleRun, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<StatusCase>& info) {
                           return tarvole_test::case_name(info.param.what);
                         });

}  // namespace
