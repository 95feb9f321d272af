// The sky program's option table driven through both readers and the parser:
// two options share the name "radius", flags toggle, and a configuration
// file pass supplies the defaults of the command-line pass.
#include <gtest/gtest.h>

#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tarvole/option_table.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"
#include "tests/util/util_fixtures.h"
#include "util/command_line_reader.h"
#include "util/config_file_reader.h"

namespace {

using test_support::TempFile;
using util_test::Arguments;

std::vector<std::string> withProgramName(std::vector<std::string> args) {
  args.insert(args.begin(), "tarvole");
  return args;
}

// A configuration-file pass (when a file is named) followed by a
// command-line pass whose defaults come from the first.
struct SkyRun {
  SkyRun(std::vector<std::string> args, const std::string& configFile = "")
      : arguments(withProgramName(std::move(args))) {
    std::vector<std::string> defaults = builtin_option_defaults();
    if (!configFile.empty()) {
      util::ConfigFileReader configReader(configFile);
      util::OptionParser configParser(&configReader);
      std::vector<std::unique_ptr<util::Option>> configOptions;
      register_sky_options(configParser, fromConfig, defaults, configOptions);
      configParser.parseOptions();
      defaults = option_defaults_from(fromConfig);
    }
    reader = std::make_unique<util::CommandLineReader>(arguments.argc(), arguments.argv());
    parser = std::make_unique<util::OptionParser>(reader.get());
    register_sky_options(*parser, record, defaults, options);
    parser->parseOptions();
  }
  Arguments arguments;
  Pliste fromConfig;
  Pliste record;
  std::unique_ptr<util::CommandLineReader> reader;
  std::unique_ptr<util::OptionParser> parser;
  std::vector<std::unique_ptr<util::Option>> options;
};

TEST(SkyOptionTable, TheTwoRadiusOptions) {
  struct Case {
    std::vector<std::string> args;
    const char* config;  // content of a configuration file, or null for none
    int radius, binradius;
  };
  const Case cases[] = {
      {{"-a", "50", "--radius", "12"}, nullptr, 50, 12},
      {{"--radius", "12"}, nullptr, 100, 12},
      {{}, "radius = 7\n", 100, 7},
      {{"-a", "5"}, "radius = 7\nradius = 8 # last one wins\n", 5, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? std::string(c.config) : c.args[0]);
    const TempFile config("sky_radius.cfg", c.config ? c.config : "");
    const SkyRun run(c.args, c.config ? config.path : "");
    EXPECT_EQ(run.record.radius, c.radius);
    EXPECT_EQ(run.record.binradius, c.binradius);
  }
}

TEST(SkyOptionTable, CommandLineFlagTogglesTheConfiguredValue) {
  const TempFile config("sky_flags.cfg", "diffima = true\nerror = TRUE\nref = false\nregion = 1:2,3:4\n");
  const SkyRun run({"-d", "--ref", "-g", "5,6", "a.fits", "b.fits"}, config.path);
  EXPECT_TRUE(run.fromConfig.diffima);
  EXPECT_FALSE(run.record.diffima);
  EXPECT_TRUE(run.record.error);
  EXPECT_TRUE(run.record.ref);
  EXPECT_EQ(run.record.region.getEnd(2), 4);
  EXPECT_EQ(run.record.galcenter[1], 6);
  EXPECT_EQ(run.reader->fileArguments(), (std::list<std::string>{"a.fits", "b.fits"}));
}

TEST(SkyOptionTable, ValueListing) {
  const SkyRun run({"-v", "2", "--prefix", "c.", "-r", "1880:280,1870:270", "--fielddiffimaY"});
  std::ostringstream listing;
  listing << *run.parser;
  EXPECT_EQ(listing.str(),
            "binspline        | m |                      false | FALSE\n"
            "binsplinedez     | h |                      false | FALSE\n"
            "const            | c |                      false | FALSE\n"
            "const_abs        | b |                      false | FALSE\n"
            "diffima          | d |                      false | FALSE\n"
            "error            | e |                      false | FALSE\n"
            "fielddiffima     |   |                      false | FALSE\n"
            "fielddiffimaY    |   |                      false | TRUE\n"
            "fitnew           | n |                      false | FALSE\n"
            "fitvariable      | f |                        sky | sky\n"
            "galcenter        | g |                 1070, 1077 | 1070,1077\n"
            "inputtab         | t |                            | \n"
            "intervall        | i |                         20 | 20\n"
            "ordabs           |   |                         -1 | -1\n"
            "ordsky           |   |                         -1 | -1\n"
            "prefix           | p |                          b | c.\n"
            "rOund            | o |                      false | FALSE\n"
            "radius           |   |                         30 | 30\n"
            "read_config_file |   |                            | \n"
            "ref              |   |                      false | FALSE\n"
            "region           | r |          270:1870,280:1880 | 280:1880,270:1870\n"
            "skynew           | s |                      false | FALSE\n"
            "varmask          |   |                            | \n"
            "verbose          | v |                          0 | 2\n"
            "verynew          | w |                      false | FALSE\n"
            "write_config_file |   |                            | \n");
}

TEST(SkyOptionTable, WrittenConfigurationReadsBack) {
  const TempFile written("sky_written.cfg", "");
  const SkyRun run(
      {"-a", "50", "--radius", "12", "-e", "--inputtab", "stars.txt", "--write_config_file", written.path});
  run.parser->writeConfig(written.path, true, true);
  EXPECT_EQ(test_support::readText(written.path),
            "diffima\t= FALSE\t# diffima\n"
            "fielddiffima\t= FALSE\t# fielddiffima\n"
            "fielddiffimaY\t= FALSE\t# fielddiffimaY\n"
            "skynew\t= FALSE\t# skynew\n"
            "binspline\t= FALSE\t# binning, median smoothing, bicubic spline\n"
            "binsplinedez\t= FALSE\t# binspline_dez\n"
            "verynew\t= FALSE\t# verynew\n"
            "fitnew\t= FALSE\t# fitnew\n"
            "const_abs\t= FALSE\t# constant absorption\n"
            "const\t= FALSE\t# constant sky\n"
            "ordabs\t= -1\t# order in diffima\n"
            "ordsky\t= -1\t# order in diffima\n"
            "error\t= TRUE\t# with error pic\n"
            "ref\t= FALSE\t# reference\n"
            "rOund\t= FALSE\t# rOund area\n"
            "intervall\t= 20\t# intervall\n"
            "radius\t= 50\t# radius\n"
            "verbose\t= 0\t# verbose level\n"
            "inputtab\t= stars.txt\t# input table\n"
            "prefix\t= b\t# prefix prefix\n"
            "region\t= 270:1870,280:1880\t# region x1:x2,y1:y2\n"
            "galcenter\t= 1070,1077\t# galaxy center\n"
            "fitvariable\t= sky\t# fit variable ...\n"
            "varmask\t= \t# varmask\n"
            "radius\t= 12\t# binning radius for sky determination\n"
            "read_config_file\t= \t# input config filename\n"
            "write_config_file\t= " +
                written.path + "\t# output config filename\n");

  // Read back: both radius lines set the binning radius, the last one wins,
  // and every other option comes back with the value it was written with.
  const SkyRun reread({}, written.path);
  EXPECT_EQ(reread.fromConfig.binradius, 12);
  EXPECT_EQ(reread.fromConfig.radius, 100);
  EXPECT_TRUE(reread.fromConfig.error);
  EXPECT_EQ(reread.fromConfig.inputtab, "stars.txt");
  EXPECT_EQ(reread.fromConfig.varmask, "");
  EXPECT_EQ(reread.fromConfig.region.getStart(2), 280);
  EXPECT_EQ(reread.fromConfig.galcenter[1], 1077);
  EXPECT_EQ(reread.fromConfig.write_config_file, written.path);
  // The command-line pass never takes a configuration file name from a file.
  EXPECT_EQ(reread.record.write_config_file, "");
}

TEST(SkyOptionTable, CopyTakesEveryOption) {
  const SkyRun run({"-d", "--fielddiffima", "--fielddiffimaY", "-s", "-m", "-h", "-w", "-n", "-b", "-c", "--ordabs",
                    "2", "--ordsky", "3", "-e", "--ref", "-o", "-i", "7", "-a", "8", "-v", "1", "-t", "t.txt", "-p",
                    "q.", "-r", "1:2,3:4", "-g", "5,6", "-f", "abs", "--varmask", "m.fits", "--radius", "9",
                    "--read_config_file", "in.cfg", "--write_config_file", "out.cfg"});
  Pliste copy;
  copy_options(run.record, copy);
  EXPECT_EQ(option_defaults_from(copy), option_defaults_from(run.record));
  EXPECT_NE(option_defaults_from(copy), builtin_option_defaults());
  EXPECT_EQ(copy.read_config_file, "in.cfg");
  EXPECT_EQ(copy.write_config_file, "out.cfg");
}

}  // namespace
