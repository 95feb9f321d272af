#include "util/option.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <locale>
#include <sstream>

#include "util/uexception.h"

namespace util {

namespace {

std::string textOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

// Leading decimal integer as strtol reads it; values beyond 32 bits saturate.
int toInt(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 10);
  return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

double toDouble(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// Narrowing a finite double beyond the float range is undefined, so it is
// done here as the hardware rounds to nearest: values below the midpoint
// between FLT_MAX and the next power of two (2^128) become FLT_MAX, the
// others infinities.
float toFloat(const std::string& text) {
  const double value = toDouble(text);
  const double magnitude = std::fabs(value);
  if (std::isfinite(value) && magnitude > FLT_MAX) {
    const float narrowed = magnitude < double{FLT_MAX} + std::ldexp(1.0, 103) ? FLT_MAX : HUGE_VALF;
    return value > 0 ? narrowed : -narrowed;
  }
  return static_cast<float>(value);
}

std::string formatInt(int value) { return std::to_string(value); }

// A stream's default notation with precision 6 is the "%g" form.
std::string formatG(double value) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << value;
  return text.str();
}

std::string tooManyElements(const char* kind, const std::string& name) {
  return std::string("Too many elements in ") + kind + " " + name + "!";
}

// Sets element i from the i-th comma-separated piece of the text. Elements
// before an excess piece are stored before the exception is thrown; a
// trailing comma makes one more, empty, piece.
template <typename T, typename Convert>
void setArrayPieces(const std::string& text, int n, T* values, T* target, Convert convert, const char* kind,
                    const std::string& name) {
  size_t pieceStart = 0;
  for (int i = 0;; ++i) {
    if (i >= n) throw UException(tooManyElements(kind, name));
    const size_t comma = text.find(',', pieceStart);
    const T value = convert(text.substr(pieceStart, comma == std::string::npos ? comma : comma - pieceStart));
    values[i] = value;
    if (target) target[i] = value;
    if (comma == std::string::npos) return;
    pieceStart = comma + 1;
  }
}

template <typename T, typename Format>
std::string joinElements(const T* values, int n, Format format) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    if (i > 0) text += ',';
    text += format(values[i]);
  }
  return text;
}

size_t allocationCount(int n) { return n > 0 ? static_cast<size_t>(n) : 0; }

}  // namespace

// ---------------------------------------------------------------- Option

Option::Option(const char* name, const char* defaultText, const char* usage, char cmdLineChar)
    : Option(textOrEmpty(name), textOrEmpty(defaultText), textOrEmpty(usage), cmdLineChar) {}

Option::Option(const std::string& name, const std::string& defaultText, const std::string& usage,
               char cmdLineChar)
    : name_(name), default_(defaultText), usage_(usage), cmdLineChar_(cmdLineChar) {}

Option::~Option() = default;

int Option::getInt() const { return 0; }
float Option::getFloat() const { return 0.0f; }
std::string Option::getString() const { return std::string(); }
bool Option::getBool() const { return false; }
std::string Option::getTypeName() const { return "UNKNOWN"; }
bool Option::needsValue() const { return true; }

std::ostream& operator<<(std::ostream& os, const Option& option) {
  std::string name = option.getName();
  if (name.size() < 16) name.append(16 - name.size(), ' ');
  std::string defaultText = option.getDefault();
  if (defaultText.size() < 26) defaultText.insert(0, 26 - defaultText.size(), ' ');
  const char shortChar = option.getCmdLineChar() ? option.getCmdLineChar() : ' ';
  return os << name << " | " << shortChar << " | " << defaultText << " | " << option.toString();
}

// ---------------------------------------------------------------- IntOption

IntOption::IntOption(const char* name, const char* defaultText, const char* usage, char cmdLineChar,
                     int* target)
    : IntOption(textOrEmpty(name), textOrEmpty(defaultText), textOrEmpty(usage), cmdLineChar, target) {}

IntOption::IntOption(const std::string& name, const std::string& defaultText, const std::string& usage,
                     char cmdLineChar, int* target)
    : Option(name, defaultText, usage, cmdLineChar), target_(target) {
  setValue(getDefault());
}

IntOption::~IntOption() = default;

void IntOption::setValue(const std::string& text) {
  value_ = toInt(text);
  if (target_) *target_ = value_;
}

int IntOption::getInt() const { return target_ ? *target_ : value_; }
std::string IntOption::getTypeName() const { return "INT"; }
std::string IntOption::toString() const { return formatInt(getInt()); }

// ---------------------------------------------------------------- FloatOption

FloatOption::FloatOption(const char* name, const char* defaultText, const char* usage, char cmdLineChar,
                         float* target)
    : FloatOption(textOrEmpty(name), textOrEmpty(defaultText), textOrEmpty(usage), cmdLineChar, target) {}

FloatOption::FloatOption(const std::string& name, const std::string& defaultText, const std::string& usage,
                         char cmdLineChar, float* target)
    : Option(name, defaultText, usage, cmdLineChar), target_(target) {
  setValue(getDefault());
}

FloatOption::~FloatOption() = default;

