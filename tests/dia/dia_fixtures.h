// Fixtures of the difference-imaging tests: the sky program's kernel model, small synthetic star
// fields, FITS files written and read back, and the python text of the kernel basis.
#ifndef TESTS_DIA_DIA_FIXTURES_H
#define TESTS_DIA_DIA_FIXTURES_H

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "dia/dia.h"
#include "orv/fits/fits_image.h"
#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"

namespace dia_test {

// A death-test pattern matching exactly the message and its line end.
inline std::string wholeMessage(const std::string& message) {
  std::string pattern = "^";
  for (char c : message) {
    if (std::string("()[]{}.*+?^$|\\").find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "\n$";
}

// Runs the body in a directory of its own and returns to the former working directory.
struct InDirectory {
  std::filesystem::path previous;
  explicit InDirectory(const std::string& dir) : previous(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InDirectory() { std::filesystem::current_path(previous); }
};

inline orv::MArray<int, 1> intArray(const std::vector<int>& v) {
  orv::MArray<int, 1> a(static_cast<int>(v.size()));
  for (int i = 1; i <= a.length(1); ++i) a(i) = v[i - 1];
  return a;
}

inline orv::MArray<double, 1> doubleArray(const std::vector<double>& v) {
  orv::MArray<double, 1> a(static_cast<int>(v.size()));
  for (int i = 1; i <= a.length(1); ++i) a(i) = v[i - 1];
  return a;
}

inline util::Region region(int x0, int x1, int y0, int y1) {
  util::Region r(2);
  r.setRange(1, x0, x1);
  r.setRange(2, y0, y1);
  return r;
}

// One stamp [x0 … x1] × [y0 … y1], as the sky program sets it before each fit.
inline void setStamp(diffima& e, int x0, int x1, int y0, int y1) {
  e.stampxy.makeReference(orv::MArray<int, 3>(orv::Range(1, 2), orv::Range(0, 1), orv::Range(1, 1)));
  e.stampxy(1, 0, 1) = x0, e.stampxy(1, 1, 1) = x1, e.stampxy(2, 0, 1) = y0, e.stampxy(2, 1, 1) = y1;
}

// The kernel model of the sky program.
struct Model {
  std::vector<int> d{6, 4, 2, 0};
  std::vector<double> sig{1.0, 3.0, 9.0, 0.1};
  int half[2] = {17, 17};
  int kern_order = 0;
  int bg_order = 0;
  int flux_basis = 1;
  double scale = 0.0;
  bool keep_zero_var = false;
};

inline diffima* makeEngine(const Model& m, const std::string& refpath) {
  return new diffima(intArray(m.d), doubleArray(m.sig), m.half, m.kern_order, m.bg_order, m.flux_basis,
                     m.scale, refpath, m.keep_zero_var);
}

// A star field nx × ny (index base 1): sky plus Gaussian stars of width 1.5 at fixed-seed
// positions, and its error image √value.
struct StarField {
  orv::MArray<float, 2> image;
  orv::MArray<float, 2> error;
  StarField(int nx, int ny, unsigned seed = 7, int stars = 40, double sky = 100.0) : image(nx, ny), error(nx, ny) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> ux(1, nx), uy(1, ny), flux(2000, 20000);
    std::vector<double> sx, sy, sf;
    for (int s = 0; s < stars; ++s) {
      sx.push_back(ux(gen));
      sy.push_back(uy(gen));
      sf.push_back(flux(gen));
    }
    for (int y = 1; y <= ny; ++y)
      for (int x = 1; x <= nx; ++x) {
        double v = sky;
        for (int s = 0; s < stars; ++s) {
          const double r2 = (x - sx[s]) * (x - sx[s]) + (y - sy[s]) * (y - sy[s]);
          if (r2 < 100) v += sf[s] / (2 * M_PI * 2.25) * std::exp(-r2 / (2 * 2.25));
        }
        image(x, y) = static_cast<float>(v);
        error(x, y) = static_cast<float>(std::sqrt(v));
      }
  }
};

// Number of files among those named (blank-separated) that fitsverify finds without warnings
// and errors, in one run.
inline int fitsverifyCleanCount(const std::string& files) {
  std::string report;
  test_support::runCommand("fitsverify " + files + " 2>&1", &report);
  int clean = 0;
  for (size_t at = 0; (at = report.find("found 0 warning(s) and 0 error(s)", at)) != std::string::npos; ++at) ++clean;
  return clean;
}

// Python text that rebuilds the basis images of a model from their formula: the function
// basis(d, sig, hx, hy, ko, fb, nbg) returns the list of images (y, x) in parameter order,
// after normalisation and the zero-sum rule.
inline const char* pythonBasis() {
  return R"(import numpy as np
def basis(d, sig, hx, hy, ko, fb, nbg):
  Y,X=np.mgrid[-hy:hy+1,-hx:hx+1].astype(float)
  inside=(X/(hx+0.5))**2+(Y/(hy+0.5))**2<1
  B=[];pos=[]
  for n in range(len(d)):
    for i in range(d[n]+1):
      for j in range(d[n]-i+1):
        b=np.where(inside,X**i*Y**j*np.exp(-(X*X+Y*Y)/(2*sig[n]**2)),0.0)
        p=nbg+len(B)+1
        s=0 if p==nbg+fb else ko
        for k in range((s+1)*(s+2)//2):
          B.append(b/np.abs(b).sum()); pos.append(bool((b>=0).all()))
  if fb>=1:
    f=B[fb-1].copy()
    for q in range(len(B)):
      if q!=fb-1 and pos[q]: B[q]=B[q]-f
  return B
)";
}

}  // namespace dia_test

#endif
