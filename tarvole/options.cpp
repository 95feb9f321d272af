// The option table of the sky program and its two passes.
#include "tarvole/options.h"

#include <iostream>
#include <memory>
#include <vector>

#include "numerics/convert.h"
#include "util/command_line_reader.h"
#include "util/config_file_reader.h"
#include "util/option.h"
#include "util/option_parser.h"
#include "util/uexception.h"

namespace {

// Default texts in registration order, as built into the program.
const std::vector<std::string> builtin_defaults = {
    "false", "false", "false", "false", "false", "false", "false", "false", "false",
    "false", "-1",    "-1",    "false", "false", "false", "20",    "100",   "0",
    "",      "b",     "270:1870,280:1880", "1070, 1077", "sky", "", "30", "", ""};

// The 27 options bound to the fields of `rec`, registered in table order with the given default
// texts. The options stay owned by `owned`; the parser only points to them.
void register_options(util::OptionParser& parser, Pliste& rec, const std::vector<std::string>& d,
                      std::vector<std::unique_ptr<util::Option>>& owned) {
  const auto add = [&](util::Option* option) {
    owned.emplace_back(option);
    parser.addOption(option);
  };
  const char none = 0;
  const int two = 2;
  add(new util::BoolOption("diffima", d[0].c_str(), "diffima", 'd', &rec.diffima));
  add(new util::BoolOption("fielddiffima", d[1].c_str(), "fielddiffima", none, &rec.fielddiffima));
  add(new util::BoolOption("fielddiffimaY", d[2].c_str(), "fielddiffimaY", none, &rec.fielddiffimaY));
  add(new util::BoolOption("skynew", d[3].c_str(), "skynew", 's', &rec.skynew));
  add(new util::BoolOption("binspline", d[4].c_str(), "binning, median smoothing, bicubic spline", 'm',
                           &rec.binspline));
  add(new util::BoolOption("binsplinedez", d[5].c_str(), "binspline_dez", 'h', &rec.binsplinedez));
  add(new util::BoolOption("verynew", d[6].c_str(), "verynew", 'w', &rec.verynew));
  add(new util::BoolOption("fitnew", d[7].c_str(), "fitnew", 'n', &rec.fitnew));
  add(new util::BoolOption("const_abs", d[8].c_str(), "constant absorption", 'b', &rec.const_abs));
  add(new util::BoolOption("const", d[9].c_str(), "constant sky", 'c', &rec.const_sky));
  add(new util::IntOption("ordabs", d[10].c_str(), "order in diffima", none, &rec.ordabs));
  add(new util::IntOption("ordsky", d[11].c_str(), "order in diffima", none, &rec.ordsky));
  add(new util::BoolOption("error", d[12].c_str(), "with error pic", 'e', &rec.error));
  add(new util::BoolOption("ref", d[13].c_str(), "reference", none, &rec.ref));
  add(new util::BoolOption("rOund", d[14].c_str(), "rOund area", 'o', &rec.rOund));
  add(new util::IntOption("intervall", d[15].c_str(), "intervall", 'i', &rec.intervall));
  add(new util::IntOption("radius", d[16].c_str(), "radius", 'a', &rec.radius));
  add(new util::IntOption("verbose", d[17].c_str(), "verbose level", 'v', &rec.verbose));
  add(new util::StringOption("inputtab", d[18].c_str(), "input table", 't', &rec.inputtab));
  add(new util::StringOption("prefix", d[19].c_str(), "prefix prefix", 'p', &rec.prefix));
  add(new util::RegionArrayOption("region", d[20].c_str(), "region x1:x2,y1:y2", 'r', two, &rec.region));
  add(new util::IntArrayOption("galcenter", d[21].c_str(), "galaxy center", 'g', two, rec.galcenter));
  add(new util::StringOption("fitvariable", d[22].c_str(), "fit variable ...", 'f', &rec.fitvariable));
  add(new util::StringOption("varmask", d[23].c_str(), "varmask", none, &rec.varmask));
  // A second "radius": it takes the long name over, so --radius and configuration files set
  // binradius and only -a reaches radius.
  add(new util::IntOption("radius", d[24].c_str(), "binning radius for sky determination", none,
                          &rec.binradius));
  add(new util::StringOption("read_config_file", d[25].c_str(), "input config filename", none,
                             &rec.read_config_file));
  add(new util::StringOption("write_config_file", d[26].c_str(), "output config filename", none,
                             &rec.write_config_file));
}

// The values of a record as default texts of the next pass; a configuration file can neither
// name another one nor make the program write one.
std::vector<std::string> defaults_from(const Pliste& r) {
  const util::Region& g = r.region;
  return {bool2str(r.diffima), bool2str(r.fielddiffima), bool2str(r.fielddiffimaY), bool2str(r.skynew),
          bool2str(r.binspline), bool2str(r.binsplinedez), bool2str(r.verynew), bool2str(r.fitnew),
          bool2str(r.const_abs), bool2str(r.const_sky), int2str(r.ordabs), int2str(r.ordsky),
          bool2str(r.error), bool2str(r.ref), bool2str(r.rOund), int2str(r.intervall),
          int2str(r.radius), int2str(r.verbose), r.inputtab, r.prefix,
          int2str(g.getStart(1)) + ":" + int2str(g.getEnd(1)) + "," + int2str(g.getStart(2)) + ":" +
              int2str(g.getEnd(2)),
          int2str(r.galcenter[0]) + ", " + int2str(r.galcenter[1]), r.fitvariable, r.varmask,
          int2str(r.binradius), "", ""};
}

// Values the run cannot work with: a step below 1 never ends the grid, a binning radius below 1
// breaks the cell formulas.
std::string invalid_value(const Pliste& r) {
  if (r.intervall < 1) return "intervall must be at least 1, not " + int2str(r.intervall);
  if (r.binradius < 1) return "radius must be at least 1, not " + int2str(r.binradius);
  return "";
}

void copy_options(const Pliste& from, Pliste& to) {
  to.diffima = from.diffima;
  to.fielddiffima = from.fielddiffima;
  to.fielddiffimaY = from.fielddiffimaY;
  to.skynew = from.skynew;
  to.binspline = from.binspline;
  to.binsplinedez = from.binsplinedez;
  to.verynew = from.verynew;
  to.fitnew = from.fitnew;
  to.const_abs = from.const_abs;
  to.const_sky = from.const_sky;
  to.error = from.error;
  to.ref = from.ref;
  to.rOund = from.rOund;
  to.intervall = from.intervall;
  to.radius = from.radius;
  to.verbose = from.verbose;
  to.ordabs = from.ordabs;
  to.ordsky = from.ordsky;
  to.inputtab = from.inputtab;
  to.prefix = from.prefix;
  to.galcenter[0] = from.galcenter[0];
  to.galcenter[1] = from.galcenter[1];
  to.fitvariable = from.fitvariable;
  to.varmask = from.varmask;
  to.read_config_file = from.read_config_file;
  to.write_config_file = from.write_config_file;
  // util::Region has no assignment: its bounds are copied one by one.
  to.region.setRange(1, from.region.getStart(1), from.region.getEnd(1));
  to.region.setRange(2, from.region.getStart(2), from.region.getEnd(2));
  to.binradius = from.binradius;
}

}  // namespace