void FloatOption::setValue(const std::string& text) {
  value_ = toFloat(text);
  if (target_) *target_ = value_;
}

float FloatOption::getFloat() const { return target_ ? *target_ : value_; }
std::string FloatOption::getTypeName() const { return "FLOAT"; }
std::string FloatOption::toString() const { return formatG(getFloat()); }

// ---------------------------------------------------------------- DoubleOption

DoubleOption::DoubleOption(const char* name, const char* defaultText, const char* usage, char cmdLineChar,
                           double* target)
    : Option(name, defaultText, usage, cmdLineChar), target_(target) {
  setValue(getDefault());
}

DoubleOption::~DoubleOption() = default;

void DoubleOption::setValue(const std::string& text) {
  value_ = toDouble(text);
  if (target_) *target_ = value_;
}

double DoubleOption::getDouble() const { return value_; }
std::string DoubleOption::getTypeName() const { return "DOUBLE"; }
std::string DoubleOption::toString() const { return formatG(getDouble()); }

// ---------------------------------------------------------------- BoolOption

BoolOption::BoolOption(const char* name, const char* defaultText, const char* usage, char cmdLineChar,
                       bool* target)
    : BoolOption(textOrEmpty(name), textOrEmpty(defaultText), textOrEmpty(usage), cmdLineChar, target) {}

BoolOption::BoolOption(const std::string& name, const std::string& defaultText, const std::string& usage,
                       char cmdLineChar, bool* target)
    : Option(name, defaultText, usage, cmdLineChar), target_(target) {
  setValue(getDefault());
}

BoolOption::~BoolOption() = default;

void BoolOption::setValue(const std::string& text) {
  static const char* const falseWords[] = {"FALSE", "false", "NO", "no", "F", "f", "N", "n", "0"};
  if (text == "toggle") {
    value_ = !value_;
  } else {
    value_ = std::none_of(std::begin(falseWords), std::end(falseWords),
                          [&text](const char* word) { return text == word; });
  }
  if (target_) *target_ = value_;
}

bool BoolOption::getBool() const { return target_ ? *target_ : value_; }
std::string BoolOption::getTypeName() const { return "FLAG"; }
bool BoolOption::needsValue() const { return false; }
std::string BoolOption::toString() const { return getBool() ? "TRUE" : "FALSE"; }

// ---------------------------------------------------------------- StringOption

StringOption::StringOption(const char* name, const char* defaultText, const char* usage, char cmdLineChar,
                           std::string* target)
    : StringOption(textOrEmpty(name), textOrEmpty(defaultText), textOrEmpty(usage), cmdLineChar, target) {}

StringOption::StringOption(const std::string& name, const std::string& defaultText, const std::string& usage,
                           char cmdLineChar, std::string* target)
    : Option(name, defaultText, usage, cmdLineChar), target_(target) {
  setValue(getDefault());
}

StringOption::~StringOption() = default;

void StringOption::setValue(const std::string& text) {
  value_ = text;
  if (target_) *target_ = value_;
}

std::string StringOption::getString() const { return target_ ? *target_ : value_; }
std::string StringOption::getTypeName() const { return "STRING"; }
std::string StringOption::toString() const { return getString(); }

// ---------------------------------------------------------------- IntArrayOption

IntArrayOption::IntArrayOption(const char* name, const char* defaultText, const char* usage,
                               const char& cmdLineChar, const int& n, int* target)
    : IntArrayOption(textOrEmpty(name), textOrEmpty(defaultText), textOrEmpty(usage), cmdLineChar, n,
                     target) {}

IntArrayOption::IntArrayOption(const std::string& name, const std::string& defaultText,
                               const std::string& usage, const char& cmdLineChar, const int& n, int* target)
    : Option(name, defaultText, usage, cmdLineChar),
      n_(n),
      target_(target),
      values_(std::make_unique<int[]>(allocationCount(n))) {
  setValue(getDefault());
}

IntArrayOption::IntArrayOption(const IntArrayOption& other)
    : Option(other),
      n_(other.n_),
      target_(other.target_),
      values_(std::make_unique<int[]>(allocationCount(n_))) {
  std::copy_n(other.values_.get(), allocationCount(n_), values_.get());
}

IntArrayOption::~IntArrayOption() = default;

void IntArrayOption::setValue(const std::string& text) {
  setArrayPieces(text, n_, values_.get(), target_, toInt, "IntArrayOption", getName());
}

std::string IntArrayOption::getTypeName() const { return "INTARRAY"; }
std::string IntArrayOption::toString() const { return joinElements(getIntArray(), n_, formatInt); }
int* IntArrayOption::getIntArray() const { return target_ ? target_ : values_.get(); }

// ---------------------------------------------------------------- FloatArrayOption

FloatArrayOption::FloatArrayOption(const char* name, const char* defaultText, const char* usage,
                                   const char& cmdLineChar, const int& n, float* target)
    : FloatArrayOption(textOrEmpty(name), textOrEmpty(defaultText), textOrEmpty(usage), cmdLineChar, n,
                       target) {}

