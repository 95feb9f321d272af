// Reading options and file arguments from the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <string>
#include <vector>

#include "tests/support/message_of.h"
#include "tests/util/util_fixtures.h"
#include "util/command_line_reader.h"
#include "util/option.h"
#include "util/uexception.h"

namespace {

using util_test::Arguments;

// Drains the reader the way the option parser does, treating the names in
// `flags` as flags, and records "name=value" steps; a thrown message ends
// the record as "!message".
std::vector<std::string> drain(util::CommandLineReader& reader, const std::vector<std::string>& flags) {
  util::BoolOption flag("flag", "false", "", 0, nullptr);
  util::StringOption text("text", "", "", 0, nullptr);
  std::vector<std::string> steps;
  try {
    while (!reader.done()) {
      const std::string name = reader.nextOptionName();
      const bool isFlag = std::find(flags.begin(), flags.end(), name) != flags.end();
      steps.push_back(name + "=" +
                      reader.nextOptionValue(isFlag ? static_cast<util::Option*>(&flag) : &text));
    }
  } catch (const util::UException& e) {
    steps.push_back(std::string("!") + e.what());
  }
  return steps;
}

TEST(CommandLineReader, ReadsOptionsThenFileArguments) {
  struct Case {
    std::vector<std::string> args;  // after the program name
    std::vector<std::string> steps;
    std::vector<std::string> files;  // what fileArguments returns afterwards
  };
  const Case cases[] = {
      {{}, {}, {}},
      {{"image.fits", "-e"}, {}, {"image.fits", "-e"}},
      {{"-e", "a.fits", "b.fits"}, {"e=toggle"}, {"a.fits", "b.fits"}},
      {{"--verbose", "2", "-p", "x", "a.fits"}, {"verbose=2", "p=x"}, {"a.fits"}},
      {{"--ordsky", "-1", "--scale", "-.5", "--big", "-1e3"}, {"ordsky=-1", "scale=-.5", "big=-1e3"}, {}},
      {{"-e", "-e", "-e"}, {"e=toggle", "e=toggle", "e=toggle"}, {}},
      {{"--prefix"}, {"!No more argument values left!"}, {}},
      {{"--prefix", "--verbose"}, {"!Token '--verbose' does not seem like a valid value!"}, {"--verbose"}},
      {{"-p", "-x"}, {"!Token '-x' does not seem like a valid value!"}, {"-x"}},
      {{"-p", "-"}, {"!Token '-' does not seem like a valid value!"}, {"-"}},
      {{"-"}, {"!Token '-' not an argument specifier!"}, {"-"}},
      {{"--"}, {"!Token '--' not an argument specifier!"}, {"--"}},
      {{"-e", "--", "a"}, {"e=toggle", "!Token '--' not an argument specifier!"}, {"--", "a"}},
      {{"-x y"}, {"!Token '-x y' not an argument specifier!"}, {"-x y"}},
      {{"--e", "-xyz", "1", "--prefix=b", "2"}, {"e=toggle", "xyz=1", "prefix=b=2"}, {}},
      {{"-e", "a.fits", "-x.fits"}, {"e=toggle"}, {"a.fits", "-x.fits"}},
      {{"-e", "-x.fits"}, {"e=toggle", "!No more argument values left!"}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> words = {"prog"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    std::string joined;
    for (const auto& w : words) joined += w + " ";
    SCOPED_TRACE(joined);
    Arguments args(words);
    util::CommandLineReader reader(args.argc(), args.argv());
    std::vector<std::string> steps = drain(reader, {"e"});
    EXPECT_EQ(steps, c.steps);
    const std::list<std::string> files = reader.fileArguments();
    EXPECT_EQ(std::vector<std::string>(files.begin(), files.end()), c.files);
    EXPECT_TRUE(reader.fileArguments().empty());
  }
}

TEST(CommandLineReader, DoneAndFileArgumentsVector) {
  Arguments args({"prog", "-e", "a.fits", "b.fits"});
  util::CommandLineReader reader(args.argc(), args.argv());
  EXPECT_FALSE(reader.done());
  util::BoolOption flag("e", "false", "", 'e', nullptr);
  EXPECT_EQ(reader.nextOptionName(), "e");
  EXPECT_FALSE(reader.done());
  EXPECT_EQ(reader.nextOptionValue(&flag), "toggle");
  EXPECT_TRUE(reader.done());
  EXPECT_EQ(reader.fileArgumentsVector(), (std::vector<std::string>{"a.fits", "b.fits"}));
  EXPECT_TRUE(reader.fileArgumentsVector().empty());
  EXPECT_EQ(test_support::messageOf<util::UException>([&] { reader.nextOptionName(); }),
            "No more arguments left!");
}

TEST(CommandLineReader, ProgName) {
  const std::pair<const char*, const char*> cases[] = {
      {"/usr/local/bin/prog", "prog"}, {"prog", "prog"}, {"./a/", ""}, {"", ""}};
  for (const auto& [path, name] : cases) {
    Arguments args({path});
    EXPECT_EQ(util::CommandLineReader(args.argc(), args.argv()).progName(), name) << path;
  }
  EXPECT_EQ(util::CommandLineReader(0, nullptr).progName(), "");
  EXPECT_TRUE(util::CommandLineReader(0, nullptr).done());
}

}  // namespace
