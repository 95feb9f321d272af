// Tests the option passes of the sky program: listing, configuration file read and written,
// usage and the statuses of option handling, by running the program.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using tarvole_test::RunResult;
using test_support::ScratchDir;

// The listing lines "name | c | default | value" of a run's output, by name.
std::map<std::string, std::string> listing(const std::string& out,
                                           std::vector<std::string>* order = nullptr) {
  std::map<std::string, std::string> values;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t bar = line.find(" | ");
    if (bar == std::string::npos || line.find(" | ", bar + 3) == std::string::npos) continue;
    std::string name = line.substr(0, line.find(' '));
    const std::size_t last = line.rfind(" | ");
    values[name] = line.substr(last + 3);
    if (order) order->push_back(name);
  }
  return values;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct OptionCase {
  const char* what;
  const char* config;     // content of in.cfg, or null
  const char* arguments;  // after the program name
  int status;
  std::map<std::string, std::string> values;  // listing values that must show
  const char* err;                            // text the error stream must hold
  const char* out;                            // text standard output must hold
};

std::ostream& operator<<(std::ostream& os, const OptionCase& c) { return os << c.what; }

const OptionCase option_cases[] = {
    {"short letter a sets radius, --radius binradius",
     nullptr,
     "-a 50 --radius 12",
     255,
     {{"radius", "12"}},
     "please use fits files",
     nullptr},
    {"a configuration line radius sets binradius",
     "radius = 7\n",
     "--read_config_file in.cfg",
     255,
     {{"radius", "7"}, {"read_config_file", "in.cfg"}},
     nullptr,
     "reading config file: in.cfg\n\n"},
    {"a flag set in the file toggles off on the command line",
     "diffima = true\n",
     "--read_config_file in.cfg -d",
     255,
     {{"diffima", "FALSE"}},
     nullptr,
     nullptr},
    {"region stored in ascending order, galcenter",
     nullptr,
     "-r 300:20,5:1 -g 10,20",
     255,
     {{"region", "20:300,1:5"}, {"galcenter", "10,20"}},
     nullptr,
     nullptr},
    {"unknown option: message, usage, status 1",
     nullptr,
     "--bogus 3 ref.fits",
     1,
     {},
     "Caught exception : ",
     "intervall"},
    {"intervall below 1", nullptr, "-i 0 ref.fits", 1, {}, "intervall", nullptr},
    {"--radius below 1", nullptr, "--radius 0 -w ref.fits", 1, {}, "radius", nullptr},
    // A value out of range is refused only where the chosen method reads it.
    {"-a 0 with a method without sampling grid",
     nullptr,
     "-a 0 --fielddiffimaY",
     255,
     {{"radius", "30"}},
     "please use fits files",
     nullptr},
    {"--radius 0 with a method without spline surface",
     nullptr,
     "--radius 0 -m",
     255,
     {{"radius", "0"}},
     "please use fits files",
     nullptr},
    {"-a 0", nullptr, "-a 0 ref.fits", 1, {}, "-a (box radius) must be at least 1, not 0", nullptr},
    {"-a negative", nullptr, "-a -4 ref.fits", 1, {}, "-a (box radius) must be at least 1, not -4", nullptr},
    {"-a beyond any image",
     nullptr,
     "-a 2000000 ref.fits",
     1,
     {},
     "-a (box radius) must be at most 1000000",
     nullptr},
    {"--radius beyond any image",
     nullptr,
     "--radius 1000001 --fielddiffima ref.fits",
     1,
     {},
     "radius must be at most",
     nullptr},
    {"galcenter far outside",
     nullptr,
     "-g 2000000000,5 ref.fits",
     1,
     {},
     "galcenter must be at most 1000000, not 2000000000",
     nullptr},
    {"galcenter far outside below",
     nullptr,
     "-g 5,-1000001 ref.fits",
     1,
     {},
     "galcenter must be at least -1000000",
     nullptr},
    {"galcenter outside the image is allowed",
     nullptr,
     "-g -50,3000",
     255,
     {{"galcenter", "-50,3000"}},
     "please use fits files",
     nullptr},
    {"unreadable configuration file: a warning naming it",
     nullptr,
     "--read_config_file missing.cfg",
     255,
     {},
     "missing.cfg",
     nullptr},
    {"--read_config_file without a value",
     nullptr,
     "-v 1 --read_config_file",
     1,
     {},
     "Caught exception : ",
     nullptr},
    {"a configuration file cannot ask for another one or a written one",
     "write_config_file = w.cfg\n",
     "--read_config_file in.cfg",
     255,
     {{"write_config_file", ""}},
     nullptr,
     nullptr},
};

class TarvoleOptionCases : public testing::TestWithParam<OptionCase> {};

