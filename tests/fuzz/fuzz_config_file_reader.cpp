// libFuzzer target: reading a configuration file of arbitrary bytes into a table of typed
// options must end in values set or a util::UException, never in a crash, a hang or a
// sanitizer report. Not part of the normal build: the ORV_FUZZ option of CMake builds it,
// fuzz_corpus its seeds.
//
// The input is the file; its entries are handed to options of every kind by the parser, as
// a program's configuration pass does.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "util/config_file_reader.h"
#include "util/option.h"
#include "util/option_parser.h"
#include "util/region.h"
#include "util/uexception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string file = fuzz_support::scratchName("fuzz_config", ".cfg");
  fuzz_support::writeBytes(file, data, size);
  int number = 0;
  float factor = 0;
  double scale = 0;
  bool flag = false;
  std::string text;
  int sizes[3] = {};
  float weights[2] = {};
  double limits[2] = {};
  util::Region region(2);
  util::IntOption a("verbose", "0", "", 'v', &number);
  util::FloatOption b("factor", "1.5", "", 'f', &factor);
  util::DoubleOption c("scale", "2", "", 's', &scale);
  util::BoolOption d("flag", "FALSE", "", 'b', &flag);
  util::StringOption e("prefix", "x", "", 'p', &text);
  util::IntArrayOption f("sizes", "1,2,3", "", 'n', 3, sizes);
  util::FloatArrayOption g("weights", "1,2", "", 'w', 2, weights);
  util::DoubleArrayOption h("limits", "0,1", "", 'l', 2, limits);
  util::RegionArrayOption i("region", "1:2,3:4", "", 'r', 2, &region);
  util::ConfigFileReader reader(file);
  util::OptionParser parser(&reader);
  util::Option* const options[] = {&a, &b, &c, &d, &e, &f, &g, &h, &i};
  for (util::Option* option : options) parser.addOption(option);
  try {
    parser.parseOptions();
  } catch (const util::UException&) {
  }
  (void)parser.toString(true);
  return 0;
}
