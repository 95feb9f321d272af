// Tests that a fit which cannot determine its coefficients fails the image: the run names the
// image and the cause on the error stream, writes no output for it, goes on with the other
// images and ends with status 1; inputs stay as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/run_command.h"
#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using tarvole_test::write_small_pair;
using test_support::ScratchDir;

struct FailureCase {
  const char* what;
  void (*setup)(const ScratchDir& dir);
  std::string arguments;
  int status;
  const char* err;                       // text the error stream holds ("" for none expected)
  std::vector<const char*> written;      // files that exist afterwards (each passes fitsverify)
  std::vector<const char*> not_written;  // files that must not exist
  const char* out = nullptr;             // text standard output holds
};

void pair(const ScratchDir& dir) { write_small_pair(dir, "ref.fits", "img.fits"); }

// The pair and a flat image, whose box means are all equal: the image column of the normal
// system is then proportional to the sky column.
void pair_and_flat(const ScratchDir& dir) {
  write_small_pair(dir, "ref.fits", "img.fits");
  tarvole_test::Image flat(40, 30);
  flat = 91.7f;
  orv::writeFitsImage(dir / "flat.fits", flat);
}

std::ostream& operator<<(std::ostream& os, const FailureCase& c) { return os << c.what; }

class FailedFit : public testing::TestWithParam<FailureCase> {};

TEST_P(FailedFit, SaysSoAndWritesNothing) {
  const FailureCase& c = GetParam();
  ScratchDir dir;
  c.setup(dir);
  const auto inputs = tarvole_test::file_contents(dir.path);

  const auto run = test_support::runProgram(dir.path, TARVOLE_EXE, c.arguments);
  EXPECT_EQ(run.status, c.status) << run.err;
  if (*c.err == '\0')
    EXPECT_EQ(run.err, "");
  else
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  for (const char* name : c.written) EXPECT_EQ(test_support::fitsverifyVerdict(dir / name), "clean") << name;
  for (const char* name : c.not_written) EXPECT_FALSE(tarvole_test::exists(dir / name)) << name;
  for (const auto& [name, content] : inputs) EXPECT_TRUE(test_support::readText(name) == content) << name;
  if (c.out) {
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
  }
}

// Options that fit the small test images.
const std::string fit = tarvole_test::small_pair_fit;

INSTANTIATE_TEST_SUITE_P(
    Runs, FailedFit,
    testing::Values(
        FailureCase{"one sampling point for four coefficients",
                    pair,
                    "-g 20,15 -r 5:1,1:5 ref.fits img.fits",
                    1,
                    "img.fits: fewer sampling points (1) than fitted coefficients (4), no output written\n",
                    {},
                    {"bimg.fits"},
                    "Fehler in Angleichung\n"},
        FailureCase{"one sampling point for four coefficients of the spline method",
                    pair,
                    "-m -g 20,15 -r 5:1,1:5 ref.fits img.fits",
                    1,
                    "img.fits: fewer sampling points (1) than fitted coefficients (4)",
                    {},
                    {"bimg.fits"},
                    " Fehler in Angleichung\n"},
        FailureCase{
            "a failed image names the earlier output it leaves in place",
            [](const ScratchDir& d) {
              pair_and_flat(d);
              write_small_pair(d, "bflat.fits", "other.fits");
            },
            fit + "ref.fits flat.fits",
            1,
            "flat.fits: singular fit, no output written; bflat.fits is an earlier file, not this run's "
            "result\n",
            {"bflat.fits"},
            {}},
        FailureCase{"a region outside the image",
                    pair,
                    "-g 20,15 -r 100:200,100:200 -a 4 -i 5 ref.fits img.fits",
                    1,
                    "img.fits: no sampling point inside the image",
                    {},
                    {"bimg.fits"}},
        FailureCase{"too few points for the gradient fit",
                    pair,
                    "-w -g 20,15 -r 5:1,1:5 ref.fits img.fits",
                    1,
                    "img.fits: fewer sampling points (1) than fitted coefficients (6)",
                    {},
                    {"bimg.fits"}},
        FailureCase{"a singular fit fails its image, the next one is written",
                    pair_and_flat,
                    fit + "ref.fits flat.fits img.fits",
                    1,
                    "flat.fits: singular fit, no output written\n",
                    {"bimg.fits"},
                    {"bflat.fits"}},
        FailureCase{"a singular fit with error images writes neither output",
                    [](const ScratchDir& d) {
                      pair_and_flat(d);
                      write_small_pair(d, "e.ref.fits", "e.flat.fits");
                    },
                    "-e " + fit + "ref.fits flat.fits",
                    1,
                    "flat.fits: singular fit",
                    {},
                    {"bflat.fits", "e.bflat.fits"}},
        FailureCase{"an option took the image's name: no image given",
                    pair,
                    fit + "-p ref.fits img.fits",
                    0,
                    "no image given\n",
                    {},
                    {"ref.fitsimg.fits"}},
        FailureCase{"a configuration file onto the image",
                    pair,
                    "--write_config_file img.fits ref.fits img.fits",
                    1,
                    "output file img.fits would overwrite the input file img.fits",
                    {},
                    {"bimg.fits"}},
        FailureCase{"a configuration file onto the configuration read",
                    [](const ScratchDir& d) {
                      pair(d);
                      std::ofstream(d / "in.cfg") << "intervall = 5\n";
                    },
                    fit + "--read_config_file in.cfg --write_config_file in.cfg ref.fits img.fits",
                    1,
                    "would overwrite the input file in.cfg",
                    {},
                    {"bimg.fits"}},
        FailureCase{"an output in a missing directory: not even the configuration file",
                    pair,
                    fit + "--write_config_file run.cfg -p nodir/ ref.fits img.fits",
                    1,
                    "nodir",
                    {},
                    {"run.cfg", "bimg.fits"}},
        FailureCase{"a configuration file in a missing directory",
                    pair,
                    fit + "--write_config_file nodir/run.cfg ref.fits img.fits",
                    1,
                    "nodir",
                    {},
                    {"bimg.fits"}},
        FailureCase{"a good run says nothing on the error stream",
                    pair,
                    fit + "ref.fits img.fits",
                    0,
                    "",
                    {"bimg.fits"},
                    {}}),
    [](const testing::TestParamInfo<FailureCase>& info) { return tarvole_test::case_name(info.param.what); });

// What an image prints does not depend on the images before it: after a failed image, the next
// prints its tables exactly as after a good one.
TEST(FailedFit, LaterImagesPrintAsAfterAGoodOne) {
  ScratchDir dir;
  pair_and_flat(dir);
  std::filesystem::copy_file(dir / "img.fits", dir / "good.fits");
  const auto afterGood = test_support::runProgram(dir.path, TARVOLE_EXE, fit + "ref.fits good.fits img.fits");
  const auto afterFailed =
      test_support::runProgram(dir.path, TARVOLE_EXE, fit + "ref.fits flat.fits img.fits");
  ASSERT_EQ(afterGood.status, 0) << afterGood.err;
  ASSERT_EQ(afterFailed.status, 1) << afterFailed.err;
  const auto lastImage = [](const std::string& out) { return out.substr(out.rfind("\nimg.fits\n")); };
  EXPECT_EQ(lastImage(afterFailed.out), lastImage(afterGood.out));
  EXPECT_NE(lastImage(afterGood.out).find(" sky:        "), std::string::npos);
}

}  // namespace
