// Fixtures of the FITS tests: the images made by the fixture script, card images, raw FITS files
// built byte by byte, and the messages of FitsException.
#ifndef TESTS_ORV_FITS_FITS_FIXTURES_H
#define TESTS_ORV_FITS_FITS_FIXTURES_H

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "orv/fits/fits.h"
#include "tests/support/message_of.h"
#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"

namespace fits_test {

// The directory of the fixtures made by data/img_make_fixtures.py (path ending in '/'), made
// once per process.
inline const std::string& imageFixtures() {
  static const std::string dir = [] {
    const std::string d = test_support::programScratchDir("orv_fits_fixtures");
    std::string output;
    const int status = test_support::runCommand(
        test_support::pythonCommand(ORV_TEST_DATA_DIR "/img_make_fixtures.py " + d + " 2>&1"), &output);
    if (status != 0) ADD_FAILURE() << "fixture script failed:\n" << output;
    return d;
  }();
  return dir;
}

// The message of the FitsException an action throws, without the prefix of what(), or "".
inline std::string messageOf(const std::function<void()>& action) {
  return test_support::bareMessageOf<orv::FitsException>(action);
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
inline std::string pad80(const std::string& text) {
  std::string card = text.substr(0, 80);
  card.resize(80, ' ');
  return card;
}

// A header from card texts (END appended), padded with blanks to whole records.
inline std::vector<unsigned char> headerBytes(const std::vector<std::string>& cards) {
  std::string text;
  for (const std::string& c : cards) text += pad80(c);
  text += pad80("END");
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

// A small tmpfs mounted for one test (needs root); unmounted again at the end.
class SmallFilesystem {
 public:
  explicit SmallFilesystem(const char* size) : dir_(test_support::programScratchDir("orv_fits")) {
    mounted_ = geteuid() == 0 && mount("tmpfs", dir_.c_str(), "tmpfs", 0, size) == 0;
  }
  SmallFilesystem(const SmallFilesystem&) = delete;
  SmallFilesystem& operator=(const SmallFilesystem&) = delete;
  ~SmallFilesystem() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& dir() const { return dir_; }
  bool makeReadOnly() { return mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

 private:
  std::string dir_;
  bool mounted_ = false;
};

// The expected value of a raw element: plain when BSCALE is 1 and BZERO 0, else raw * BSCALE
// + BZERO in double (exact for the whole-number cases of the fixtures), then converted to T:
// rounded to float or double, or truncated toward zero into an integer with NaN 0 and
// saturation.
template <class T>
T expectedValue(double raw, double bscale, double bzero) {
  const double v = (bscale == 1.0 && bzero == 0.0) ? raw : raw * bscale + bzero;
  if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(v);
  } else {
    if (std::isnan(v)) return 0;
    if (v >= std::numeric_limits<T>::max()) return std::numeric_limits<T>::max();
    if (v <= std::numeric_limits<T>::min()) return std::numeric_limits<T>::min();
    return static_cast<T>(std::trunc(v));
  }
}

// The name of an element type in test messages.
template <class T>
const char* typeName() {
  if constexpr (std::is_same_v<T, float>) return "float";
  if constexpr (std::is_same_v<T, double>) return "double";
  if constexpr (std::is_same_v<T, short>) return "short";
  return "int";
}

}  // namespace fits_test

#endif
