#include "util/command_line_reader.h"

#include <cctype>

#include "util/option.h"
#include "util/uexception.h"

namespace util {

namespace {

bool isWhiteSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::string notSpecifier(const std::string& token) {
  return "Token '" + token + "' not an argument specifier!";
}

}  // namespace

CommandLineReader::CommandLineReader(int argc, char** argv)
    : argc_(argv ? argc : 0), argv_(argv), next_(1), finished_(false) {
  finished_ = argc_ < 2 || argument__(1).substr(0, 1) != "-";
}

CommandLineReader::~CommandLineReader() = default;

std::string CommandLineReader::argument__(int index) const {
  const char* text = argv_[index];
  return text ? std::string(text) : std::string();
}

// The options are over when the arguments are, or when the next one is not
// an option.
void CommandLineReader::updateFinished__() {
  finished_ = next_ >= argc_ || argument__(next_).substr(0, 1) != "-";
}

bool CommandLineReader::done() { return next_ >= argc_ || finished_; }

std::string CommandLineReader::nextOptionName() {
  if (next_ >= argc_) throw UException("No more arguments left!");
  const std::string token = argument__(next_);
  if (token.size() < 2 || token[0] != '-') throw UException(notSpecifier(token));
  std::string name;
  if (token[1] == '-') {
    if (token.size() == 2) throw UException(notSpecifier(token));
    name = token.substr(2);
  } else {
    // Several letters after one dash form one long name, not a group of
    // short options.
    if (token.size() > 2 && isWhiteSpace(token[2])) throw UException(notSpecifier(token));
    name = token.substr(1);
  }
  ++next_;
  return name;
}

std::string CommandLineReader::nextOptionValue(const Option* option) {
  const bool needsValue = option == nullptr || option->needsValue();
  std::string value = "toggle";
  if (needsValue) {
    if (next_ >= argc_) throw UException("No more argument values left!");
    value = argument__(next_);
    // A value may begin with "-" only as a negative number: "-5", "-.5".
    if (!value.empty() && value[0] == '-' && (value.size() < 2 || (value[1] != '.' && !isDigit(value[1])))) {
      throw UException("Token '" + value + "' does not seem like a valid value!");
    }
    ++next_;
  }
  updateFinished__();
  return value;
}

std::vector<std::string> CommandLineReader::fileArgumentsVector() {
  std::vector<std::string> files;
  for (; next_ < argc_; ++next_) files.push_back(argument__(next_));
  return files;
}

std::list<std::string> CommandLineReader::fileArguments() {
  const std::vector<std::string> files = fileArgumentsVector();
  return std::list<std::string>(files.begin(), files.end());
}

std::string CommandLineReader::progName() {
  if (argc_ < 1) return std::string();
  const std::string program = argument__(0);
  const size_t slash = program.rfind('/');
  return slash == std::string::npos ? program : program.substr(slash + 1);
}

}  // namespace util
