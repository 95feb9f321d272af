// What the fuzz targets share: per-process scratch names and writing the input bytes to a file
// for a reader that takes file names.
#ifndef TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESTS_FUZZ_FUZZ_SUPPORT_H

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzz_support {

// "/tmp/<stem>.<pid><suffix>": parallel fuzzing processes never share a file.
inline std::string scratchName(const std::string& stem, const std::string& suffix) {
  return "/tmp/" + stem + "." + std::to_string(::getpid()) + suffix;
}

// Makes "/tmp/<stem>.<pid>.d" the working directory, once per process, for readers that derive
// names from the file name's base (an "e." before it); false when that fails.
inline bool inScratchDir(const std::string& stem) {
  static const bool entered = [&stem] {
    const std::string dir = scratchName(stem, ".d");
    std::error_code failure;
    std::filesystem::create_directories(dir, failure);
    return ::chdir(dir.c_str()) == 0;
  }();
  return entered;
}

// Creates or empties the file and writes the bytes to it.
inline void writeBytes(const std::string& file, const uint8_t* data, size_t size) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A split of the bytes into two files: a 16-bit length from the first two bytes, taken modulo
// what follows them, gives the size of the first part.
struct TwoParts {
  const uint8_t* first;
  size_t firstSize;
  const uint8_t* second;
  size_t secondSize;
};

inline TwoParts splitInTwo(const uint8_t* data, size_t size) {
  if (size < 2) return {data, size, data + size, 0};
  const size_t rest = size - 2;
  const size_t cut = rest == 0 ? 0 : (static_cast<size_t>(data[0]) << 8 | data[1]) % (rest + 1);
  return {data + 2, cut, data + 2 + cut, rest - cut};
}

}  // namespace fuzz_support

#endif