int read_run_options(int argc, char** argv, Pliste& P, std::list<std::string>& files) {
  std::cout << std::endl;
  std::string config_name;
  bool config_named = false;
  for (int k = 0; k < argc; ++k) {
    std::cout << argv[k] << " ";
    if (std::string(argv[k]) == "--read_config_file" && k + 1 < argc) {
      config_name = argv[k + 1];
      config_named = true;
    }
  }
  std::cout << std::endl << std::endl;

  std::vector<std::string> defaults = builtin_defaults;
  Pliste first;
  std::vector<std::unique_ptr<util::Option>> first_options;
  if (config_named) {
    std::cout << "reading config file: " << config_name << std::endl << std::endl;
    try {
      util::ConfigFileReader reader(config_name);
      if (!reader.isOpen())
        std::cerr << "warning: cannot read config file " << config_name << ", the built-in defaults stand"
                  << std::endl;
      util::OptionParser parser(&reader);
      register_options(parser, first, defaults, first_options);
      parser.parseOptions();
      defaults = defaults_from(first);
    } catch (const std::exception& ex) {
      std::cerr << "Caught exception : " << ex.what() << std::endl;
      return 1;
    }
  }

  Pliste second;
  std::vector<std::unique_ptr<util::Option>> second_options;
  util::CommandLineReader reader(argc, argv);
  util::OptionParser parser(&reader);
  register_options(parser, second, defaults, second_options);
  try {
    parser.parseOptions();
  } catch (const util::UException& ex) {
    std::cerr << "Caught exception : " << ex.what() << std::endl;
    parser.printUsage(std::cout);
    std::cout << std::endl;
    return 1;
  }
  std::cout << parser << std::endl;

  const std::string invalid = invalid_value(second);
  if (!invalid.empty()) {
    std::cerr << "Caught exception : " << invalid << std::endl;
    parser.printUsage(std::cout);
    std::cout << std::endl;
    return 1;
  }
  if (!second.write_config_file.empty()) {
    std::cout << "writing config file: " << second.write_config_file << std::endl << std::endl;
    parser.writeConfig(second.write_config_file, true, true);
  }
  copy_options(second, P);
  if (argc <= 1) {
    parser.printUsage(std::cerr);
    return 255;
  }
  files = reader.fileArguments();
  return -1;
}
