// Helpers of the FITS reader and writer tests: scratch directories, fixtures made by the
// fixture script, raw FITS files built byte by byte, and external commands.
#ifndef TESTS_ORV_FITS_TEST_FITS_IN_SUPPORT_H
#define TESTS_ORV_FITS_TEST_FITS_IN_SUPPORT_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_command.h"

namespace fits_test {

// Scratch directories of this test process, removed when it ends.
struct ScratchDirectories {
  std::vector<std::string> paths;
  ~ScratchDirectories() {
    std::error_code ignored;
    for (const std::string& p : paths) std::filesystem::remove_all(p, ignored);
  }
};

// A fresh scratch directory under /tmp.
inline std::string makeScratchDir() {
  static ScratchDirectories made;
  char name[] = "/tmp/orv_fits_test.XXXXXX";
  if (mkdtemp(name) == nullptr) ADD_FAILURE() << "cannot create a scratch directory";
  made.paths.push_back(name);
  return name;
}

// Runs a shell command; returns its exit status and, in output, what it printed.
inline int runCommand(const std::string& command, std::string* output = nullptr) {
  return test_support::runCommand(command + " 2>&1", output);
}

// The directory of the fixtures made by data/img_make_fixtures.py, made once per process.
inline const std::string& imageFixtures() {
  static const std::string dir = [] {
    const std::string d = makeScratchDir();
    std::string output;
    const int status =
        runCommand("/usr/bin/python3 " ORV_TEST_DATA_DIR "/img_make_fixtures.py " + d, &output);
    if (status != 0) ADD_FAILURE() << "fixture script failed:\n" << output;
    return d;
  }();
  return dir;
}

inline std::vector<unsigned char> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<double> readDoubles(const std::string& path) {
  const std::vector<unsigned char> bytes = readBytes(path);
  std::vector<double> values(bytes.size() / sizeof(double));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
  return values;
}

inline std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// One card image: the text cut or padded with blanks to 80 characters.
inline std::string card(const std::string& text) {
  std::string c = text.substr(0, 80);
  c.resize(80, ' ');
  return c;
}

// A header from card texts (END appended), padded with blanks to whole records.
inline std::vector<unsigned char> headerBytes(const std::vector<std::string>& cards) {
  std::string text;
  for (const std::string& c : cards) text += card(c);
  text += card("END");
  text.resize((text.size() + 2879) / 2880 * 2880, ' ');
  return std::vector<unsigned char>(text.begin(), text.end());
}

// A mandatory card of a fixed-format integer value.
inline std::string intCard(const std::string& keyword, long value) {
  char text[81];
  std::snprintf(text, sizeof text, "%-8s= %20ld", keyword.c_str(), value);
  return text;
}

// A primary image of BITPIX 8 whose data are the given bytes, padded to whole records.
inline void writeByteImage(const std::string& path, const std::vector<long>& axes,
                           const std::vector<unsigned char>& data) {
  std::vector<std::string> cards = {"SIMPLE  =                    T", intCard("BITPIX", 8),
                                    intCard("NAXIS", static_cast<long>(axes.size()))};
  for (size_t i = 0; i < axes.size(); ++i) cards.push_back(intCard("NAXIS" + std::to_string(i + 1), axes[i]));
  std::vector<unsigned char> bytes = headerBytes(cards);
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.resize((bytes.size() + 2879) / 2880 * 2880, 0);
  writeBytes(path, bytes);
}

// Equality of floating-point values that counts two NaNs as equal.
template <class T>
inline bool sameValue(T a, T b) {
  if constexpr (std::is_floating_point_v<T>) {
    if (std::isnan(a) && std::isnan(b)) return true;
  }
  return a == b;
}

}  // namespace fits_test

#endif
