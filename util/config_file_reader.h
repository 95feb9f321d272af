#ifndef UTIL_CONFIG_FILE_READER_H
#define UTIL_CONFIG_FILE_READER_H

#include <fstream>
#include <string>

#include "util/option_reader.h"

namespace util {

// Reads options from a text file of lines "name = value", "#" starting a
// comment. The value is either a double-quoted text (up to the closing quote
// or the line end) or the first run of non-blank characters; an empty value
// is allowed. Lines that hold no such entry are skipped. The reader stays one
// entry ahead: the entry that nextOptionName returns is always read already.
//
// A file that cannot be opened or read, and anything that is not a regular
// file (a directory, a FIFO), gives a reader that is done at once; isOpen()
// tells a program that it should warn about it.
class ConfigFileReader : public OptionReader {
 public:
  explicit ConfigFileReader(const std::string& fileName);
  ConfigFileReader(const ConfigFileReader&) = delete;
  ConfigFileReader& operator=(const ConfigFileReader&) = delete;
  ~ConfigFileReader() override;

  // The name of the entry to deliver next; does not advance.
  std::string nextOptionName() override;
  // The value of that entry; then reads ahead to the next one. The option is
  // not consulted: a flag receives the text written in the file.
  std::string nextOptionValue(const Option* option) override;
  bool done() override;

  std::string fileName() const;
  // Whether the file could be opened and read without error; false also for
  // a name that is not a regular file, such as a directory or a FIFO.
  bool isOpen() const;

 private:
  // Reads lines until one holds an entry and stores it; false at the end of
  // the file or on a read error.
  bool nextLine__();

  std::string fileName_;
  bool finished_;
  bool readFailed_;
  std::ifstream input_;
  std::string currentName_;
  std::string currentValue_;
};

}  // namespace util

#endif
