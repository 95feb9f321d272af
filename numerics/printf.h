#ifndef NUMERICS_PRINTF_H
#define NUMERICS_PRINTF_H

#include <ostream>

// One-shot formatters that print one double into a column of fixed width,
// choosing fixed, scientific or general notation and the number of digits
// from the magnitude of the number and the room in the column. Made on the
// spot and applied at once:
//
//   std::cout << printF(15, 5, chi2, 1) << printF(15, 5, error, 1);
//
// Both leave the stream in general notation with the precision that the last
// number used. A column too narrow for any number (fewer than four digit
// places) is filled with "#".
class printF {
 public:
  // width: total columns including the lead blanks; precision: decimals asked
  // for, 0 lets the formatter choose; lead: blanks written before the field.
  printF(int width, int precision, double value, int lead);

  // Writes the formatted number to os and returns os.
  std::ostream& operator()(std::ostream& os) const;

 private:
  int width;
  int precision;
  double value;
  int lead;
};

// The formatter of the difference-imaging result tables: the same rules as
// printF, except that a number too small to show with the asked decimals is
// printed in general notation with one significant digit.
class dia_printF {
 public:
  dia_printF(int width, int precision, double value, int lead);

  std::ostream& operator()(std::ostream& os) const;

 private:
  int width;
  int precision;
  double value;
  int lead;
};

std::ostream& operator<<(std::ostream& os, const printF& formatter);
std::ostream& operator<<(std::ostream& os, const dia_printF& formatter);

#endif