// One run in a fresh directory: its status, the listing values, its messages, and no
// configuration file written that no case asks for.
TEST_P(TarvoleOptionCases, PassesListingAndStatuses) {
  const OptionCase& c = GetParam();
  ScratchDir dir;
  if (c.config) std::ofstream(dir / "in.cfg") << c.config;
  const RunResult run = tarvole_test::run_tarvole(dir.path, c.arguments);
  EXPECT_EQ(run.status, c.status) << run.err;
  const auto values = listing(run.out);
  for (const auto& [name, value] : c.values)
    EXPECT_EQ(values.count(name) ? values.at(name) : "<none>", value) << name;
  if (c.err) {
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
  if (c.out) {
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
  }
  EXPECT_FALSE(tarvole_test::exists(dir / "w.cfg"));
}

INSTANTIATE_TEST_SUITE_P(Cases, TarvoleOptionCases, testing::ValuesIn(option_cases),
                         [](const testing::TestParamInfo<OptionCase>& info) {
                           return tarvole_test::case_name(info.param.what);
                         });

// No argument: the echo, 26 listing lines in byte order of the names, the usage on the error
// stream and status 255.
TEST(TarvoleOptions, NoArgument) {
  ScratchDir dir;
  const RunResult run = tarvole_test::run_tarvole(dir.path, "");
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out.substr(0, std::string("\n" TARVOLE_EXE " \n\n").size()), "\n" TARVOLE_EXE " \n\n");
  std::vector<std::string> order;
  const auto values = listing(run.out, &order);
  const std::vector<std::string> names = {"binspline",
                                          "binsplinedez",
                                          "const",
                                          "const_abs",
                                          "diffima",
                                          "error",
                                          "fielddiffima",
                                          "fielddiffimaY",
                                          "fitnew",
                                          "fitvariable",
                                          "galcenter",
                                          "inputtab",
                                          "intervall",
                                          "ordabs",
                                          "ordsky",
                                          "prefix",
                                          "rOund",
                                          "radius",
                                          "read_config_file",
                                          "ref",
                                          "region",
                                          "skynew",
                                          "varmask",
                                          "verbose",
                                          "verynew",
                                          "write_config_file"};
  EXPECT_EQ(order, names);
  EXPECT_EQ(values.at("radius"), "30");
  EXPECT_NE(run.err.find("binning radius for sky determination"), std::string::npos);
  EXPECT_EQ(run.out.find("binning radius for sky determination"), std::string::npos);
}

// A written configuration has 27 lines in registration order with usage comments, two of them
// "radius"; read back, the second sets binradius and radius returns to 100.
TEST(TarvoleOptions, ConfigurationRoundTrip) {
  ScratchDir dir;
  RunResult run = tarvole_test::run_tarvole(dir.path, "-a 50 --radius 12 -e --write_config_file out.cfg");
  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.out.find("writing config file: out.cfg\n\n"), std::string::npos);
  const auto written = lines_of(test_support::readText(dir / "out.cfg"));
  ASSERT_EQ(written.size(), 27u);
  const char* starts[] = {"diffima\t= FALSE\t# diffima",
                          "fielddiffima\t",
                          "fielddiffimaY\t",
                          "skynew\t",
                          "binspline\t",
                          "binsplinedez\t",
                          "verynew\t",
                          "fitnew\t",
                          "const_abs\t",
                          "const\t",
                          "ordabs\t= -1\t# order in diffima",
                          "ordsky\t",
                          "error\t= TRUE\t# with error pic",
                          "ref\t",
                          "rOund\t",
                          "intervall\t= 20\t",
                          "radius\t= 50\t# radius",
                          "verbose\t",
                          "inputtab\t",
                          "prefix\t= b\t# prefix prefix",
                          "region\t= 270:1870,280:1880\t",
                          "galcenter\t",
                          "fitvariable\t",
                          "varmask\t",
                          "radius\t= 12\t# binning radius for sky determination",
                          "read_config_file\t",
                          "write_config_file\t= out.cfg\t"};
  for (std::size_t k = 0; k < written.size(); ++k)
    EXPECT_EQ(written[k].rfind(starts[k], 0), 0u) << written[k];

  run = tarvole_test::run_tarvole(dir.path, "--read_config_file out.cfg --write_config_file again.cfg");
  const auto values = listing(run.out);
  EXPECT_EQ(values.at("radius"), "12");
  EXPECT_EQ(values.at("error"), "TRUE");
  const auto again = lines_of(test_support::readText(dir / "again.cfg"));
  ASSERT_EQ(again.size(), 27u);
  EXPECT_EQ(again[16].rfind("radius\t= 100\t", 0), 0u) << again[16];
  EXPECT_EQ(again[24].rfind("radius\t= 12\t", 0), 0u) << again[24];
}

}  // namespace
