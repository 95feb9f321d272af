// Light-curve text and raw files: the ASCII and raw-record readers and the
// ASCII writers of the curve, the simulated curves, the SR spectrum, the
// folded curve and the curve boxed on a search peak.

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/pellib.h"
#include "numerics/stopwatch.h"
#include "orv/fits/ascio.h"

using lightcurve_detail::filled;
using lightcurve_detail::kNoFileInformation;

namespace {

// A text line under construction; numbers go in as printf's %*.*g (the
// stream's default notation with a precision and a right-aligned width).
class Line {
 public:
  Line& num(double v, int width, int precision) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%*.*g", width, precision, v);
    text_.append(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return *this;
  }
  Line& num(double v, int precision) { return num(v, 0, precision); }
  Line& integer(long v) {
    text_ += std::to_string(v);
    return *this;
  }
  Line& name(const std::string& s) {
    if (s.size() < 34) text_.append(34 - s.size(), ' ');
    text_ += s;
    return *this;
  }
  Line& str(const char* s) {
    text_ += s;
    return *this;
  }
  Line& str(const std::string& s) {
    text_ += s;
    return *this;
  }
  void end() { text_ += '\n'; }
  std::string& text() { return text_; }

 private:
  std::string text_;
};

// Opens the named file for writing (created or emptied); on failure the
// message goes to standard error and the stream stays closed.
bool openForWriting(std::ofstream& out, const std::string& file) {
  out.open(file, std::ios::out | std::ios::trunc | std::ios::binary);
  if (out) return true;
  std::cerr << "error: cannot open file " << file << " for writing" << std::endl;
  return false;
}

// Element k of a phased array, or the stand-in when the array holds fewer
// elements (fold_quick leaves nchi and names of an earlier fold).
double phasedValue(const orv::MArray<double, 1>& a, int k) {
  return !a.isEmpty() && k >= a.first(1) && k <= a.last(1) ? a(k) : 0.0;
}
std::string phasedName(const orv::MArray<std::string, 1>& a, int k) {
  return !a.isEmpty() && k >= a.first(1) && k <= a.last(1) ? a(k) : std::string(kNoFileInformation);
}

// The column heads of the optional columns.
std::string optionalHeads(bool nchi, bool boxval, bool filename) {
  std::string s;
  if (nchi) s += "     nchi   ";
  if (boxval) s += "   boxval   ";
  if (filename) s += "             filename               ";
  return s;
}

}  // namespace

void Lightcurve::read(std::string file, bool magnitudes_, int nchicol, int boxvalcol, int filenamecol) {
  // Everything is read into temporaries; the record changes only on success.
  orv::AscFile in(file, '\0', "#");
  orv::MArray<double, 1> jd = in.readDoubleColumn(1);
  orv::MArray<double, 1> fl = in.readDoubleColumn(2);
  const int n = jd.length(1);
  orv::MArray<double, 1> er;
  try {
    er.makeReference(in.readDoubleColumn(3));
  } catch (const orv::IOException&) {
    er.makeReference(filled(n, 1.0));
  }
  orv::MArray<double, 1> nc = nchicol != 0 ? in.readDoubleColumn(nchicol) : filled(n, 0.0);
  orv::MArray<double, 1> bv = boxvalcol != 0 ? in.readDoubleColumn(boxvalcol) : filled(n, 0.0);
  orv::MArray<std::string, 1> names = filled(n, std::string(kNoFileInformation));
  if (filenamecol != 0) {
    std::vector<std::string> column;
    in.readColumn(filenamecol, column);
    for (int i = 1; i <= n && i <= static_cast<int>(column.size()); ++i) names(i) = column[i - 1];
  }
  if (fl.length(1) < n || er.length(1) < n || nc.length(1) < n || bv.length(1) < n)
    throw orv::IOException("column lengths of " + file + " differ");

  magnitudes = magnitudes_;
  source_file = file;
  length = n;
  has_data = n > 0;
  JD.makeReference(jd);
  flux.makeReference(fl);
  error.makeReference(er);
  weights.makeReference(filled(n, 0.0));
  nchi.makeReference(nc);
  boxval.makeReference(bv);
  filename.makeReference(names);
  // Scatter of the flux about its median.
  if (n < 2) {
    noise = 0.0;
    return;
  }
  const double M = orv::median_exact(flux(orv::Range(1, n)));
  double sum = 0.0;
  for (int i = 1; i <= n; ++i) sum += (flux(i) - M) * (flux(i) - M);
  noise = std::sqrt(sum / (n - 1));
}

