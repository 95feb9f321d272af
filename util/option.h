#ifndef UTIL_OPTION_H
#define UTIL_OPTION_H

#include <memory>
#include <ostream>
#include <string>

#include "util/region.h"

namespace util {

// A declared program setting: a long name ("--name" on the command line, the
// key in configuration files), an optional one-letter short form ("-c", 0 for
// none), a default text and a one-line usage text. Each concrete kind turns a
// value text into its own type, keeps it and writes it at once into the
// program variable it is bound to (when it has one), and turns the current
// value back into text for listings and configuration files.
//
// The bound variable belongs to the program and must outlive the option.
class Option {
 public:
  Option(const char* name, const char* defaultText, const char* usage, char cmdLineChar);
  Option(const std::string& name, const std::string& defaultText, const std::string& usage, char cmdLineChar);
  virtual ~Option();

  // Takes a value text; the array and region kinds throw UException when the
  // text has more pieces than they have elements.
  virtual void setValue(const std::string& text) = 0;
  virtual int getInt() const;
  virtual float getFloat() const;
  virtual std::string getString() const;
  virtual bool getBool() const;
  virtual std::string getTypeName() const;
  // False only for flags, which take no value text on the command line.
  virtual bool needsValue() const;
  virtual std::string toString() const = 0;

  const std::string& getName() const { return name_; }
  const std::string& getDefault() const { return default_; }
  const std::string& getUsage() const { return usage_; }
  char getCmdLineChar() const { return cmdLineChar_; }

 private:
  std::string name_;
  std::string default_;
  std::string usage_;
  char cmdLineChar_;
};

// One listing line without a line end: name left-aligned in 16 columns, the
// short character (a blank when there is none), the default text
// right-aligned in 26 columns and the current value, separated by " | ".
// Longer names and defaults are written whole and widen the line.
std::ostream& operator<<(std::ostream& os, const Option& option);

// A 32-bit integer, read like strtol in base 10 (leading blanks and a sign
// allowed, trailing text ignored, no digits give 0).
class IntOption : public Option {
 public:
  IntOption(const char* name, const char* defaultText, const char* usage, char cmdLineChar, int* target);
  IntOption(const std::string& name, const std::string& defaultText, const std::string& usage,
            char cmdLineChar, int* target);
  ~IntOption() override;

  void setValue(const std::string& text) override;
  // The bound variable's current value when there is one, else the own value.
  int getInt() const override;
  std::string getTypeName() const override;
  std::string toString() const override;

 private:
  int value_ = 0;
  int* target_;
};

// A single-precision number, read like strtod and then narrowed.
class FloatOption : public Option {
 public:
  FloatOption(const char* name, const char* defaultText, const char* usage, char cmdLineChar, float* target);
  FloatOption(const std::string& name, const std::string& defaultText, const std::string& usage,
              char cmdLineChar, float* target);
  ~FloatOption() override;

  void setValue(const std::string& text) override;
  float getFloat() const override;
  std::string getTypeName() const override;
  std::string toString() const override;

 private:
  float value_ = 0.0f;
  float* target_;
};

// A double-precision number, read like strtod. Unlike the other scalar kinds
// it reports the value last set, even when the program has changed its
// variable since.
class DoubleOption : public Option {
 public:
  DoubleOption(const char* name, const char* defaultText, const char* usage, char cmdLineChar,
               double* target);
  ~DoubleOption() override;

  void setValue(const std::string& text) override;
  std::string getTypeName() const override;
  std::string toString() const override;
  virtual double getDouble() const;

 private:
  double value_ = 0.0;
  double* target_;
};

// A flag. On the command line it takes no value: the reader hands it the
// word "toggle", which inverts the value the option holds. Otherwise
// "FALSE", "false", "NO", "no", "F", "f", "N", "n" and "0" mean false and
// every other text, the empty one included, means true.
class BoolOption : public Option {
 public:
  BoolOption(const char* name, const char* defaultText, const char* usage, char cmdLineChar, bool* target);
  BoolOption(const std::string& name, const std::string& defaultText, const std::string& usage,
             char cmdLineChar, bool* target);
  ~BoolOption() override;

  void setValue(const std::string& text) override;
  bool getBool() const override;
  std::string getTypeName() const override;
  bool needsValue() const override;
  std::string toString() const override;