FloatArrayOption::FloatArrayOption(const std::string& name, const std::string& defaultText,
                                   const std::string& usage, const char& cmdLineChar, const int& n,
                                   float* target)
    : Option(name, defaultText, usage, cmdLineChar),
      n_(n),
      target_(target),
      values_(std::make_unique<float[]>(allocationCount(n))) {
  setValue(getDefault());
}

FloatArrayOption::FloatArrayOption(const FloatArrayOption& other)
    : Option(other),
      n_(other.n_),
      target_(other.target_),
      values_(std::make_unique<float[]>(allocationCount(n_))) {
  std::copy_n(other.values_.get(), allocationCount(n_), values_.get());
}

FloatArrayOption::~FloatArrayOption() = default;

void FloatArrayOption::setValue(const std::string& text) {
  setArrayPieces(text, n_, values_.get(), target_, toFloat, "FloatArrayOption", getName());
}

std::string FloatArrayOption::getTypeName() const { return "FLOATARRAY"; }
std::string FloatArrayOption::toString() const { return joinElements(getFloatArray(), n_, formatG); }
float* FloatArrayOption::getFloatArray() const { return target_ ? target_ : values_.get(); }

// ---------------------------------------------------------------- DoubleArrayOption

DoubleArrayOption::DoubleArrayOption(const char* name, const char* defaultText, const char* usage,
                                     const char& cmdLineChar, const int& n, double* target)
    : DoubleArrayOption(textOrEmpty(name), textOrEmpty(defaultText), textOrEmpty(usage), cmdLineChar, n,
                        target) {}

DoubleArrayOption::DoubleArrayOption(const std::string& name, const std::string& defaultText,
                                     const std::string& usage, const char& cmdLineChar, const int& n,
                                     double* target)
    : Option(name, defaultText, usage, cmdLineChar),
      n_(n),
      target_(target),
      values_(std::make_unique<double[]>(allocationCount(n))) {
  setValue(getDefault());
}

DoubleArrayOption::DoubleArrayOption(const DoubleArrayOption& other)
    : Option(other),
      n_(other.n_),
      target_(other.target_),
      values_(std::make_unique<double[]>(allocationCount(n_))) {
  std::copy_n(other.values_.get(), allocationCount(n_), values_.get());
}

DoubleArrayOption::~DoubleArrayOption() = default;

void DoubleArrayOption::setValue(const std::string& text) {
  setArrayPieces(text, n_, values_.get(), target_, toDouble, "DoubleArrayOption", getName());
}

std::string DoubleArrayOption::getTypeName() const { return "DOUBLEARRAY"; }
std::string DoubleArrayOption::toString() const { return joinElements(getDoubleArray(), n_, formatG); }
double* DoubleArrayOption::getDoubleArray() const { return target_ ? target_ : values_.get(); }

// ---------------------------------------------------------------- RegionArrayOption

RegionArrayOption::RegionArrayOption(const char* name, const char* defaultText, const char* usage,
                                     const char& cmdLineChar, const int& n, Region* target)
    : RegionArrayOption(textOrEmpty(name), textOrEmpty(defaultText), textOrEmpty(usage), cmdLineChar, n,
                        target) {}

RegionArrayOption::RegionArrayOption(const std::string& name, const std::string& defaultText,
                                     const std::string& usage, const char& cmdLineChar, const int& n,
                                     Region* target)
    : Option(name, defaultText, usage, cmdLineChar), n_(n), target_(target), region_(allocationCount(n)) {
  setValue(getDefault());
}

RegionArrayOption::~RegionArrayOption() = default;

// Per dimension: the integer before the next ":" is one end, the integer
// before the next "," the other; a piece without its separator takes the
// whole rest, and a missing "," ends the text.
void RegionArrayOption::setValue(const std::string& text) {
  size_t pos = 0;
  for (int d = 1;; ++d) {
    if (d > n_) throw UException(tooManyElements("RegionArrayOption", getName()));
    const size_t colon = text.find(':', pos);
    const int first = toInt(text.substr(pos, colon == std::string::npos ? colon : colon - pos));
    pos = colon == std::string::npos ? text.size() : colon + 1;
    const size_t comma = text.find(',', pos);
    const int second = toInt(text.substr(pos, comma == std::string::npos ? comma : comma - pos));
    const int start = std::min(first, second);
    const int end = std::max(first, second);
    region_.setRange(static_cast<unsigned long>(d), start, end);
    if (target_) target_->setRange(static_cast<unsigned long>(d), start, end);
    if (comma == std::string::npos) return;
    pos = comma + 1;
  }
}

std::string RegionArrayOption::getTypeName() const { return "REGIONARRAY"; }

const Region& RegionArrayOption::current__() const { return target_ ? *target_ : region_; }

std::string RegionArrayOption::toString() const {
  const Region& region = current__();
  std::string text;
  for (int d = 1; d <= n_; ++d) {
    if (d > 1) text += ',';
    text += formatInt(region.getStart(static_cast<unsigned long>(d))) + ":" +
            formatInt(region.getEnd(static_cast<unsigned long>(d)));
  }
  return text;
}

Region RegionArrayOption::getRegionArray() const { return current__(); }

std::string RegionArrayOption::toRegionString() const { return "[" + toString() + "]"; }

}  // namespace util
