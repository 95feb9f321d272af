// Point listings, fit tables and coefficients of the gradient fits.
#include "tarvole/fit_table.h"

#include <iomanip>

void printPointMeans(std::ostream& os, const SamplingPoints& pts) {
  os.precision(9);
  for (int k = 1; k <= pts.K; ++k)
    os << std::setw(15) << pts.mR(k) << std::setw(15) << pts.mI(k) << std::endl;
}

void printFitTable(std::ostream& os, int iteration, const GradientModel& m, bool withChi, double nchi,
                   const std::string& outname) {
  os << "      iteration"
     << "    abs=Ima/Ref"
     << "        sky/abs"
     << "  skygrad x/abs"
     << "  skygrad y/abs"
     << "     absIgrad x"
     << "     absIgrad y";
  if (withChi) os << "           nchi";
  os << "   method one    " << std::endl << std::fixed;
  const double* b = m.b;
  os << std::setw(15) << iteration << std::setprecision(5) << std::setw(15) << b[1] << std::setprecision(1)
     << std::setw(15) << b[2] / b[1] << std::setprecision(4) << std::setw(15) << b[5] / b[1] << std::setw(15)
     << b[6] / b[1] << std::setprecision(8) << std::setw(15) << b[3] << std::setw(15) << b[4];
  if (withChi) os << std::setw(15) << nchi;
  os << "   " << outname << std::endl;
}

void setGradientCoefficients(orv::MArray<double, 1>& c, const GradientModel& m) {
  c(1) = 1.0 / m.b[1];
  c(2) = m.b[2] / m.b[1];
  c(3) = m.b[5] / m.b[1];
  c(4) = m.b[6] / m.b[1];
  c(5) = m.b[3];
  c(6) = m.b[4];
}
