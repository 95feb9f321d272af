// Names of the files the overlap cutter reads and writes for each image, all beside the image,
// and the lists of a run's inputs and planned outputs that are checked before anything is written.
#ifndef BRISEL_OUTPUT_NAMES_H
#define BRISEL_OUTPUT_NAMES_H

#include <string>
#include <vector>

// The file the overlap region is written to, in the working directory.
inline constexpr const char overlap_region_file[] = "common.part";

// The error image of a file: "e." in front of its file-name part (after the last '/').
std::string error_image_name(const std::string& file);

// The files of one image F: the input and its output, the prefix put in front of F's file-name
// part, and the error image of each (used only when the error images are cut).
struct CutFiles {
  std::string input, output;
  std::string errorInput, errorOutput;
};
CutFiles cut_files(const std::string& file, const std::string& prefix);

// The files a run reads or might take for its own: every input F and its error image, whether
// or not the error images are cut (an output must not replace a file that is some image's error
// image either).
std::vector<std::string> run_inputs(const std::vector<std::string>& files);

// Every file a run writes, in the order it writes them: the output of each image (with withError
// followed by its error output), then the overlap region file.
std::vector<std::string> planned_outputs(const std::vector<std::string>& files, const std::string& prefix,
                                         bool withError);

#endif
