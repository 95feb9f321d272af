#ifndef UTIL_OPTION_READER_H
#define UTIL_OPTION_READER_H

#include <string>

namespace util {

class Option;

// A source of option names and their value texts, drained by the option
// parser: while done() is false, it asks for the next name, looks the option
// up, and then asks for that option's value.
class OptionReader {
 public:
  virtual ~OptionReader() = default;

  virtual std::string nextOptionName() = 0;
  virtual std::string nextOptionValue(const Option* option) = 0;
  virtual bool done() = 0;
};

}  // namespace util

#endif
