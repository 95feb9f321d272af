// The overlap cutter's spine: options, the check of every planned output, the header pass, the
// common frame and its overlap, then the cut images and the overlap region file.
#include "brisel/brisel_run.h"

#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "brisel/cut_image.h"
#include "brisel/image_table.h"
#include "brisel/output_names.h"
#include "brisel/overlap.h"
#include "numerics/wait_seconds.h"
#include "util/command_line_reader.h"
#include "util/option.h"
#include "util/option_parser.h"
#include "util/output_clash.h"
#include "util/uexception.h"

namespace {

constexpr int usageStatus = 255;
constexpr int exceptionStatus = 1;
constexpr int noCommonRegionStatus = 1;

// Cuts every image into the frame, waiting after each.
void cut_all(const std::vector<std::string>& files, const std::string& prefix, bool withError,
             const ImageTable& table, const Frame& frame, long waitSeconds) {
  for (int j = 1; j <= table.count(); ++j) {
    cut_image(cut_files(files[j - 1], prefix), withError, table, j, frame);
    if (waitSeconds > 0) wait_seconds(waitSeconds);
  }
}

}  // namespace

int brisel_run(int argc, char** argv, long waitSeconds) {
  std::string prefix = "cut_";
  int border = 0;  // accepted and listed in the usage; the cut does not use it
  bool expand = false;
  bool withError = false;

  util::CommandLineReader reader(argc, argv);
  std::vector<std::unique_ptr<util::Option>> options;
  util::OptionParser parser(&reader);
  try {
    options.push_back(std::make_unique<util::StringOption>("prefix", "cut_", "output prefix", 'p', &prefix));
    options.push_back(std::make_unique<util::IntOption>("border", "0", "add border [pixel]", 'b', &border));
    options.push_back(std::make_unique<util::BoolOption>("expand", "false", "expand images", 'e', &expand));
    options.push_back(
        std::make_unique<util::BoolOption>("error", "false", "apply to error images", '\0', &withError));
    for (const auto& option : options) parser.addOption(option.get());
  } catch (const util::UException& e) {
    std::cerr << "Parameter exception : " << e.what() << '\n';
  }

  if (argc <= 1) {
    parser.printUsage(std::cerr);
    return usageStatus;
  }
  try {
    parser.parseOptions();
  } catch (const util::UException& e) {
    std::cerr << "Caught exception : " << e.what() << '\n';
    parser.printUsage(std::cout);
    return usageStatus;
  }
  const std::vector<std::string> files = reader.fileArgumentsVector();
  if (files.empty()) {
    std::cerr << "Error: no image file given!\n";
    parser.printUsage(std::cerr);
    return usageStatus;
  }
  const std::vector<std::string> outputs = planned_outputs(files, prefix, withError);
  if (const auto clash = util::findOutputClash(run_inputs(files), outputs)) {
    std::cerr << "Error: output file '" << clash->output << "' would overwrite the input '" << clash->input
              << "'!\n";
    return usageStatus;
  }

  try {
    const std::string unwritable = util::findUnwritableOutput(outputs);
    if (!unwritable.empty()) throw std::runtime_error(unwritable);
    ImageTable table = read_image_table(files, withError);
    if (!cd_compatible(table)) {
      std::cerr << "Error: CD-matrices not compatible!" << std::endl;
      return usageStatus;
    }
    if (!crval_agree(table))
      std::cerr << "Warning: CRVAL1/CRVAL2 differ between images; the frame is placed by CRPIX alone!\n";
    const Frame frame = place_images(table, expand);
    const OverlapBox overlap = common_overlap(table, frame);
    cut_all(files, prefix, withError, table, frame, waitSeconds);
    // Images without a common region still make a frame (with expand, a mosaic of them); there is
    // no region to hand on, and none of an earlier run may stand for it.
    if (!has_common_region(overlap)) {
      remove_region_file(overlap_region_file);
      std::cerr << no_overlap_message(overlap);
      return noCommonRegionStatus;
    }
    std::cerr << small_overlap_warning(overlap);
    write_region_file(overlap_region_file, overlap_region_text(overlap));
  } catch (const std::exception& e) {
    std::cout << std::endl;
    std::cerr << "EXCEPTION: " << e.what() << std::endl;
    return exceptionStatus;
  }
  return 0;
}
