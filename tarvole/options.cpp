// The two option passes of the sky program: configuration file, then command line.
#include "tarvole/options.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

#include "numerics/convert.h"
#include "tarvole/method_choice.h"
#include "tarvole/option_table.h"
#include "util/command_line_reader.h"
#include "util/config_file_reader.h"
#include "util/uexception.h"

namespace {

// The largest pixel distance an option may give: far beyond any image, and small enough that
// sums of such distances and pixel numbers stay well inside int.
constexpr int farthest_pixel = 1000000;

// The side of the field the defaults were chosen for: a centre may lie that far outside any
// image, and a radius may be that large, so that the default centre (1070, 1077) and radius
// (30) stay valid for smaller images.
constexpr int default_field_side = 2048;

// Values the run cannot work with: a step or radius below 1 never ends the grid or breaks the
// cell formulas; positions and radii beyond farthest_pixel overflow the pixel arithmetic or
// make every box span the whole image. Only the options the chosen method reads are checked.
std::string invalid_value(const Pliste& r) {
  const MethodRow& method = choose_method(r);
  const auto out_of_range = [](const char* name, int value, int low) -> std::string {
    if (value < low)
      return std::string(name) + " must be at least " + int2str(low) + ", not " + int2str(value);
    if (value > farthest_pixel)
      return std::string(name) + " must be at most " + int2str(farthest_pixel) + ", not " + int2str(value);
    return "";
  };
  for (const std::string& problem :
       {method.readsSamplingGrid ? out_of_range("intervall", r.intervall, 1) : "",
        method.readsBinRadius ? out_of_range("radius", r.binradius, 1) : "",
        method.readsSamplingGrid ? out_of_range("-a (box radius)", r.radius, 1) : "",
        out_of_range("galcenter", r.galcenter[0], -farthest_pixel),
        out_of_range("galcenter", r.galcenter[1], -farthest_pixel)})
    if (!problem.empty()) return problem;
  return "";
}

}  // namespace

std::string value_beyond_image(const Pliste& P, const std::string& reference, int nx, int ny) {
  const std::string of = ", " + reference + " being " + int2str(nx) + " x " + int2str(ny) + " pixels, not ";
  const int reach = std::max({nx, ny, default_field_side});
  if (choose_method(P).readsBinRadius && P.binradius > reach)
    return "radius must be at most " + int2str(reach) + ", the larger of " + int2str(default_field_side) +
           " and the larger side of the reference" + of + int2str(P.binradius);
  const int extent[2] = {nx, ny};
  for (int axis = 0; axis < 2; ++axis) {
    const int low = 1 - reach, high = extent[axis] + reach, value = P.galcenter[axis];
    if (value < low || value > high)
      return "galcenter must be at " + std::string(value < low ? "least " : "most ") +
             int2str(value < low ? low : high) + ", " + int2str(reach) + " pixels " +
             (value < low ? "before the first" : "beyond the last") + " pixel of the reference" + of +
             int2str(value);
  }
  return "";
}

int read_run_options(int argc, char** argv, Pliste& P, std::list<std::string>& files,
                     const PlannedFilesCheck& check) {
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

  std::vector<std::string> defaults = builtin_option_defaults();
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
      register_sky_options(parser, first, defaults, first_options);
      parser.parseOptions();
      defaults = option_defaults_from(first);
    } catch (const std::exception& ex) {
      std::cerr << "Caught exception : " << ex.what() << std::endl;
      return 1;
    }
  }

  Pliste second;
  std::vector<std::unique_ptr<util::Option>> second_options;
  util::CommandLineReader reader(argc, argv);
  util::OptionParser parser(&reader);
  register_sky_options(parser, second, defaults, second_options);
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
  copy_options(second, P);
  const std::list<std::string> arguments = reader.fileArguments();
  if (check && !arguments.empty()) {
    const std::string problem = check(P, arguments);
    if (!problem.empty()) {
      std::cerr << problem << std::endl;
      return 1;
    }
  }
  if (!second.write_config_file.empty()) {
    std::cout << "writing config file: " << second.write_config_file << std::endl << std::endl;
    parser.writeConfig(second.write_config_file, true, true);
  }
  if (argc <= 1) {
    parser.printUsage(std::cerr);
    return 255;
  }
  files = arguments;
  return -1;
}
