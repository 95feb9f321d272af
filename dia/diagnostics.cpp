// Diagnostic images with their pixel bounds and a unit world-coordinate frame, and the rows
// of per-cell results of the last kernel fit.
#include <iomanip>

#include "dia/dia.h"
#include "numerics/printf.h"

void diffima::write_ima(orv::FitsOut& out, orv::MArray<float, 2>& image) {
  const long minX = image.first(1), maxX = image.last(1), minY = image.first(2), maxY = image.last(2);
  out.addValueCard("MIN_X   ", minX, "diffima", true);
  out.addValueCard("MAX_X   ", maxX, "diffima", true);
  out.addValueCard("MIN_Y   ", minY, "diffima", true);
  out.addValueCard("MAX_Y   ", maxY, "diffima", true);
  out.addValueCard("CRVAL1  ", -1.0, "WCS", true);
  out.addValueCard("CRVAL2  ", -1.0, "WCS", true);
  out.addValueCard("CRPIX1  ", -minX, "WCS", true);
  out.addValueCard("CRPIX2  ", -minY, "WCS", true);
  out.addValueCard("CRDELT1 ", 1.0, "WCS", true);
  out.addValueCard("CRDELT2 ", 1.0, "WCS", true);
  out.addValueCard("CD1_1   ", 1.0, "WCS", true);
  out.addValueCard("CD1_2   ", 0.0, "WCS", true);
  out.addValueCard("CD2_1   ", 0.0, "WCS", true);
  out.addValueCard("CD2_2   ", 1.0, "WCS", true);
  out.addValueCard("CTYPE1  ", "", "WCS", true);
  out.addValueCard("CTYPE2  ", "", "WCS", true);
  out.addValueCard("LTM1_1  ", 1.0, "NOAO", true);
  out.addValueCard("LTM1_2  ", 0.0, "NOAO", true);
  out.addValueCard("LTM2_1  ", 0.0, "NOAO", true);
  out.addValueCard("LTM2_2  ", 1.0, "NOAO", true);
  out.addValueCard("LTV1    ", 1 - minX, "NOAO", true);
  out.addValueCard("LTV2    ", 1 - minY, "NOAO", true);
  out << image;
}

void diffima::write_table(std::ofstream& os, std::string name) {
  // Before a completed fit there is no cell grid: nothing is written.
  if (!fitCompleted__()) return;
  int c = 0;
  for (int x0 = mx0; x0 <= mx1; x0 += lefx)
    for (int y0 = my0; y0 <= my1; y0 += lefy) {
      ++c;
      os << std::setw(15) << c << std::setw(15) << x0 << std::setw(15) << y0 << std::setw(15) << good(c)
         << dia_printF(15, 5, cell_factor(c), 1) << dia_printF(15, 5, cell_factor_err(c), 1)
         << dia_printF(15, 5, cell_constant(c), 1) << dia_printF(15, 5, cell_constant_err(c), 1)
         << std::setw(45) << name << std::endl;
    }
}
