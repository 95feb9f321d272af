// The overlap cutter program run as a user runs it, one table of cases: each command line, its
// exit status, its messages, the files it writes (paths with a directory part among them), and
// every input byte for byte afterwards. A failure writes nothing, and what the run can know
// before its first write it decides before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/brisel/brisel_fixtures.h"
#include "tests/support/program_run.h"

namespace {

using brisel_test::TestImage;

// What is done to a case's directory after its images are made.
enum class Setup {
  none,
  truncateB,
  linkCutAToB,
  hardLinkCutAToB,
  overlapFileIsADirectory,
  earlierOverlapFile
};

struct Case {
  std::string name;
  std::vector<TestImage> images;
  Setup setup;
  std::vector<std::string> args;
  int status;
  std::string stderrText;              // standard error contains it
  std::string stdoutText;              // standard output contains it; empty: nothing is printed there
  std::set<std::string> written = {};  // the files the run adds or changes, relative to its directory
  std::set<std::string> removed = {};  // the files the run removes
};

// Written into a test name by gtest.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

TestImage image(const std::string& name, int errorBitpix = 0, std::string cards = "") {
  TestImage t;
  t.name = name;
  t.nx = 20;
  t.ny = 16;
  t.crpix1 = 10;
  t.crpix2 = 8;
  t.errorBitpix = errorBitpix;
  t.cards = std::move(cards);
  return t;
}

const char usageLine[] = "output prefix";
const char cdError[] = "Error: CD-matrices not compatible!\n";
// The images of 20 x 16 pixels overlap in a small region: a warning, and the run goes on.
const char smallOverlap[] = "Warning: overlapping region in all images is small( 19, 15 )!\n";

// "{dir}" in an argument stands for the case's directory, as an absolute path.
std::vector<Case> cases() {
  const std::vector<TestImage> ab = {image("a.fits", -32), image("b.fits", -32)};
  const std::set<std::string> nothing;
  return {
      // An input named with a directory part gets its outputs beside it, the prefix on its
      // file-name part; the error image is named the same way.
      {"image in a directory",
       {image("d/x.fits", -32)},
       Setup::none,
       {"--error", "d/x.fits"},
       0,
       smallOverlap,
       "",
       {"d/cut_x.fits", "d/e.cut_x.fits", "common.part"}},
      {"image named from the working directory",
       {image("x.fits")},
       Setup::none,
       {"./x.fits"},
       0,
       smallOverlap,
       "",
       {"cut_x.fits", "common.part"}},
      {"image named by an absolute path",
       {image("x.fits")},
       Setup::none,
       {"{dir}/x.fits"},
       0,
       smallOverlap,
       "",
       {"cut_x.fits", "common.part"}},
      {"images in two directories",
       {image("a.fits"), image("d/b.fits")},
       Setup::none,
       {"a.fits", "d/b.fits"},
       0,
       smallOverlap,
       "",
       {"cut_a.fits", "d/cut_b.fits", "common.part"}},
      // Every output is checked before the first is written.
      {"output directory missing",
       ab,
       Setup::none,
       {"-p", "nowhere/", "a.fits", "b.fits"},
       1,
       "EXCEPTION: cannot write 'nowhere/a.fits': directory 'nowhere' does not exist",
       "\n"},
      {"overlap file cannot be written",
       ab,
       Setup::overlapFileIsADirectory,
       {"a.fits", "b.fits"},
       1,
       "EXCEPTION: cannot write 'common.part': it is a directory",
       "\n"},
      {"output hard-linked to an input",
       ab,
       Setup::hardLinkCutAToB,
       {"a.fits", "b.fits"},
       255,
       "Error: output file 'cut_a.fits' would overwrite the input 'b.fits'!",
       ""},
      {"output beside an input in a directory",
       {image("d/x.fits"), image("d/cut_x.fits")},
       Setup::none,
       {"d/x.fits", "{dir}/d/cut_x.fits"},
       255,
       "Error: output file 'd/cut_x.fits' would overwrite the input '",
       ""},
      {"no argument", {}, Setup::none, {}, 255, usageLine, ""},
      {"options only", {}, Setup::none, {"-e", "-p", "x_"}, 255, "Error: no image file given!", ""},
      {"unknown option", ab, Setup::none, {"--bogus", "a.fits"}, 255, "Caught exception : ", usageLine},
      {"CD scale differs",
       {image("a.fits"), image("b.fits", 0, "\"CD2_2\": 2e-4")},
       Setup::none,
       {"a.fits", "b.fits"},
       255,
       cdError,
       ""},
      // An off-diagonal term the header has counts beside CDELT values and fails the check.
      {"CD1_2 beside CDELT",
       {image("a.fits"), image("b.fits", 0,
                               "\"CD1_1\": null, \"CD2_2\": null, \"CD1_2\": 1e-6, \"CD2_1\": null, "
                               "\"CDELT1\": -1e-4, \"CDELT2\": 1e-4")},
       Setup::none,
       {"a.fits", "b.fits"},
       255,
       cdError,
       ""},
      {"missing file",
       ab,
       Setup::none,
       {"a.fits", "c.fits"},
       1,
       "EXCEPTION: FitsException: cannot open file 'c.fits'",
       "\n"},
      {"missing keyword",
       {image("a.fits"), image("b.fits", 0, "\"CRPIX1\": null")},
       Setup::none,
       {"a.fits", "b.fits"},
       1,
       "EXCEPTION: FitsException: cannot find keyword 'CRPIX1  ' (file 'b.fits')",
       "\n"},
      {"missing CD and CDELT",
       {image("a.fits"), image("b.fits", 0, "\"CD1_1\": null")},
       Setup::none,
       {"a.fits", "b.fits"},
       1,
       "EXCEPTION: file 'b.fits' has no pixel scale: neither CD1_1 and CD2_2 nor CDELT1 and CDELT2 "
       "(missing CD1_1, CDELT1, CDELT2)",
       "\n"},
      {"missing error image",
       {image("a.fits", -32), image("b.fits")},
       Setup::none,
       {"--error", "a.fits", "b.fits"},
       1,
       "EXCEPTION: FitsException: cannot open file 'e.b.fits'",
       "\n"},
      // An image wholly left of the frame: w = -121. The cut images are written, the region
      // file is not.
      {"no overlap",
       {image("a.fits"), image("b.fits", 0, "\"CRPIX1\": 150")},
       Setup::none,
       {"a.fits", "b.fits"},
       1,
       "Error: the images have no region in common( -121, 15 )!\n",
       "",
       {"cut_a.fits", "cut_b.fits"}},
      // Tiles one above the other (h = -13) make a mosaic; the region file of an earlier run goes.
      {"tiles apart vertically expanded",
       {image("a.fits"), image("b.fits", 0, "\"CRPIX2\": -20")},
       Setup::earlierOverlapFile,
       {"-e", "a.fits", "b.fits"},
       1,
       "Error: the images have no region in common( 19, -13 )!\n",
       "",
       {"cut_a.fits", "cut_b.fits"},
       {"common.part"}},
      {"truncated data", ab, Setup::truncateB, {"a.fits", "b.fits"}, 1, "is truncated", "\n"},
      {"reference pixel beyond an int",
       {image("a.fits"), image("b.fits", 0, "\"CRPIX2\": 1e12")},
       Setup::none,
       {"a.fits", "b.fits"},
       1,
       "EXCEPTION: CRPIX2 of image 2",
       "\n"},
      {"empty prefix",
       ab,
       Setup::none,
       {"-p", "", "a.fits", "b.fits"},
       255,
       "Error: output file 'a.fits' would overwrite the input 'a.fits'!",
       ""},
      {"an input named like an output",
       ab,
       Setup::none,
       {"a.fits", "cut_a.fits"},
       255,
       "Error: output file 'cut_a.fits' would overwrite the input 'cut_a.fits'!",
       ""},
      {"output prefix of error images",
       ab,
       Setup::none,
       {"-p", "e.", "a.fits"},
       255,
       "Error: output file 'e.a.fits' would overwrite the input 'e.a.fits'!",
       ""},
      {"error output onto an input",
       {image("a.fits", -32), image("e.cut_a.fits")},
       Setup::none,
       {"--error", "a.fits", "e.cut_a.fits"},
       255,
       "Error: output file 'e.cut_a.fits' would overwrite the input 'e.cut_a.fits'!",
       ""},
      {"output linked to an input",
       ab,
       Setup::linkCutAToB,
       {"a.fits", "b.fits"},
       255,
       "Error: output file 'cut_a.fits' would overwrite the input 'b.fits'!",
       ""},
  };
}

class BriselProgram : public brisel_test::ImageCaseTable<Case, cases> {};

void prepare(const Case& c, const std::string& dir) {
  std::filesystem::create_directories(dir);
  switch (c.setup) {
    case Setup::none:
      break;
    case Setup::truncateB:
      std::filesystem::resize_file(dir + "/b.fits", 3500);
      break;
    case Setup::linkCutAToB:
      std::filesystem::create_symlink("b.fits", dir + "/cut_a.fits");
      break;
    case Setup::hardLinkCutAToB:
      std::filesystem::create_hard_link(dir + "/b.fits", dir + "/cut_a.fits");
      break;
    case Setup::overlapFileIsADirectory:
      std::filesystem::create_directory(dir + "/common.part");
      break;
    case Setup::earlierOverlapFile:
      test_support::writeText(dir + "/common.part", "1:20,1:16");
      break;
  }
}

std::string withDirectory(std::string argument, const std::string& dir) {
  const std::size_t at = argument.find("{dir}");
  if (at != std::string::npos) argument.replace(at, 5, dir);
  return argument;
}

TEST_P(BriselProgram, EndsWithItsStatusMessagesAndFiles) {
  const Case& c = GetParam();
  const std::string dir = scratch + brisel_test::caseName(c.name);
  prepare(c, dir);
  const auto before = brisel_test::snapshot(dir);

  std::vector<std::string> args;
  for (const std::string& arg : c.args) args.push_back(withDirectory(arg, dir));
  const test_support::RunResult run =
      test_support::runProgram(dir, BRISEL_PROGRAM, test_support::shellWords(args));
  EXPECT_EQ(run.status, c.status);
  if (c.stderrText.empty())
    EXPECT_EQ(run.err, "");
  else
    EXPECT_NE(run.err.find(c.stderrText), std::string::npos) << run.err;
  if (c.stdoutText.empty())
    EXPECT_EQ(run.out, "");
  else
    EXPECT_NE(run.out.find(c.stdoutText), std::string::npos) << run.out;

  // The inputs byte for byte as before, the outputs and nothing else beside them.
  const auto after = brisel_test::snapshot(dir);
  std::set<std::string> changed = c.written;
  changed.insert(c.removed.begin(), c.removed.end());
  EXPECT_EQ(brisel_test::changedFiles(before, after), changed);
  for (const std::string& name : c.removed)
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir + "/" + name))) << name;
  for (const std::string& name : c.written)
    if (name != "common.part") {
      EXPECT_EQ(test_support::fitsverifyVerdict(dir + "/" + name), "clean") << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, BriselProgram, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) {
                           return brisel_test::caseName(info.param.name);
                         });

}  // namespace
