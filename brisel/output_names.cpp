// Output and error-image names of the overlap cutter, by the suite's rule for derived files.
#include "brisel/output_names.h"

#include "util/derived_name.h"

std::string error_image_name(const std::string& file) { return util::derivedName(file, "e."); }

CutFiles cut_files(const std::string& file, const std::string& prefix) {
  const std::string output = util::derivedName(file, prefix);
  return CutFiles{file, output, error_image_name(file), error_image_name(output)};
}

std::vector<std::string> run_inputs(const std::vector<std::string>& files) {
  std::vector<std::string> inputs;
  for (const std::string& file : files) {
    inputs.push_back(file);
    inputs.push_back(error_image_name(file));
  }
  return inputs;
}

std::vector<std::string> planned_outputs(const std::vector<std::string>& files, const std::string& prefix,
                                         bool withError) {
  std::vector<std::string> outputs;
  for (const std::string& file : files) {
    const CutFiles names = cut_files(file, prefix);
    outputs.push_back(names.output);
    if (withError) outputs.push_back(names.errorOutput);
  }
  outputs.push_back(overlap_region_file);
  return outputs;
}
