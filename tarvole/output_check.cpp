// The check that no file a run will write is one of its inputs: creating an output truncates its
// file, also under a reader that still maps it.
#include "tarvole/output_check.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <utility>
#include <system_error>

#include "tarvole/dia_engine.h"
#include "tarvole/names.h"

namespace {

// The absolute path with "." and ".." resolved and symbolic links of existing parts followed.
std::string normalised(const std::string& name) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(name, ec), ec);
  if (ec) p = std::filesystem::absolute(name, ec).lexically_normal();
  return p.string();
}

// Device and inode of an existing file.
bool file_id(const std::string& name, std::pair<dev_t, ino_t>& id) {
  struct stat st {};
  if (stat(name.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

}  // namespace

std::vector<std::string> planned_outputs(const Pliste& P, const std::list<std::string>& images,
                                         const MethodRow& method) {
  std::vector<std::string> names;
  if (P.verbose > 2) {
    names.push_back("ref_new.fits");
    names.push_back("e.ref_new.fits");
  }
  Pliste current;
  current.verbose = P.verbose;
  current.error = P.error;
  current.fitvariable = P.fitvariable;
  for (const std::string& image : images) {
    current.outname = newname(image, P.prefix);
    current.errname = newname(image, "e." + P.prefix);
    names.push_back(current.outname);
    if (P.error) names.push_back(current.errname);
    if (P.verbose > 0) names.push_back(newname(current.outname, "sky-"));
    if (P.verbose > 1) {
      names.push_back(newname(current.outname, "abs-"));
      names.push_back(newname(current.outname, "skybinned-"));
    }
    if (P.verbose > 2) {
      names.push_back(newname(current.outname, "diff-"));
      names.push_back(newname(current.outname, "ima_new-"));
      names.push_back(newname(current.outname, "e.ima_new-"));
    }
    if (method.outputs != nullptr) method.outputs(current, names);
  }
  if (P.ref) {
    const std::vector<std::string> products = dia_reference_products(method.number, P);
    names.insert(names.end(), products.begin(), products.end());
  }
  return names;
}

std::vector<std::string> run_inputs(const Pliste& P, const std::string& reference,
                                    const std::list<std::string>& images) {
  std::vector<std::string> names{reference};
  if (P.error) names.push_back(newname(reference, "e."));
  if (P.diffima && !P.inputtab.empty()) names.push_back(P.inputtab);
  if (P.ref && !P.varmask.empty()) names.push_back(P.varmask);
  for (const std::string& image : images) {
    names.push_back(image);
    if (P.error) names.push_back(newname(image, "e."));
  }
  return names;
}

std::string find_output_clash(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  std::map<std::string, std::string> by_path;
  std::map<std::pair<dev_t, ino_t>, std::string> by_id;
  for (const std::string& in : inputs) {
    by_path.emplace(normalised(in), in);
    std::pair<dev_t, ino_t> id;
    if (file_id(in, id)) by_id.emplace(id, in);
  }
  for (const std::string& out : outputs) {
    auto path = by_path.find(normalised(out));
    std::pair<dev_t, ino_t> id;
    const std::string* clash = nullptr;
    if (path != by_path.end()) {
      clash = &path->second;
    } else if (file_id(out, id)) {
      auto same = by_id.find(id);
      if (same != by_id.end()) clash = &same->second;
    }
    if (clash != nullptr) return "output file " + out + " would overwrite the input file " + *clash;
  }
  return "";
}
