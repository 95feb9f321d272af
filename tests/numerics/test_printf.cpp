// Formatted printing on streams against a golden table of printf results.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "numerics/printf.h"

namespace {

struct Case {
  int width;
  int precision;
  double value;
  int lead;
  const char* printed;     // printF
  const char* diaPrinted;  // dia_printF
  int precisionAfter;      // printF
  int diaPrecisionAfter;   // dia_printF
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Every branch of the formatter, with values on both sides of its thresholds.
const Case kCases[] = {
    // Precision given, wide field.
    {15, 5, 2.5, 1, "        2.50000", "        2.50000", 5, 5},
    {15, 5, 1.5e12, 1, " 1.50000000e+12", " 1.50000000e+12", 8, 8},
    {15, 5, 1e-7, 1, "          1e-07", "          1e-07", 5, 0},
    {15, 5, 2.5e-6, 1, "        2.5e-06", "          3e-06", 5, 0},
    {10, 2, -3.14159, 0, "     -3.14", "     -3.14", 2, 2},
    {10, 3, 0.0, 0, "     0.000", "     0.000", 3, 3},
    {10, 2, 1e7, 0, "1.0000e+07", "1.0000e+07", 4, 4},  // exactly 10^(b-p-1)
    {10, 2, 9999999.5, 0, "9999999.50", "9999999.50", 2, 2},
    {10, 2, 0.01, 0, "      0.01", "      0.01", 2, 0},  // exactly 10^-p: general
    {10, 2, 0.0125, 0, "      0.01", "      0.01", 2, 2},
    {10, 2, kNaN, 0, "       nan", "       nan", 2, 0},
    // The formatter chooses (precision 0).
    {10, 0, 0.25, 0, "       0.2", "       0.2", 0, 0},
    {10, 0, 0.0, 0, "         0", "         0", 0, 0},
    {10, 0, 7.6, 0, "         8", "         8", 0, 0},
    {10, 0, 1.0, 0, "         1", "         1", 0, 0},
    {6, 0, 999999.0, 0, "999999", "999999", 0, 0},
    {6, 0, 1e6, 0, " 1e+06", " 1e+06", 1, 1},  // exactly 10^b
    {6, 0, 1.5e7, 0, " 2e+07", " 2e+07", 1, 1},
    {10, 0, kNaN, 0, "       nan", "       nan", 5, 5},
    // Four digit places.
    {4, 3, 12345.0, 0, "12345", "12345", 0, 0},
    {4, 3, 0.005, 0, "   0", "   0", 0, 0},
    {4, 3, 0.1, 0, " 0.1", " 0.1", 1, 1},
    {4, 3, 9.96, 0, "10.0", "10.0", 1, 1},
    {4, 3, 10.0, 0, "  10", "  10", 0, 0},
    {4, 3, 0.01, 0, "0.01", "0.01", 2, 2},
    {5, 0, -0.5, 0, " -0.5", " -0.5", 1, 1},
    {4, 0, 0.0, 0, "   0", "   0", 0, 0},
    // Too narrow: the stream's precision is not touched (6 on a fresh stream).
    {4, 5, 2.5, 1, "  ###", "  ###", 6, 6},
    {4, 5, -2.5, 1, "  ##", "  ##", 6, 6},
    {2, 5, -2.5, 1, "  ", "  ", 6, 6},
    {2, 0, 2.5, -2, " 2.5", " 2.5", 1, 1},  // a negative lead writes no blanks and widens the field
};

template <class Formatter>
void expectCase(const Case& c, const char* expected, int precisionAfter) {
  std::ostringstream os;
  os.setf(std::ios_base::fixed, std::ios_base::floatfield);  // must be reset by the formatter
  Formatter(c.width, c.precision, c.value, c.lead)(os);
  EXPECT_EQ(os.str(), expected);
  EXPECT_EQ(os.flags() & std::ios_base::floatfield, std::ios_base::fmtflags(0));
  EXPECT_EQ(os.precision(), precisionAfter);
  EXPECT_EQ(os.width(), 0);
}

TEST(PrintF, GoldenTable) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "width " << c.width << " precision " << c.precision << " value "
                                    << c.value << " lead " << c.lead);
    {
      SCOPED_TRACE("printF");
      expectCase<printF>(c, c.printed, c.precisionAfter);
    }
    {
      SCOPED_TRACE("dia_printF");
      expectCase<dia_printF>(c, c.diaPrinted, c.diaPrecisionAfter);
    }
  }
}

TEST(PrintF, ChainsOnOneStreamAndLeavesGeneralNotation) {
  std::ostringstream os;
  printF(10, 0, 1.5, 0)(printF(15, 5, 1.5e12, 1)(os)) << 0.1 << " " << 1234567.0;
  os << printF(6, 2, 0.5, 0);
  // The last call set precision 2, which later output inherits in general notation.
  EXPECT_EQ(os.str(), " 1.50000000e+12         20.1 1e+06  0.50");
  os << " " << 1234.5;
  EXPECT_EQ(os.str(), " 1.50000000e+12         20.1 1e+06  0.50 1.2e+03");
}

TEST(PrintF, KeepsTheStreamsAlignmentAndFill) {
  std::ostringstream os;
  os << std::left;
  os.fill('_');
  os << printF(8, 2, 1.5, 0) << dia_printF(8, 2, 1.5, 2);
  EXPECT_EQ(os.str(), "1.50____  1.50__");  // the lead is blanks, not fill
}

}  // namespace
