// Names of the files the overlap cutter writes, and the guard that keeps them off its inputs.
#ifndef BRISEL_OUTPUT_NAMES_H
#define BRISEL_OUTPUT_NAMES_H

#include <string>
#include <vector>

// The file the overlap region is written to, in the working directory.
inline constexpr const char overlap_region_file[] = "common.part";

// The error image of a file: "e." in front of the whole name, directory included.
std::string error_image_name(const std::string& file);

// Checks every output of a run over files (prefix+F, with withError "e."+prefix+F, and the
// overlap region file) against every input F and its error image "e."+F: one file is the
// same path once made absolute and normalised, or, for files that exist, the same device and
// inode (which catches links). Returns an error message naming the first output that would
// overwrite an input, or an empty string.
std::string find_overwritten_input(const std::vector<std::string>& files, const std::string& prefix,
                                   bool withError);

#endif
