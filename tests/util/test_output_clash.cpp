// The checks of a run's outputs before the first write: an output that is an input under another
// name (a path through "." or "..", a symbolic link to the file or to its directory, a hard
// link) is found and named, and an output whose directory is missing or that is a directory is
// refused with its reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"
#include "util/output_clash.h"

namespace {

namespace fs = std::filesystem;

struct ClashCase {
  std::string what;
  std::vector<std::string> outputs;          // names relative to the scratch directory
  std::optional<std::string> output, input;  // the clash expected, by the names given; none: no clash
};

TEST(OutputClash, AnInputUnderAnyNameIsFoundAndNamed) {
  const test_support::ScratchDir scratch("util_test");
  const std::string dir = scratch.path;
  fs::create_directories(dir + "d");
  test_support::writeText(dir + "d/in.fits", "input");
  test_support::writeText(dir + "other.fits", "another file");
  fs::create_symlink("d/in.fits", dir + "link.fits");
  fs::create_symlink("d", dir + "dlink");
  fs::create_hard_link(dir + "d/in.fits", dir + "hard.fits");
  fs::create_symlink("nowhere.fits", dir + "dangling.fits");
  const std::vector<std::string> inputs = {dir + "d/in.fits"};

  const ClashCase cases[] = {
      {"the same name", {"d/in.fits"}, "d/in.fits", "d/in.fits"},
      {"through . and ..", {"d/../d/./in.fits"}, "d/../d/./in.fits", "d/in.fits"},
      {"a symbolic link to the input", {"link.fits"}, "link.fits", "d/in.fits"},
      {"through a linked directory", {"dlink/in.fits"}, "dlink/in.fits", "d/in.fits"},
      {"a hard link", {"hard.fits"}, "hard.fits", "d/in.fits"},
      {"the first clash of several", {"new.fits", "hard.fits", "link.fits"}, "hard.fits", "d/in.fits"},
      {"another file", {"other.fits"}, std::nullopt, std::nullopt},
      {"a new file beside the input", {"d/cut_in.fits"}, std::nullopt, std::nullopt},
      {"a dangling link", {"dangling.fits"}, std::nullopt, std::nullopt},
  };
  for (const ClashCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> outputs;
    for (const std::string& name : c.outputs) outputs.push_back(dir + name);
    const auto clash = util::findOutputClash(inputs, outputs);
    ASSERT_EQ(clash.has_value(), c.output.has_value());
    if (!clash) continue;
    EXPECT_EQ(clash->output, dir + *c.output);
    EXPECT_EQ(clash->input, dir + *c.input);
  }
}

TEST(OutputClash, AnInputNamedRelativeToTheWorkingDirectoryIsFound) {
  const test_support::ScratchDir scratch("util_test");
  test_support::writeText(scratch / "in.fits", "input");
  const fs::path before = fs::current_path();
  fs::current_path(scratch.path);
  const auto clash = util::findOutputClash({"in.fits"}, {scratch / "in.fits"});
  fs::current_path(before);
  ASSERT_TRUE(clash.has_value());
  EXPECT_EQ(clash->input, "in.fits");
}

TEST(OutputClash, AnOutputThatCannotBeMadeIsRefusedWithItsReason) {
  const test_support::ScratchDir scratch("util_test");
  const std::string dir = scratch.path;
  fs::create_directories(dir + "d/sub");
  test_support::writeText(dir + "plain", "a file");
  struct Case {
    std::vector<std::string> outputs;
    std::string reason;  // empty: every output can be made
  };
  const Case cases[] = {
      {{dir + "new.fits", dir + "d/new.fits"}, ""},
      {{dir + "new.fits", dir + "missing/new.fits"},
       "cannot write '" + dir + "missing/new.fits': directory '" + dir + "missing' does not exist"},
      {{dir + "plain/new.fits"},
       "cannot write '" + dir + "plain/new.fits': '" + dir + "plain' is not a directory"},
      {{dir + "d/sub"}, "cannot write '" + dir + "d/sub': it is a directory"},
  };
  for (const Case& c : cases) EXPECT_EQ(util::findUnwritableOutput(c.outputs), c.reason);
}

}  // namespace
