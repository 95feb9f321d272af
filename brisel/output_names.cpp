#include "brisel/output_names.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <utility>

namespace {

std::filesystem::path normalPath(const std::string& name) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(name, error);
  return error ? std::filesystem::path(name).lexically_normal() : path.lexically_normal();
}

// Device and inode of an existing file.
bool fileIdentity(const std::string& name, std::pair<dev_t, ino_t>& identity) {
  struct stat status;
  if (::stat(name.c_str(), &status) != 0) return false;
  identity = {status.st_dev, status.st_ino};
  return true;
}

}  // namespace

std::string error_image_name(const std::string& file) { return "e." + file; }

std::string find_overwritten_input(const std::vector<std::string>& files, const std::string& prefix,
                                   bool withError) {
  // Every input by path and by identity, looked up once per output.
  std::map<std::filesystem::path, std::string> inputPaths;
  std::map<std::pair<dev_t, ino_t>, std::string> inputIdentities;
  for (const std::string& file : files) {
    for (const std::string& input : {file, error_image_name(file)}) {
      inputPaths.emplace(normalPath(input), input);
      std::pair<dev_t, ino_t> identity;
      if (fileIdentity(input, identity)) inputIdentities.emplace(identity, input);
    }
  }
  std::vector<std::string> outputs;
  for (const std::string& file : files) {
    outputs.push_back(prefix + file);
    if (withError) outputs.push_back(error_image_name(prefix + file));
  }
  outputs.push_back(overlap_region_file);
  for (const std::string& output : outputs) {
    auto byPath = inputPaths.find(normalPath(output));
    std::pair<dev_t, ino_t> identity;
    auto byIdentity = fileIdentity(output, identity) ? inputIdentities.find(identity) : inputIdentities.end();
    const std::string* input = byPath != inputPaths.end()            ? &byPath->second
                               : byIdentity != inputIdentities.end() ? &byIdentity->second
                                                                     : nullptr;
    if (input) return "Error: output file '" + output + "' would overwrite the input '" + *input + "'!";
  }
  return "";
}
