// The option parser: usage listing, parsing order, unknown names, summaries and written configurations.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/message_of.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"
#include "util/option.h"
#include "util/option_parser.h"
#include "util/option_reader.h"
#include "util/uexception.h"

namespace {

using test_support::messageOf;

using Entries = std::vector<std::pair<std::string, std::string>>;

// Delivers a fixed list of (name, value) pairs.
class ScriptedReader : public util::OptionReader {
 public:
  explicit ScriptedReader(Entries entries) : entries_(std::move(entries)) {}
  std::string nextOptionName() override { return entries_.at(next_).first; }
  std::string nextOptionValue(const util::Option*) override { return entries_.at(next_++).second; }
  bool done() override { return next_ >= entries_.size(); }

 private:
  Entries entries_;
  size_t next_ = 0;
};

std::string usageOf(const util::OptionParser& parser) {
  std::ostringstream os;
  parser.printUsage(os);
  return os.str();
}

TEST(OptionParser, UsageListing) {
  const std::string word9 = "abcdefghi";
  const std::string word63(63, 'w');
  const std::string word64(64, 'W');
  struct Case {
    std::string name;
    char c;
    std::string usage;
    std::string expected;
  };
  const Case cases[] = {
      {"verbose", 'v', "verbose level",
       "    -v, --verbose <INT>                  [0]\n"
       "        verbose level \n\n"},
      {"ordsky", 0, "order\tin\ndiffima",
       "    --ordsky <INT>                       [0]\n"
       "        order in diffima \n\n"},
      {"empty", 0, "", "    --empty <INT>                        [0]\n        \n\n"},
      {"name_that_makes_the_head_long", 'n', "x",
       "    -n, --name_that_makes_the_head_long <INT>  [0]\n        x \n\n"},
      {"wrap", 0,
       word9 + " " + word9 + " " + word9 + " " + word9 + " " + word9 + " " + word9 + " " + word9 + "  " +
           word9,
       "    --wrap <INT>                         [0]\n"
       "        " +
           word9 + " " + word9 + " " + word9 + " " + word9 + " " + word9 + " " + word9 +
           " \n"
           "        " +
           word9 + " " + word9 + " \n\n"},
      {"fits", 0, word63, "    --fits <INT>                         [0]\n        " + word63 + " \n\n"},
      {"long", 0, word64,
       "    --long <INT>                         [0]\n        \n        " + word64 + " \n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    util::IntOption option(c.name, "0", c.usage, c.c, nullptr);
    util::OptionParser parser(nullptr);
    parser.addOption(&option);
    EXPECT_EQ(usageOf(parser), c.expected);
    EXPECT_EQ(option.getUsage(), c.usage);
  }
}

TEST(OptionParser, ParsesInSourceOrderAndReportsUnknownNames) {
  struct Case {
    Entries entries;
    const char* message;  // "" when the parse succeeds
    int verbose;
    bool flag;
  };
  const Case cases[] = {
      {{{"verbose", "2"}, {"v", "3"}}, "", 3, false},
      {{{"e", "toggle"}, {"error", "toggle"}, {"e", "toggle"}}, "", 0, true},
      {{{"verbose", "4"}, {"x", "1"}}, "Unknown short option 'x' encountered!", 4, false},
      {{{"v", "5"}, {"Verbose", "1"}}, "Unknown long option 'Verbose' encountered!", 5, false},
      {{{"verb", "1"}}, "Unknown long option 'verb' encountered!", 0, false},
      {{{"", "1"}}, "Unknown short option '' encountered!", 0, false},
      // A one-letter long name is looked up as a short character.
      {{{"q", "1"}}, "Unknown short option 'q' encountered!", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    int verbose = 0;
    bool flag = false;
    util::IntOption verboseOption("verbose", "0", "", 'v', &verbose);
    util::BoolOption flagOption("error", "false", "", 'e', &flag);
    util::IntOption oneLetter("q", "0", "", 0, nullptr);
    ScriptedReader reader(c.entries);
    util::OptionParser parser(&reader);
    parser.addOption(&verboseOption);
    parser.addOption(&flagOption);
    parser.addOption(&oneLetter);
    EXPECT_EQ(messageOf<util::UException>([&] { parser.parseOptions(); }, "<nothing thrown>"),
              *c.message ? c.message : "<nothing thrown>");
    EXPECT_EQ(verbose, c.verbose);
    EXPECT_EQ(flag, c.flag);
  }
}

TEST(OptionParser, OptionErrorsPassThrough) {
  int pair[2] = {0, 0};
  util::IntArrayOption option("pair", "1,2", "", 'g', 2, pair);
  ScriptedReader reader(Entries{{"g", "7,8,9"}});
  util::OptionParser parser(&reader);
  parser.addOption(&option);
  EXPECT_EQ(messageOf<util::UException>([&] { parser.parseOptions(); }),
            "Too many elements in IntArrayOption pair!");
  EXPECT_EQ(pair[1], 8);
}

TEST(OptionParser, LaterNameWinsButEarlierOptionStaysListed) {
  int first = 0, second = 0;
  util::IntOption radius("radius", "100", "radius", 'a', &first);
  util::IntOption binRadius("radius", "30", "binning radius", 0, &second);
  ScriptedReader reader(Entries{{"a", "50"}, {"radius", "12"}});
  util::OptionParser parser(&reader);
  parser.addOption(&radius);
  parser.addOption(&binRadius);
  parser.parseOptions();
  EXPECT_EQ(first, 50);
  EXPECT_EQ(second, 12);
  EXPECT_EQ(parser.getOption("radius"), &binRadius);
  EXPECT_EQ(usageOf(parser),
            "    -a, --radius <INT>                   [100]\n        radius \n\n"
            "    --radius <INT>                       [30]\n        binning radius \n\n");
  std::ostringstream listing;
  listing << parser;
  EXPECT_EQ(listing.str(), "radius           |   |                         30 | 12\n");
}

TEST(OptionParser, GetOptionOfUnknownNameChangesNothing) {
  util::IntOption a("a_opt", "1", "x", 0, nullptr);
  util::OptionParser parser(nullptr);
  parser.addOption(&a);
  EXPECT_EQ(parser.getOption("missing"), nullptr);
  EXPECT_EQ(parser.getOption("a_opt"), &a);
  EXPECT_EQ(parser.toString(false), "a_opt=1");
  std::ostringstream listing;
  listing << parser;
  EXPECT_EQ(listing.str(), "a_opt            |   |                          1 | 1\n");
}

TEST(OptionParser, SummaryText) {
  util::IntOption a("a", "1", "x", 0, nullptr);
  util::IntOption b("b", "2", "y", 0, nullptr);
  util::OptionParser parser(nullptr);
  EXPECT_EQ(parser.toString(true), "");
  parser.addOption(&b);
  parser.addOption(&a);
  EXPECT_EQ(parser.toString(true), "a=1 # x; b=2 # y");
  EXPECT_EQ(parser.toString(false), "a=1; b=2");
}

TEST(OptionParser, WriteConfigInEitherOrder) {
  std::string prefix;
  bool flag = false;
  util::StringOption lower("prefix", "b", "prefix prefix", 'p', &prefix);
  util::BoolOption upper("Zflag", "true", "a flag", 0, &flag);
  util::OptionParser parser(nullptr);
  parser.addOption(&lower);
  parser.addOption(&upper);
  const std::string path = test_support::tempPath("options_parser_write.cfg");
  struct Case {
    bool withUsage, byOrder;
    const char* expected;
  };
  const Case cases[] = {
      {true, true, "prefix\t= b\t# prefix prefix\nZflag\t= TRUE\t# a flag\n"},
      {false, false, "Zflag\t= TRUE\nprefix\t= b\n"},
  };
  for (const auto& c : cases) {
    parser.writeConfig(path, c.withUsage, c.byOrder);
    EXPECT_EQ(test_support::readText(path), c.expected);
  }
  std::remove(path.c_str());
}

TEST(OptionParser, WriteConfigFailures) {
  util::IntOption a("a_opt", "1", "x", 0, nullptr);
  util::OptionParser parser(nullptr);
  parser.addOption(&a);
  const std::string noDirectory = ::testing::TempDir() + "options_no_such_dir/out.cfg";
  EXPECT_EQ(messageOf<util::UException>([&] { parser.writeConfig(noDirectory, true, true); }),
            "Cannot open file " + noDirectory + " for writing");
  // A device that accepts the open but fails every write.
  if (std::ifstream("/dev/full").good()) {
    EXPECT_EQ(messageOf<util::UException>([&] { parser.writeConfig("/dev/full", true, true); }),
              "Cannot write file /dev/full");
  }
}

TEST(OptionParser, ChangeReaderAndCopy) {
  int value = 0;
  util::IntOption option("value", "0", "", 'n', &value);
  ScriptedReader first(Entries{{"value", "1"}});
  ScriptedReader second(Entries{{"n", "2"}});
  util::OptionParser parser(&first);
  parser.addOption(&option);
  parser.parseOptions();
  EXPECT_EQ(value, 1);
  util::OptionParser copy(parser);
  copy.changeReader(&second);
  copy.parseOptions();
  EXPECT_EQ(value, 2);
  EXPECT_EQ(copy.getOption("value"), &option);
}

// An option that counts its destructions.
class CountedOption : public util::IntOption {
 public:
  CountedOption(const char* name, char cmdLineChar, int* destroyed)
      : util::IntOption(name, "1", "", cmdLineChar, nullptr), destroyed_(destroyed) {}
  ~CountedOption() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST(OptionParser, DeleteOptionsDeletesWhatLongNamesReach) {
  int destroyed = 0;
  auto* displaced = new CountedOption("radius", 'a', &destroyed);
  util::OptionParser parser(nullptr);
  parser.addOption(displaced);
  parser.addOption(new CountedOption("radius", 0, &destroyed));
  parser.addOption(new CountedOption("prefix", 'p', &destroyed));
  parser.addOption(nullptr);
  parser.deleteOptions();
  // The two options that long names reach; the displaced one stays the caller's.
  EXPECT_EQ(destroyed, 2);
  parser.deleteOptions();
  EXPECT_EQ(destroyed, 2) << "a second call deletes nothing twice";
  delete displaced;
  EXPECT_EQ(destroyed, 3);
}

}  // namespace
