// Reading configuration files into typed options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fifo.h"
#include "tests/support/scratch_dir.h"
#include "util/config_file_reader.h"
#include "util/option.h"
#include "util/uexception.h"

namespace {

using test_support::TempFile;

// Every entry the reader delivers, as "name=value".
std::vector<std::string> entries(util::ConfigFileReader& reader) {
  std::vector<std::string> result;
  while (!reader.done()) {
    const std::string name = reader.nextOptionName();
    EXPECT_EQ(reader.nextOptionName(), name) << "nextOptionName must not advance";
    result.push_back(name + "=" + reader.nextOptionValue(nullptr));
  }
  return result;
}

TEST(ConfigFileReader, LinesToEntries) {
  struct Case {
    const char* content;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"verbose = 2 # more output\n", {"verbose=2"}},
      {"prefix = \"a b\" # x\n", {"prefix=a b"}},
      {"prefix = a b\n", {"prefix=a"}},
      {"inputtab =\n", {"inputtab="}},
      {"inputtab =   \t\n", {"inputtab="}},
      {"q = \"\"\n", {"q="}},
      {"two words = 5\n= 5\nno equals sign\n", {}},
      {"fitvariable = \"sky # comment\n", {"fitvariable=sky "}},
      {"q = \"abc\"def\n", {"q=abc"}},
      {"q = \"open to the end\n", {"q=open to the end"}},
      {"verbose = 2\r\nprefix=x\r\nq = \"a b\"\r\n", {"verbose=2", "prefix=x", "q=a b"}},
      {"a = 1\nradius = 7", {"a=1", "radius=7"}},
      {"  name\t=\tvalue  trailing\n", {"name=value"}},
      {"x==y\n", {"x==y"}},
      {"# only = a comment\n\n   # another\n", {}},
      {"", {}},
      {"radius = 1\nradius = 2\n", {"radius=1", "radius=2"}},
      {"region = 270:1870,280:1880\n", {"region=270:1870,280:1880"}},
      {"flag\t= TRUE\t# usage text\nd = -1.5e3\n", {"flag=TRUE", "d=-1.5e3"}},
  };
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    const TempFile file("config_reader_lines" + std::to_string(number++), c.content);
    util::ConfigFileReader reader(file.path);
    EXPECT_TRUE(reader.isOpen());
    EXPECT_EQ(entries(reader), c.expected);
  }
}

TEST(ConfigFileReader, FinishedReaderThrows) {
  const std::string missing = ::testing::TempDir() + "options_config_reader_does_not_exist";
  const TempFile emptyFile("config_reader_empty", "");
  const std::string& empty = emptyFile.path;
  const std::string directory = ::testing::TempDir();
  const test_support::Fifo fifo(test_support::tempPath("config_reader_fifo"));
  ASSERT_TRUE(fifo.made);
  for (const std::string& path : {missing, empty, directory, fifo.path}) {
    SCOPED_TRACE(path);
    util::ConfigFileReader reader(path);
    EXPECT_EQ(reader.isOpen(), path == empty);
    EXPECT_EQ(reader.fileName(), path);
    EXPECT_TRUE(reader.done());
    try {
      reader.nextOptionName();
      ADD_FAILURE() << "nothing thrown";
    } catch (const util::UException& e) {
      EXPECT_STREQ(e.what(), "No more arguments left!");
    }
    try {
      reader.nextOptionValue(nullptr);
      ADD_FAILURE() << "nothing thrown";
    } catch (const util::UException& e) {
      EXPECT_STREQ(e.what(), "No more argument values left!");
    }
  }
}

TEST(ConfigFileReader, SetsARegionOption) {
  const TempFile file("config_reader_region", "region = 1870:270,280:1880\n");
  util::ConfigFileReader reader(file.path);
  util::Region region(2);
  util::RegionArrayOption option("region", "0:0,0:0", "", 'r', 2, &region);
  ASSERT_EQ(reader.nextOptionName(), "region");
  option.setValue(reader.nextOptionValue(&option));
  EXPECT_TRUE(reader.done());
  EXPECT_EQ(region.getStart(1), 270);
  EXPECT_EQ(region.getEnd(1), 1870);
  EXPECT_EQ(region.getStart(2), 280);
  EXPECT_EQ(region.getEnd(2), 1880);
}

}  // namespace
