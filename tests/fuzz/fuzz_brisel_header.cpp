// libFuzzer target: the header pass of the overlap cutter (world-coordinate and size keywords
// of every image, the scale check and the placement in the common frame) on arbitrary bytes
// must end in a frame or a refusal by exception, never in a crash, a hang or a sanitizer report.
//
// The first input byte selects the number of images (one or two), whether error images are
// read and whether the frame is expanded; the rest holds the image files: the first image and
// the second (split as fuzz_support::splitInTwo says), each error image a copy of its image.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "brisel/image_table.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // Relative names in a directory of this process: the error image of F is "e." + F.
  if (!fuzz_support::inScratchDir("fuzz_brisel_header")) return 0;
  const uint8_t control = data[0];
  const bool two = (control & 1) != 0;
  const bool withError = (control & 2) != 0;
  const bool expand = (control & 4) != 0;
  std::vector<std::string> files{"a.fits"};
  if (two) {
    files.push_back("b.fits");
    const fuzz_support::TwoParts parts = fuzz_support::splitInTwo(data + 1, size - 1);
    fuzz_support::writeBytes("a.fits", parts.first, parts.firstSize);
    fuzz_support::writeBytes("b.fits", parts.second, parts.secondSize);
    fuzz_support::writeBytes("e.a.fits", parts.first, parts.firstSize);
    fuzz_support::writeBytes("e.b.fits", parts.second, parts.secondSize);
  } else {
    fuzz_support::writeBytes("a.fits", data + 1, size - 1);
    fuzz_support::writeBytes("e.a.fits", data + 1, size - 1);
  }
  try {
    ImageTable table = read_image_table(files, withError);
    (void)cd_compatible(table);
    (void)crval_agree(table);
    const Frame frame = place_images(table, expand);
    for (int j = 1; j <= table.count(); ++j)
      if (static_cast<long long>(table.xend(j)) - table.xstart(j) + 1 != table.naxis1(j) ||
          static_cast<long long>(table.yend(j)) - table.ystart(j) + 1 != table.naxis2(j))
        __builtin_trap();
    (void)frame;
  } catch (const std::exception&) {
    // Every refusal of the header pass is reported by the program as an exception's message.
  }
  return 0;
}
