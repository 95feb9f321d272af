#include "brisel/brisel_run.h"

#include <exception>
#include <iostream>
#include <memory>
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
#include "util/uexception.h"

namespace {

constexpr int usageStatus = 255;
constexpr int exceptionStatus = 1;

// Cuts every image into the frame, folds it into the overlap box and writes the box's
// central part to the overlap region file.
void cut_all(const std::vector<std::string>& files, const std::string& prefix, bool withError,
             ImageTable& table, const Frame& frame, long waitSeconds) {
  OverlapBox box = initial_overlap(frame);
  for (int j = 1; j <= table.count(); ++j) {
    const std::string& file = files[j - 1];
    const CutFiles names{file, prefix + file, error_image_name(file), error_image_name(prefix + file)};
    cut_image(names, withError, table, j, frame);
    fold_image(box, table, j, frame);
    if (waitSeconds > 0) wait_seconds(waitSeconds);
  }
  std::cerr << small_overlap_warning(box);
  write_region_file(overlap_region_file, overlap_region_text(box));
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
  const std::string overwrite = find_overwritten_input(files, prefix, withError);
  if (!overwrite.empty()) {
    std::cerr << overwrite << '\n';
    return usageStatus;
  }

  try {
    ImageTable table = read_image_table(files, withError);
    if (!cd_compatible(table)) {
      std::cerr << "Error: CD-matrices not compatible!" << std::endl;
      return usageStatus;
    }
    if (!crval_agree(table))
      std::cerr << "Warning: CRVAL1/CRVAL2 differ between images; the frame is placed by CRPIX alone!\n";
    const Frame frame = place_images(table, expand);
    cut_all(files, prefix, withError, table, frame, waitSeconds);
  } catch (const std::exception& e) {
    std::cout << std::endl;
    std::cerr << "EXCEPTION: " << e.what() << std::endl;
    return exceptionStatus;
  }
  return 0;
}
