// Output checks: outputs against inputs by path and by file identity, and output directories.
#include "util/output_clash.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "util/replacing_file.h"

namespace util {

namespace {

// The absolute path with "." and ".." resolved and symbolic links of existing parts followed;
// lexically normalised only when that fails.
std::string normalisedPath(const std::string& name) {
  std::error_code error;
  std::filesystem::path path =
      std::filesystem::weakly_canonical(std::filesystem::absolute(name, error), error);
  if (error) path = std::filesystem::absolute(name, error).lexically_normal();
  return path.string();
}

using FileIdentity = std::pair<dev_t, ino_t>;

// Device and inode of an existing file, symbolic links followed.
bool fileIdentity(const std::string& name, FileIdentity& identity) {
  struct stat status {};
  if (::stat(name.c_str(), &status) != 0) return false;
  identity = {status.st_dev, status.st_ino};
  return true;
}

}  // namespace

std::optional<OutputClash> findOutputClash(const std::vector<std::string>& inputs,
                                           const std::vector<std::string>& outputs) {
  // Every input by path and by identity, looked up once per output; the first name of a file wins.
  std::map<std::string, std::string> inputPaths;
  std::map<FileIdentity, std::string> inputIdentities;
  for (const std::string& input : inputs) {
    inputPaths.emplace(normalisedPath(input), input);
    FileIdentity identity;
    if (fileIdentity(input, identity)) inputIdentities.emplace(identity, input);
  }
  for (const std::string& output : outputs) {
    const auto byPath = inputPaths.find(normalisedPath(output));
    if (byPath != inputPaths.end()) return OutputClash{output, byPath->second};
    FileIdentity identity;
    if (!fileIdentity(output, identity)) continue;
    const auto byIdentity = inputIdentities.find(identity);
    if (byIdentity != inputIdentities.end()) return OutputClash{output, byIdentity->second};
  }
  return std::nullopt;
}

std::string findUnwritableOutput(const std::vector<std::string>& outputs) {
  for (const std::string& output : outputs) {
    std::string refusal = replacementRefusal(output);
    if (!refusal.empty()) return refusal;
  }
  return "";
}

}  // namespace util
