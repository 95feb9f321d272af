#include "util/option_parser.h"

#include <sstream>

#include "util/replacing_file.h"
#include "util/uexception.h"

namespace util {

namespace {

// Usage listing layout: the head line is padded to this width, and the usage
// words are wrapped at this column, after an indent of eight blanks.
constexpr size_t kHeadWidth = 39;
constexpr size_t kUsageIndent = 8;
constexpr size_t kUsageLastColumn = 71;

void writeUsageText(std::ostream& os, const std::string& usage) {
  const std::string indent(kUsageIndent, ' ');
  os << indent;
  size_t column = kUsageIndent;
  size_t pos = 0;
  while ((pos = usage.find_first_not_of(" \t\n", pos)) != std::string::npos) {
    const size_t end = usage.find_first_of(" \t\n", pos);
    const std::string word = usage.substr(pos, end == std::string::npos ? end : end - pos);
    pos = end;
    if (column + word.size() <= kUsageLastColumn) {
      column += word.size() + 1;
    } else {
      os << '\n' << indent;
      column = kUsageIndent + word.size() + 1;
    }
    os << word << ' ';
  }
  os << "\n\n";
}

}  // namespace

OptionParser::OptionParser(OptionReader* reader) : reader_(reader), registered_(0) {}

OptionParser::~OptionParser() = default;

void OptionParser::changeReader(OptionReader* reader) { reader_ = reader; }

void OptionParser::addOption(Option* option) {
  if (option == nullptr) return;
  longNames_[option->getName()] = option;
  if (option->getCmdLineChar() != 0) shortNames_[std::string(1, option->getCmdLineChar())] = option;
  registrationOrder_[++registered_] = option;
}

void OptionParser::parseOptions() {
  if (reader_ == nullptr) return;
  while (!reader_->done()) {
    const std::string name = reader_->nextOptionName();
    Option* option = nullptr;
    if (name.size() < 2) {
      const auto found = shortNames_.find(name);
      if (found == shortNames_.end()) throw UException("Unknown short option '" + name + "' encountered!");
      option = found->second;
    } else {
      const auto found = longNames_.find(name);
      if (found == longNames_.end()) throw UException("Unknown long option '" + name + "' encountered!");
      option = found->second;
    }
    option->setValue(reader_->nextOptionValue(option));
  }
}

Option* OptionParser::getOption(const std::string& name) {
  const auto found = longNames_.find(name);
  return found == longNames_.end() ? nullptr : found->second;
}

void OptionParser::printUsage(std::ostream& os) const {
  for (const auto& [number, option] : registrationOrder_) {
    std::string head = "    ";
    if (option->getCmdLineChar() != 0) head += std::string("-") + option->getCmdLineChar() + ", ";
    head += "--" + option->getName() + " <" + option->getTypeName() + ">";
    if (head.size() < kHeadWidth) head.append(kHeadWidth - head.size(), ' ');
    os << head << "  [" << option->getDefault() << "]\n";
    writeUsageText(os, option->getUsage());
  }
}

std::string OptionParser::toString(bool withUsage) const {
  std::string text;
  for (const auto& [name, option] : longNames_) {
    if (option == nullptr) continue;
    if (!text.empty()) text += "; ";
    text += name + "=" + option->toString();
    if (withUsage) text += " # " + option->getUsage();
  }
  return text;
}

void OptionParser::writeConfig(const std::string& fileName, bool withUsage, bool byOrder) const {
  std::ostringstream file;
  const auto writeLine = [&](const Option& option) {
    file << option.getName() << "\t= " << option.toString();
    if (withUsage) file << "\t# " << option.getUsage();
    file << '\n';
  };
  if (byOrder) {
    for (const auto& entry : registrationOrder_) writeLine(*entry.second);
  } else {
    for (const auto& entry : longNames_) {
      if (entry.second != nullptr) writeLine(*entry.second);
    }
  }
  // The earlier configuration stays unless the new one is whole on disk.
  writeReplacingTextFile(fileName, file.str());
}

// The entries stay, emptied, so that a second call deletes nothing twice.
void OptionParser::deleteOptions() {
  for (auto& entry : longNames_) {
    delete entry.second;
    entry.second = nullptr;
  }
}

std::ostream& operator<<(std::ostream& os, const OptionParser& parser) {
  for (const auto& entry : parser.longNames_) {
    if (entry.second != nullptr) os << *entry.second << '\n';
  }
  return os;
}

}  // namespace util
