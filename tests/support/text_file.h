// Whole files read and written as text (bytes unchanged), for the tests' inputs and outputs.
#ifndef TESTS_SUPPORT_TEXT_FILE_H
#define TESTS_SUPPORT_TEXT_FILE_H

#include <fstream>
#include <sstream>
#include <string>

namespace test_support {

// The whole content of a file; empty when it cannot be read.
inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes the text as the whole content of a file (made or truncated).
inline void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace test_support

#endif
