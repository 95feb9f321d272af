// Small helpers shared by the card and header tests.
#ifndef TESTS_ORV_FITS_TEST_FITS_HEADER_UTIL_H
#define TESTS_ORV_FITS_TEST_FITS_HEADER_UTIL_H

#include <functional>
#include <string>

#include "orv/fits/fits_exception.h"

namespace fits_test {

inline std::string pad80(const std::string& text) { return text + std::string(80 - text.size(), ' '); }

// Runs `action` and returns the FitsException message, or "" when nothing was thrown.
inline std::string messageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const orv::FitsException& e) {
    return e.message();
  }
  return "";
}

}  // namespace fits_test

#endif
