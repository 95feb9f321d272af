#include "util/config_file_reader.h"

#include "util/regular_file.h"
#include "util/uexception.h"

namespace util {

namespace {

// Blank, tab, line feed, vertical tab, form feed and carriage return, so that
// lines ending in "\r\n" read like the others.
const char* const kWhiteSpace = " \t\n\v\f\r";

// Splits one line into name and value; false when it holds no entry.
bool parseEntry(std::string line, std::string& name, std::string& value) {
  // Everything from the first "#" on is a comment, even inside quotes.
  const size_t hash = line.find('#');
  if (hash != std::string::npos) line.erase(hash);

  const size_t equals = line.find('=');
  if (equals == std::string::npos) return false;

  const size_t nameStart = line.find_first_not_of(kWhiteSpace);
  if (nameStart >= equals) return false;
  const size_t nameEnd = line.find_last_not_of(kWhiteSpace, equals - 1) + 1;
  const std::string candidate = line.substr(nameStart, nameEnd - nameStart);
  if (candidate.find_first_of(kWhiteSpace) != std::string::npos) return false;

  const size_t valueStart = line.find_first_not_of(kWhiteSpace, equals + 1);
  if (valueStart == std::string::npos) {
    value.clear();
  } else if (line[valueStart] == '"') {
    const size_t closingQuote = line.find('"', valueStart + 1);
    value = line.substr(valueStart + 1,
                        closingQuote == std::string::npos ? closingQuote : closingQuote - valueStart - 1);
  } else {
    const size_t valueEnd = line.find_first_of(kWhiteSpace, valueStart);
    value = line.substr(valueStart, valueEnd == std::string::npos ? valueEnd : valueEnd - valueStart);
  }
  name = candidate;
  return true;
}

}  // namespace

ConfigFileReader::ConfigFileReader(const std::string& fileName)
    : fileName_(fileName), finished_(true), readFailed_(false) {
  // Only a regular file is opened: the stream would block forever on a FIFO.
  if (isReadableRegularFile(fileName)) input_.open(fileName);
  if (input_.is_open()) finished_ = !nextLine__();
}

ConfigFileReader::~ConfigFileReader() = default;

bool ConfigFileReader::nextLine__() {
  std::string line;
  // getline fails at the end of the file and on a read error alike; either
  // way the reader is finished and does not try again. A read error is
  // remembered for isOpen().
  while (std::getline(input_, line)) {
    if (parseEntry(line, currentName_, currentValue_)) return true;
  }
  readFailed_ = input_.bad();
  return false;
}

bool ConfigFileReader::done() { return finished_; }

std::string ConfigFileReader::nextOptionName() {
  if (finished_) throw UException("No more arguments left!");
  return currentName_;
}

std::string ConfigFileReader::nextOptionValue(const Option* /*option*/) {
  if (finished_) throw UException("No more argument values left!");
  std::string value = currentValue_;
  finished_ = !nextLine__();
  return value;
}

std::string ConfigFileReader::fileName() const { return fileName_; }

bool ConfigFileReader::isOpen() const { return input_.is_open() && !readFailed_; }

}  // namespace util