// Raw records of three values each (date, flux, error) of type T.
template <typename T>
static void readRaw(Lightcurve& lc, const std::string& file, bool magnitudes) {
  lc.magnitudes = magnitudes;
  lc.source_file = file;
  // Only a regular file has a size that counts its records: a directory reports a size it
  // cannot be read to, and opening a FIFO waits for a writer.
  std::error_code failure;
  const bool regular = std::filesystem::is_regular_file(file, failure);
  std::ifstream in;
  if (regular) in.open(file, std::ios::binary);
  long n = 0;
  if (!regular || !in) {
    std::cout << "error: cannot open file " << file << "!" << std::endl;
  } else {
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    n = size > 0 ? static_cast<long>(size / (3 * sizeof(T))) : 0;
    in.seekg(0, std::ios::beg);
    if (n > std::numeric_limits<int>::max()) {
      std::cout << "error: file " << file << " holds " << n << " records, more than a light curve can hold!"
                << std::endl;
      n = 0;
    }
  }
  std::vector<T> records(3 * n);
  if (n > 0)
    in.read(reinterpret_cast<char*>(records.data()),
            static_cast<std::streamsize>(records.size() * sizeof(T)));
  const int count = static_cast<int>(n);
  orv::MArray<double, 1> jd(count), fl(count), er(count);
  for (int i = 1; i <= count; ++i) {
    jd(i) = records[3 * (i - 1)];
    fl(i) = records[3 * (i - 1) + 1];
    er(i) = records[3 * (i - 1) + 2];
  }
  lc.length = count;
  lc.has_data = count > 0;
  lc.JD.makeReference(jd);
  lc.flux.makeReference(fl);
  lc.error.makeReference(er);
  lc.weights.makeReference(filled(count, 0.0));
  lc.nchi.makeReference(filled(count, 0.0));
  lc.boxval.makeReference(filled(count, 0.0));
  lc.filename.makeReference(filled(count, std::string(kNoFileInformation)));
}

void Lightcurve::read_binary(std::string file, bool magnitudes_) {
  readRaw<double>(*this, file, magnitudes_);
}

void Lightcurve::read_binary_float(std::string file, bool magnitudes_) {
  readRaw<float>(*this, file, magnitudes_);
}

void Lightcurve::write(std::string file, bool nchi_, bool boxval_, bool filename_, bool header) {
  if (!has_data || length < 1) {
    std::cout << "lightcurve contains no data points" << std::endl;
    return;
  }
  std::ofstream out;
  if (!openForWriting(out, file)) return;
  Line l;
  if (header) {
    l.str("#\n# lightcurve parameters:\n#\n");
    l.str("# M_star:      ").num(M_star, 6).end();
    l.str("# R_star:      ").num(R_star, 6).end();
    l.str("# gamma1:      ").num(gamma1, 6).end();
    l.str("# gamma2:      ").num(gamma2, 6).end();
    l.str("# R_planet:    ").num(R_planet, 6).end();
    l.str("# inclination: ").num(inclination, 6).end();
    l.str("# period:      ").num(period, 12).end();
    l.str("# t0:          ").num(t0, 14).end();
    l.str("# drop:        ").num(drop, 6).end();
    l.str("# noise:       ").num(noise, 6).end();
    l.str("# rednoise:    ").num(rednoise, 6).end();
    l.str("#\n");
    if (removed_ok)
      l.str("# rms of lightcurve:            ").num(getRms_removed(), 6).end();
    else
      l.str("# rms of lightcurve:            0.\n");
    l.str("# signal-to-noise ratio:        ").num(SNR, 6).end();
    l.str("# fractional transit length:    ").num(tau, 6).end();
    l.str("# number of transits:           ").integer(number_transits).end();
    if (number_transits < 1) {
      l.str("# number of trasint datapoints: 0\n");
    } else {
      l.str("# number of trasint datapoints: ").integer(number_transit_points).str(" ( ");
      for (int k = 1; k <= number_transits; ++k) {
        if (k > 1) l.str(", ");
        const bool known = !points_per_transit.isEmpty() && k <= points_per_transit.last(1);
        l.integer(known ? points_per_transit(k) : 0);
      }
      l.str(" )\n");
    }
    l.str("#\n#\n");
  }
  l.str("#      date           flux          error ").str(optionalHeads(nchi_, boxval_, filename_)).end();
  l.str("#\n");
  for (int i = 1; i <= length; ++i) {
    l.num(JD(i), 16, 14).str("    ").num(flux(i), 10, 8).str("    ").num(error(i), 10, 8).str("  ");
    if (nchi_) l.num(nchi(i), 10, 8).str("  ");
    if (boxval_) l.num(boxval(i), 10, 8).str("  ");
    if (filename_) l.name(filename(i)).str("  ");
    l.end();
    if (l.text().size() > (1 << 16)) {
      out << l.text();
      l.text().clear();
    }
  }
  out << l.text();
}

void Lightcurve::write_nonoise(std::string file, bool magnitudes_, bool) {
  if (!nonoise_ok) {
    std::cout << "error: nonoise lightcurve not available!" << std::endl;
    return;
  }
  std::ofstream out;
  if (!openForWriting(out, file)) return;
  Line l;
  l.str("#   date         flux         error \n#\n");
  for (int i = 1; i <= length; ++i)
    l.num(JD(i), 10, 18).str("    ").num(magnitudes_ ? flux2mag(nonoise(i)) : nonoise(i), 10, 8).end();
  out << l.text();
}

