// libFuzzer target: reading ASCII column tables from arbitrary bytes must end in arrays,
// strings or an orv::IOException, never in a crash, a hang or a sanitizer report. Not part
// of the normal build: the ORV_FUZZ option of CMake builds it, fuzz_corpus its seeds.
//
// The first input byte selects the delimiter, the comment string and a line range; the
// second selects the columns asked for; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "orv/fits/ascio.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void exercise(orv::AscFile& table, uint8_t columns) {
  std::vector<std::string> header;
  table.getHeader(header, (columns & 1) != 0);
  const int rows = table.rows();
  const int cols = table.cols();
  const int col = 1 + columns % 5;
  std::vector<std::string> text;
  table.readColumn(col, text);
  if (rows > 0 && cols > 0) {
    table.readDoubleColumns(0, 0);
    table.readIntColumns(col, col + (columns >> 4) % 4);
    table.readFloatColumn(col);
    const int listed[] = {1, col + 1, col + 3};
    table.readFloatColumns(listed, 1 + (columns >> 3) % 3);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const std::string file = fuzz_support::scratchName("fuzz_ascio", ".txt");
  fuzz_support::writeBytes(file, data + 2, size - 2);
  static const char delimiters[] = {'\0', ',', ' ', '\t'};
  static const char* const comments[] = {"#", "//", "%", "##"};
  const uint8_t control = data[0];
  const char delimiter = delimiters[control & 3];
  const std::string comment = comments[(control >> 2) & 3];
  try {
    if ((control & 0x10) != 0) {
      const int first = 1 + (control >> 5) % 3;
      const int last = (control & 0x80) != 0 ? -1 : first + 1;
      orv::AscFile table(file, first, last, delimiter, comment);
      exercise(table, data[1]);
    } else {
      orv::AscFile table(file, delimiter, comment);
      exercise(table, data[1]);
    }
  } catch (const orv::IOException&) {
  }
  return 0;
}
