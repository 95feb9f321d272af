// Small helpers shared by the tests of the options, the readers and the parser.
#ifndef TESTS_UTIL_TEST_OPTION_SUPPORT_H
#define TESTS_UTIL_TEST_OPTION_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "util/uexception.h"

namespace option_test {

// The message of the UException the action throws, or "<nothing thrown>".
inline std::string messageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const util::UException& e) {
    return e.what();
  }
  return "<nothing thrown>";
}

// A file in the test's temporary directory, removed when the test is done.
struct TempFile {
  TempFile(const std::string& name, const std::string& content)
      : path(::testing::TempDir() + "options_" + name) {
    std::ofstream(path, std::ios::binary) << content;
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { std::remove(path.c_str()); }
  std::string path;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Owns the texts of an argument vector, program name included.
struct Arguments {
  explicit Arguments(std::vector<std::string> words) : texts(std::move(words)) {
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(texts.size()); }
  char** argv() { return pointers.data(); }

  std::vector<std::string> texts;
  std::vector<char*> pointers;
};

}  // namespace option_test

#endif
