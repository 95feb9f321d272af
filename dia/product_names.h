// Names of the reference product files of difference imaging. Each name follows the reference
// path unchanged; the engine writes and reads these files, and a program checks its outputs
// against the same list.
#ifndef DIA_PRODUCT_NAMES_H
#define DIA_PRODUCT_NAMES_H

#include <cstdio>
#include <string>
#include <vector>

namespace dia_files {

inline constexpr const char* modifiedReference = "image_r.fits";
inline constexpr const char* referenceVariance = "e2.image_r.fits";
inline constexpr const char* calcMask = "rmask_calc.fits";
inline constexpr const char* convMask = "rmask_conv.fits";
inline constexpr const char* varianceConvMask = "e.rmask_conv.fits";

// refpath followed by the pattern formatted with the numbers alone: refpath never passes
// through a format string.
inline std::string productName(const std::string& refpath, const char* pattern, int a, int b = 0) {
  char name[64];
  std::snprintf(name, sizeof name, pattern, a, b);
  return refpath + name;
}

// The background term x^i·y^j.
inline std::string backgroundTermName(const std::string& refpath, int i, int j) {
  return productName(refpath, "bb%2.2i%2.2i.fits", i, j);
}
// The basis image of kernel parameter nbg + q, and its variance.
inline std::string basisImageName(const std::string& refpath, int q) {
  return productName(refpath, "cc%4.4i.fits", q);
}
inline std::string basisVarianceName(const std::string& refpath, int q) {
  return productName(refpath, "e2.cc%4.4i.fits", q);
}

// Every file of a reference step with background order bgOrder and kernelParameters kernel
// parameters written to files: the modified reference, its variance and the three masks, the
// background terms (i outer), then each kernel parameter's basis image and its variance.
inline std::vector<std::string> referenceProducts(const std::string& refpath, int bgOrder,
                                                  int kernelParameters) {
  std::vector<std::string> names;
  for (const char* name : {modifiedReference, referenceVariance, calcMask, convMask, varianceConvMask})
    names.push_back(refpath + name);
  for (int i = 0; i <= bgOrder; ++i)
    for (int j = 0; j <= bgOrder - i; ++j) names.push_back(backgroundTermName(refpath, i, j));
  for (int q = 1; q <= kernelParameters; ++q) {
    names.push_back(basisImageName(refpath, q));
    names.push_back(basisVarianceName(refpath, q));
  }
  return names;
}

// The files a kernel fit reads (calc_kern with the basis images on disk): the calculation mask,
// the reference variance when the fit weighs by it, the background terms (i outer) and each
// kernel parameter's basis image.
inline std::vector<std::string> fitProducts(const std::string& refpath, int bgOrder, int kernelParameters,
                                            bool weighedByVariance) {
  std::vector<std::string> names{refpath + calcMask};
  if (weighedByVariance) names.push_back(refpath + referenceVariance);
  for (int i = 0; i <= bgOrder; ++i)
    for (int j = 0; j <= bgOrder - i; ++j) names.push_back(backgroundTermName(refpath, i, j));
  for (int q = 1; q <= kernelParameters; ++q) names.push_back(basisImageName(refpath, q));
  return names;
}

}  // namespace dia_files

#endif
