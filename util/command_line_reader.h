#ifndef UTIL_COMMAND_LINE_READER_H
#define UTIL_COMMAND_LINE_READER_H

#include <list>
#include <string>
#include <vector>

#include "util/option_reader.h"

namespace util {

// Reads options from a program's argument vector. Options come first: "--name"
// or "-c", each followed by its value as the next whole argument (flags take
// none). After each option the reader looks at the next argument; when it
// does not begin with "-", the options are over and the remaining arguments
// are file arguments. The argument vector is not copied and must outlive the
// reader.
class CommandLineReader : public OptionReader {
 public:
  CommandLineReader(int argc, char** argv);
  ~CommandLineReader() override;

  // The next option's name without its dashes; throws UException for a
  // missing or malformed argument, before moving past it.
  std::string nextOptionName() override;
  // The value text for the option just named: the next argument, or
  // "toggle" for a flag, which consumes no argument.
  std::string nextOptionValue(const Option* option) override;
  bool done() override;

  // Every argument not read yet, in order; afterwards none are left.
  std::list<std::string> fileArguments();
  std::vector<std::string> fileArgumentsVector();
  // Argument 0 without its directory.
  std::string progName();

 private:
  std::string argument__(int index) const;
  void updateFinished__();

  int argc_;
  char** argv_;
  int next_;
  bool finished_;
};

}  // namespace util

#endif
