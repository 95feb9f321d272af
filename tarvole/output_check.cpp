// The check that no file a run will write is one of its inputs: creating an output truncates its
// file, also under a reader that still maps it.
#include "tarvole/output_check.h"

#include "tarvole/dia_engine.h"
#include "tarvole/names.h"
#include "util/output_clash.h"

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
  // Without a reference step in this run the products of an earlier one are inputs.
  if (!P.ref) {
    const std::vector<std::string> products = dia_fit_products(choose_method(P).number, P);
    names.insert(names.end(), products.begin(), products.end());
  }
  for (const std::string& image : images) {
    names.push_back(image);
    if (P.error) names.push_back(newname(image, "e."));
  }
  return names;
}

std::string find_output_clash(const std::vector<std::string>& inputs,
                              const std::vector<std::string>& outputs) {
  const auto clash = util::findOutputClash(inputs, outputs);
  return clash ? "output file " + clash->output + " would overwrite the input file " + clash->input : "";
}