 private:
  bool value_ = false;
  bool* target_;
};

// A text, taken unchanged.
class StringOption : public Option {
 public:
  StringOption(const char* name, const char* defaultText, const char* usage, char cmdLineChar,
               std::string* target);
  StringOption(const std::string& name, const std::string& defaultText, const std::string& usage,
               char cmdLineChar, std::string* target);
  ~StringOption() override;

  void setValue(const std::string& text) override;
  std::string getString() const override;
  std::string getTypeName() const override;
  std::string toString() const override;

 private:
  std::string value_;
  std::string* target_;
};

// The number-array kinds hold n elements, given as a comma-separated text.
// Each piece sets one element, from element 0 on; elements the text does not
// reach keep their values. A text with more than n pieces stores the first n
// and then throws UException "Too many elements in <Kind> <name>!". A bound
// array must hold at least n elements.
class IntArrayOption : public Option {
 public:
  IntArrayOption(const char* name, const char* defaultText, const char* usage, const char& cmdLineChar,
                 const int& n, int* target);
  IntArrayOption(const std::string& name, const std::string& defaultText, const std::string& usage,
                 const char& cmdLineChar, const int& n, int* target);
  // The copy writes to the same program array but has its own elements.
  IntArrayOption(const IntArrayOption& other);
  IntArrayOption& operator=(const IntArrayOption&) = delete;
  ~IntArrayOption() override;

  void setValue(const std::string& text) override;
  std::string getTypeName() const override;
  std::string toString() const override;
  // The bound array when there is one, else the own array.
  virtual int* getIntArray() const;

 private:
  int n_;
  int* target_;
  std::unique_ptr<int[]> values_;
};

class FloatArrayOption : public Option {
 public:
  FloatArrayOption(const char* name, const char* defaultText, const char* usage, const char& cmdLineChar,
                   const int& n, float* target);
  FloatArrayOption(const std::string& name, const std::string& defaultText, const std::string& usage,
                   const char& cmdLineChar, const int& n, float* target);
  FloatArrayOption(const FloatArrayOption& other);
  FloatArrayOption& operator=(const FloatArrayOption&) = delete;
  ~FloatArrayOption() override;

  void setValue(const std::string& text) override;
  std::string getTypeName() const override;
  std::string toString() const override;
  virtual float* getFloatArray() const;

 private:
  int n_;
  float* target_;
  std::unique_ptr<float[]> values_;
};

class DoubleArrayOption : public Option {
 public:
  DoubleArrayOption(const char* name, const char* defaultText, const char* usage, const char& cmdLineChar,
                    const int& n, double* target);
  DoubleArrayOption(const std::string& name, const std::string& defaultText, const std::string& usage,
                    const char& cmdLineChar, const int& n, double* target);
  DoubleArrayOption(const DoubleArrayOption& other);
  DoubleArrayOption& operator=(const DoubleArrayOption&) = delete;
  ~DoubleArrayOption() override;

  void setValue(const std::string& text) override;
  std::string getTypeName() const override;
  std::string toString() const override;
  virtual double* getDoubleArray() const;

 private:
  int n_;
  double* target_;
  std::unique_ptr<double[]> values_;
};

// An index region of n dimensions, given as "a:b" per dimension with the
// dimensions separated by ","; each dimension is stored in order, from
// min(a, b) to max(a, b). Dimensions the text does not reach keep their
// range; more than n dimensions throw "Too many elements in
// RegionArrayOption <name>!". A bound region must have at least n dimensions.
class RegionArrayOption : public Option {
 public:
  RegionArrayOption(const char* name, const char* defaultText, const char* usage, const char& cmdLineChar,
                    const int& n, Region* target);
  RegionArrayOption(const std::string& name, const std::string& defaultText, const std::string& usage,
                    const char& cmdLineChar, const int& n, Region* target);
  ~RegionArrayOption() override;

  void setValue(const std::string& text) override;
  std::string getTypeName() const override;
  // "a:b" per dimension joined by ",", the text the option reads.
  std::string toString() const override;
  // A copy of the bound region when there is one, else of the own region.
  virtual Region getRegionArray() const;
  // The bracketed form, "[" + toString() + "]".
  std::string toRegionString() const;

 private:
  const Region& current__() const;

  int n_;
  Region* target_;
  Region region_;
};

}  // namespace util

#endif
