// Fixtures of the util tests: argument vectors as a program receives them.
#ifndef TESTS_UTIL_UTIL_FIXTURES_H
#define TESTS_UTIL_UTIL_FIXTURES_H

#include <string>
#include <utility>
#include <vector>

namespace util_test {

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

}  // namespace util_test

#endif