void Lightcurve::write_removed(std::string file, bool magnitudes_, bool) {
  if (!removed_ok) {
    std::cout << "error: transits have not yet been removed!" << std::endl;
    return;
  }
  std::ofstream out;
  if (!openForWriting(out, file)) return;
  Line l;
  l.str("#   date         flux         error \n#\n");
  for (int i = 1; i <= length; ++i) {
    const double r = removed(i), e = error(i);
    const double f = magnitudes_ ? flux2mag(r) : r;
    const double ef = magnitudes_ ? (flux2mag(r - e) - flux2mag(r + e)) / 2 : e;
    l.num(JD(i), 10, 18).str("    ").num(f, 10, 8).str("    ").num(ef, 10, 8).str("  ").end();
  }
  out << l.text();
}

void Lightcurve::write_SR(std::string file, bool) {
  if (!boxfitted) {
    std::cout << "no SR-spectrum available!" << std::endl;
    return;
  }
  std::ofstream out;
  if (!openForWriting(out, file)) return;
  Line l;
  l.str("#        1/p             SR\n#\n");
  for (int k = 1; k <= SR.length(1); ++k) l.num(frequency(k), 10).str(" ").num(SR(k), 16, 10).end();
  out << l.text();
}

// One line per phased point: phase, flux and error, then the optional columns.
static void writePhasedRows(std::ofstream& out, const Lightcurve& lc, bool nchi, bool boxval, bool filename) {
  Line l;
  for (int k = 1; k <= lc.phased_length; ++k) {
    l.num(lc.phase(k), 10, 8).str("    ").num(lc.phased_flux(k), 10, 8).str("    ");
    l.num(lc.phased_error(k), 10, 8).str("  ");
    if (nchi) l.num(phasedValue(lc.phased_nchi, k), 10, 8).str("  ");
    if (boxval) l.num(phasedValue(lc.phased_boxval, k), 10, 8).str("  ");
    if (filename) l.name(phasedName(lc.phased_filename, k)).str("  ");
    l.end();
  }
  out << l.text();
}

void Lightcurve::write_folded(std::string file, bool nchi_, bool boxval_, bool filename_, bool) {
  if (!folded) {
    std::cout << "lightcurve has not been folded, yet!" << std::endl;
    return;
  }
  std::ofstream out;
  if (!openForWriting(out, file)) return;
  Line l;
  l.str("#   date         flux         error ").str(optionalHeads(nchi_, boxval_, filename_)).end();
  l.str("#\n");
  out << l.text();
  writePhasedRows(out, *this, nchi_, boxval_, filename_);
}

void Lightcurve::boxedCurve__(int i, bool magnitudes_, bool boxval_, int nbins, Stopwatch& watch) {
  fold(period_box(i), t0_box(i));
  watch.lap("folding");
  if (nbins != 0) binning_phased(nbins);
  watch.lap("binning");
  if (boxval_) {
    const double lo = 0.4999 - tau_box(i) / 2, hi = 0.5001 + tau_box(i) / 2;
    const double low = magnitudes_ ? flux2mag(L_box(i)) : L_box(i);
    const double high = magnitudes_ ? flux2mag(H_box(i)) : H_box(i);
    orv::MArray<double, 1> box(phased_length);
    for (int k = 1; k <= phased_length; ++k) box(k) = (lo <= phase(k) && phase(k) <= hi) ? low : high;
    phased_boxval.makeReference(box);
    if (magnitudes_)
      for (int k = 1; k <= phased_length; ++k) {
        const double f = phased_flux(k), e = phased_error(k);
        phased_error(k) = (flux2mag(f - e) - flux2mag(f + e)) / 2;
        phased_flux(k) = flux2mag(f);
      }
  }
  watch.lap("calculationg boxval");
}

void Lightcurve::write_boxed(std::string file, int i, bool magnitudes_, bool nchi_, bool filename_,
                             bool boxval_, int nbins, bool header) {
  if (!requireFoundPeak__(i)) return;
  Stopwatch watch("write_boxed");
  watch.start();
  std::ofstream out;
  if (!openForWriting(out, file)) return;
  Line l;
  if (header) {
    l.str("# SDE = ").num(SDE(i), 8).str(", p = ").num(period_box(i), 8).str(", t0 = ").num(t0_box(i), 18);
    l.str(", tau = ").num(tau_box(i), 8).str(" filename = ").str(source_file).end();
    l.str("#\n");
  }
  l.str("#   phase        flux         error ").str(optionalHeads(nchi_, boxval_, filename_)).end();
  l.str("#\n");
  out << l.text();
  watch.lap("writing header");
  boxedCurve__(i, magnitudes_, boxval_, nbins, watch);
  writePhasedRows(out, *this, nchi_, boxval_, filename_);
  out.close();
  watch.stop("writing table");
}
