// The sky program's option table driven through both readers and the parser:
// two options share the name "radius", flags toggle, and a configuration
// file pass supplies the defaults of the command-line pass.
#include <gtest/gtest.h>

#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"
#include "tests/util/util_fixtures.h"
#include "util/command_line_reader.h"
#include "util/config_file_reader.h"
#include "util/option.h"
#include "util/option_parser.h"
#include "util/region.h"

namespace {

using test_support::TempFile;
using util_test::Arguments;

struct SkyRecord {
  util::Region region{2};
  bool diffima, fielddiffima, fielddiffimaY, skynew, binspline, binsplinedez, verynew, fitnew, const_abs,
      const_sky, error, ref, rOund;
  int ordabs, ordsky, intervall, radius, verbose, binradius;
  int galcenter[2];
  std::string inputtab, prefix, fitvariable, varmask, read_config_file, write_config_file;
};

// Default texts in registration order.
const std::vector<std::string> kBuiltInDefaults = {
    "false",      "false", "false", "false", "false", "false", "false",
    "false",      "false", "false", "-1",    "-1",    "false", "false",
    "false",      "20",    "100",   "0",     "",      "b",     "270:1870,280:1880",
    "1070, 1077", "sky",   "",      "30",    "",      ""};

// The defaults of the command-line pass, taken from the record of the
// configuration-file pass.
std::vector<std::string> defaultsFrom(const SkyRecord& r) {
  const auto flag = [](bool b) { return std::string(b ? "true" : "false"); };
  const auto num = [](int i) { return std::to_string(i); };
  const std::string region = num(r.region.getStart(1)) + ":" + num(r.region.getEnd(1)) + "," +
                             num(r.region.getStart(2)) + ":" + num(r.region.getEnd(2));
  return {flag(r.diffima),
          flag(r.fielddiffima),
          flag(r.fielddiffimaY),
          flag(r.skynew),
          flag(r.binspline),
          flag(r.binsplinedez),
          flag(r.verynew),
          flag(r.fitnew),
          flag(r.const_abs),
          flag(r.const_sky),
          num(r.ordabs),
          num(r.ordsky),
          flag(r.error),
          flag(r.ref),
          flag(r.rOund),
          num(r.intervall),
          num(r.radius),
          num(r.verbose),
          r.inputtab,
          r.prefix,
          region,
          num(r.galcenter[0]) + ", " + num(r.galcenter[1]),
          r.fitvariable,
          r.varmask,
          num(r.binradius),
          "",
          ""};
}

// Creates the 27 options on the record and registers them with the parser.
std::vector<std::unique_ptr<util::Option>> registerSkyOptions(util::OptionParser& parser, SkyRecord& r,
                                                              const std::vector<std::string>& d) {
  using namespace util;
  const char none = 0;
  const int two = 2;
  std::vector<std::unique_ptr<Option>> options;
  const auto flag = [&](const char* name, char c, const char* usage, bool* field) {
    options.push_back(std::make_unique<BoolOption>(name, d[options.size()].c_str(), usage, c, field));
  };
  const auto integer = [&](const char* name, char c, const char* usage, int* field) {
    options.push_back(std::make_unique<IntOption>(name, d[options.size()].c_str(), usage, c, field));
  };
  const auto text = [&](const char* name, char c, const char* usage, std::string* field) {
    options.push_back(std::make_unique<StringOption>(name, d[options.size()].c_str(), usage, c, field));
  };
  flag("diffima", 'd', "diffima", &r.diffima);
  flag("fielddiffima", none, "fielddiffima", &r.fielddiffima);
  flag("fielddiffimaY", none, "fielddiffimaY", &r.fielddiffimaY);
  flag("skynew", 's', "skynew", &r.skynew);
  flag("binspline", 'm', "binning, median smoothing, bicubic spline", &r.binspline);
  flag("binsplinedez", 'h', "binspline_dez", &r.binsplinedez);
  flag("verynew", 'w', "verynew", &r.verynew);
  flag("fitnew", 'n', "fitnew", &r.fitnew);
  flag("const_abs", 'b', "constant absorption", &r.const_abs);
  flag("const", 'c', "constant sky", &r.const_sky);
  integer("ordabs", none, "order in diffima", &r.ordabs);
  integer("ordsky", none, "order in diffima", &r.ordsky);
  flag("error", 'e', "with error pic", &r.error);
  flag("ref", none, "reference", &r.ref);
  flag("rOund", 'o', "rOund area", &r.rOund);
  integer("intervall", 'i', "intervall", &r.intervall);
  integer("radius", 'a', "radius", &r.radius);
  integer("verbose", 'v', "verbose level", &r.verbose);
  text("inputtab", 't', "input table", &r.inputtab);
  text("prefix", 'p', "prefix prefix", &r.prefix);
  options.push_back(std::make_unique<RegionArrayOption>("region", d[20].c_str(), "region x1:x2,y1:y2", 'r',
                                                        two, &r.region));
  const char g = 'g';
  options.push_back(
      std::make_unique<IntArrayOption>("galcenter", d[21].c_str(), "galaxy center", g, two, r.galcenter));
  text("fitvariable", 'f', "fit variable ...", &r.fitvariable);
  text("varmask", none, "varmask", &r.varmask);
  integer("radius", none, "binning radius for sky determination", &r.binradius);
  text("read_config_file", none, "input config filename", &r.read_config_file);
  text("write_config_file", none, "output config filename", &r.write_config_file);
  for (const auto& option : options) parser.addOption(option.get());
  return options;
}

std::vector<std::string> withProgramName(std::vector<std::string> args) {
  args.insert(args.begin(), "tarvole");
  return args;
}

// A configuration-file pass (when a file is named) followed by a
// command-line pass whose defaults come from the first.
struct SkyRun {
  SkyRun(std::vector<std::string> args, const std::string& configFile = "")
      : arguments(withProgramName(std::move(args))) {
    std::vector<std::string> defaults = kBuiltInDefaults;
    if (!configFile.empty()) {
      util::ConfigFileReader configReader(configFile);
      util::OptionParser configParser(&configReader);
      auto configOptions = registerSkyOptions(configParser, fromConfig, defaults);
      configParser.parseOptions();
      defaults = defaultsFrom(fromConfig);
    }
    reader = std::make_unique<util::CommandLineReader>(arguments.argc(), arguments.argv());
    parser = std::make_unique<util::OptionParser>(reader.get());
    options = registerSkyOptions(*parser, record, defaults);
    parser->parseOptions();
  }
  Arguments arguments;
  SkyRecord fromConfig;
  SkyRecord record;
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

}  // namespace
