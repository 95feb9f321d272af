#ifndef UTIL_OPTION_PARSER_H
#define UTIL_OPTION_PARSER_H

#include <map>
#include <ostream>
#include <string>

#include "util/option.h"
#include "util/option_reader.h"

namespace util {

// Holds a program's options and sets them from the names and value texts of
// one reader (the command line or a configuration file); also writes the
// usage listing, the listing of current values, a one-line summary and a
// configuration file that ConfigFileReader reads back.
//
// The parser holds options and reader by pointer and owns neither, except
// that deleteOptions() deletes the options on request.
class OptionParser {
 public:
  explicit OptionParser(OptionReader* reader);
  // Same reader, same options (not copied), same registration count.
  OptionParser(const OptionParser& other) = default;
  OptionParser& operator=(const OptionParser&) = delete;
  virtual ~OptionParser();

  // Switches to another reader; the registered options stay.
  void changeReader(OptionReader* reader);

  // Registers an option under its long name, its short character (when it
  // has one) and its registration number. A later option of the same long
  // name displaces the earlier one from the long-name lookup only.
  void addOption(Option* option);

  // Reads until the reader is done and hands every value to its option. A
  // name of fewer than two characters is looked up as a short character,
  // longer ones as long names; an unknown name throws UException. Values set
  // before an error stay set.
  void parseOptions();

  // The option registered under this long name, or null.
  Option* getOption(const std::string& name);

  // Head line, default and word-wrapped usage text of every option, in
  // registration order.
  void printUsage(std::ostream& os) const;

  // "name=value" (with " # usage" when asked) for every long name, in byte
  // order of the names, separated by "; ".
  std::string toString(bool withUsage) const;

  // Writes "name\t= value" lines, with "\t# usage" when asked, in
  // registration order (byOrder) or byte order of the names. Throws
  // UException when the file cannot be opened or written.
  void writeConfig(const std::string& fileName, bool withUsage, bool byOrder) const;

  // Deletes every option reachable by long name. Afterwards the parser may
  // only be destroyed.
  void deleteOptions();

  friend std::ostream& operator<<(std::ostream& os, const OptionParser& parser);

 private:
  OptionReader* reader_;
  std::map<std::string, Option*> longNames_;
  std::map<std::string, Option*> shortNames_;
  std::map<int, Option*> registrationOrder_;
  int registered_;
};

// One listing line per long name, in byte order of the names.
std::ostream& operator<<(std::ostream& os, const OptionParser& parser);

}  // namespace util

#endif
