// Light-curve FITS tables: the curve, the folded curve, the SR spectrum and
// the curve boxed on a search peak, each as one binary table "TABLE_BINARY".

#include <CCfits/CCfits>
#include <iostream>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "lightcurve/pellib.h"
#include "numerics/end_process.h"
#include "numerics/stopwatch.h"

namespace {

// A table file that cannot be created or written ends the process: the
// light-curve library's one fatal condition. The message ends in an empty line.
[[noreturn]] void tableWriteFailed(const std::string& file, const char* what) {
  endProcess("error: cannot open file " + file + what + "\n", -1);
}

// The values 1..n of a member array as the column's element type.
template <typename T>
std::vector<T> columnOf(const orv::MArray<double, 1>& a, int n) {
  std::vector<T> v(n);
  for (int k = 1; k <= n; ++k) v[k - 1] = static_cast<T>(!a.isEmpty() && k <= a.last(1) ? a(k) : 0.0);
  return v;
}

// A new file (an existing one is replaced) with an empty primary unit; the
// owning pointer completes and closes the file.
std::unique_ptr<CCfits::FITS> newFile(const std::string& file) {
  return std::unique_ptr<CCfits::FITS>(new CCfits::FITS("!" + file, CCfits::Write));
}

// The file's one binary table, of no rows yet.
CCfits::Table* newTable(CCfits::FITS& fits) {
  return fits.addTable("TABLE_BINARY", 0, std::vector<std::string>(), std::vector<std::string>(),
                       std::vector<std::string>(), CCfits::BinaryTbl, 1);
}

template <typename T>
void addColumn(CCfits::Table* table, const std::string& name, const std::vector<T>& values) {
  table->addColumn(std::is_same_v<T, double> ? CCfits::Tdouble : CCfits::Tfloat, name, 1, "none");
  table->column(name).write(values, 1);
}

// A table of the phased curve: phase, flux, error (mandatory columns added
// before any is written), then nchi and boxval when asked.
void writePhasedTable(const Lightcurve& lc, CCfits::FITS& fits, bool nchi, bool boxval) {
  const int n = lc.phased_length;
  const std::vector<float> phase = columnOf<float>(lc.phase, n);
  const std::vector<float> flux = columnOf<float>(lc.phased_flux, n);
  const std::vector<float> error = columnOf<float>(lc.phased_error, n);
  CCfits::Table* table = newTable(fits);
  table->addColumn(CCfits::Tfloat, "phase", 1, "none");
  table->addColumn(CCfits::Tfloat, "flux", 1, "none");
  table->addColumn(CCfits::Tfloat, "error", 1, "none");
  table->column("phase").write(phase, 1);
  table->column("flux").write(flux, 1);
  table->column("error").write(error, 1);
  if (nchi) addColumn(table, "nchi", columnOf<float>(lc.phased_nchi, n));
  if (boxval) addColumn(table, "boxval", columnOf<float>(lc.phased_boxval, n));
}

}  // namespace

void Lightcurve::write_binary(std::string file, bool nchi_, bool boxval_, bool, bool) {
  if (!has_data || length < 1) {
    std::cout << "lightcurve contains no data points" << std::endl;
    return;
  }
  try {
    std::unique_ptr<CCfits::FITS> fits = newFile(file);
    CCfits::Table* table = newTable(*fits);
    table->addColumn(CCfits::Tdouble, "JD", 1, "none");
    table->addColumn(CCfits::Tfloat, "flux", 1, "none");
    table->addColumn(CCfits::Tfloat, "error", 1, "none");
    table->column("JD").write(columnOf<double>(JD, length), 1);
    table->column("flux").write(columnOf<float>(flux, length), 1);
    table->column("error").write(columnOf<float>(error, length), 1);
    if (nchi_) addColumn(table, "nchi", columnOf<float>(nchi, length));
    if (boxval_) addColumn(table, "boxval", columnOf<float>(boxval, length));
  } catch (CCfits::FitsException&) {
    tableWriteFailed(file, " for writing");
  }
}

void Lightcurve::write_folded_binary(std::string file, bool nchi_, bool boxval_, bool, bool) {
  if (!folded) {
    std::cout << "lightcurve has not been folded, yet!" << std::endl;
    return;
  }
  try {
    std::unique_ptr<CCfits::FITS> fits = newFile(file);
    writePhasedTable(*this, *fits, nchi_, boxval_);
  } catch (CCfits::FitsException&) {
    tableWriteFailed(file, " fits for writing");
  }
}

void Lightcurve::write_SR_binary(std::string file, bool) {
  if (!boxfitted) {
    std::cout << "no SR-spectrum available!" << std::endl;
    return;
  }
  try {
    std::unique_ptr<CCfits::FITS> fits = newFile(file);
    CCfits::Table* table = newTable(*fits);
    const int n = SR.length(1);
    table->addColumn(CCfits::Tfloat, "1/p", 1, "none");
    table->addColumn(CCfits::Tfloat, "SR", 1, "none");
    table->column("1/p").write(columnOf<float>(frequency, n), 1);
    table->column("SR").write(columnOf<float>(SR, n), 1);
  } catch (CCfits::FitsException&) {
    tableWriteFailed(file, " for writing");
  }
}

void Lightcurve::write_boxed_binary(std::string file, int i, bool magnitudes_, bool nchi_, bool, bool boxval_,
                                    int nbins, bool) {
  if (!requireFoundPeak__(i)) return;
  Stopwatch watch("write_boxed_binary");
  watch.start();
  try {
    std::unique_ptr<CCfits::FITS> fits = newFile(file);
    boxedCurve__(i, magnitudes_, boxval_, nbins, watch);
    writePhasedTable(*this, *fits, nchi_, boxval_);
  } catch (CCfits::FitsException&) {
    tableWriteFailed(file, " fits for writing");
  }
  watch.stop("writing table");
  watch.printStatus();
}

// The noise-free and transit-removed curves have no table writer: a call
// that finds its curve says so, whatever its flags, since it writes no file.
void Lightcurve::write_nonoise_binary(std::string, bool, bool) {
  if (!nonoise_ok) {
    std::cout << "error: nonoise lightcurve not available!" << std::endl;
    return;
  }
  std::cout << "error: FITS table of the nonoise lightcurve not implemented!" << std::endl;
}

void Lightcurve::write_removed_binary(std::string, bool, bool) {
  if (!removed_ok) {
    std::cout << "error: transits have not yet been removed!" << std::endl;
    return;
  }
  std::cout << "error: FITS table of the removed lightcurve not implemented!" << std::endl;
}
