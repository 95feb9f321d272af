// Failures of the overlap cutter program: exit status and message for usage errors,
// incompatible images, missing files and keywords, and outputs that would overwrite an
// input; no failure writes or changes any file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/brisel/brisel_fixtures.h"

namespace {

using brisel_test::TestImage;

enum class Setup { none, truncateB, linkCutAToB };

struct Case {
  std::string name;
  std::vector<TestImage> images;
  Setup setup;
  std::vector<std::string> args;
  int status;
  std::string stderrText;  // standard error contains it
  std::string stdoutText;  // standard output contains it; empty: nothing is printed there
};

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

std::vector<Case> cases() {
  const std::vector<TestImage> ab = {image("a.fits", -32), image("b.fits", -32)};
  return {
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
       "EXCEPTION: FitsException: cannot find keyword 'CRPIX1",
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
      // An image wholly left of the frame: w = -121; decided before anything is written.
      {"no overlap",
       {image("a.fits"), image("b.fits", 0, "\"CRPIX1\": 150")},
       Setup::none,
       {"a.fits", "b.fits"},
       1,
       "Error: the images have no region in common( -121, 15 )!\n",
       ""},
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

std::string shellQuoted(const std::string& text) { return "'" + text + "'"; }

std::string caseDir(const Case& c) {
  std::string name = c.name;
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

TEST(BriselFailures, EndWithStatusAndMessageAndWriteNothing) {
  const test_support::ScratchDir scratch("brisel_test"), logs("brisel_test");
  brisel_test::ImageSets sets;
  for (const Case& c : cases()) sets.emplace_back(caseDir(c), c.images);
  brisel_test::makeImages(scratch.path, sets);

  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const std::string dir = scratch / caseDir(c);
    std::filesystem::create_directories(dir);
    if (c.setup == Setup::truncateB) std::filesystem::resize_file(dir + "/b.fits", 3500);
    if (c.setup == Setup::linkCutAToB) std::filesystem::create_symlink("b.fits", dir + "/cut_a.fits");
    const auto before = brisel_test::snapshot(dir);

    std::string command = "cd " + dir + " && " + BRISEL_PROGRAM;
    for (const std::string& arg : c.args) command += " " + shellQuoted(arg);
    const std::string errFile = logs / "stderr";
    std::string out;
    EXPECT_EQ(test_support::runCommand(command + " 2>" + errFile, &out), c.status);
    const std::string err = test_support::readText(errFile);
    EXPECT_NE(err.find(c.stderrText), std::string::npos) << err;
    if (c.stdoutText.empty())
      EXPECT_EQ(out, "");
    else
      EXPECT_NE(out.find(c.stdoutText), std::string::npos) << out;
    EXPECT_EQ(brisel_test::changedFiles(before, brisel_test::snapshot(dir)), std::set<std::string>{});
  }
}

}  // namespace
