// Star fields for the PSF benchmarks: a reference script writes the field into
// a scratch directory and prints "name seconds" lines for its own timings.
#ifndef BENCH_PSF_BENCH_FIELD_H
#define BENCH_PSF_BENCH_FIELD_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "orv/fits/fits.h"
#include "psf/korven_lib.h"

struct BenchStarField {
  orv::MArray<float, 2> image, error;
  std::vector<double> x, y;
  std::map<std::string, double> referenceSeconds;
};

// Runs bench/<script> with the directory and the extra arguments and returns
// the "name value" lines it printed.
inline std::map<std::string, double> runScriptIn(const std::string& script, const std::string& dir,
                                                 const std::string& extra) {
  std::map<std::string, double> values;
  std::system(("mkdir -p " + dir).c_str());
  const std::string command = "/usr/bin/python3 " ORV_SOURCE_DIR "/bench/" + script + " " + dir + " " + extra;
  FILE* pipe = popen(command.c_str(), "r");
  char line[256];
  while (pipe && std::fgets(line, sizeof line, pipe)) {
    std::istringstream in(line);
    std::string name;
    double value;
    if (in >> name >> value) values[name] = value;
  }
  if (pipe) pclose(pipe);
  return values;
}

// Runs bench/<script> with a fresh directory and the extra arguments, reads the
// image.fits, error.fits and stars.txt it wrote there, and removes it.
inline BenchStarField runReferenceScript(const std::string& script, const std::string& extra = "") {
  BenchStarField out;
  const std::string dir = "/tmp/orv_bench_" + script + "_" + std::to_string(getpid());
  out.referenceSeconds = runScriptIn(script, dir, extra);
  orv::FitsIn image(dir + "/image.fits");
  image >> out.image;
  orv::FitsIn error(dir + "/error.fits");
  error >> out.error;
  std::ifstream stars(dir + "/stars.txt");
  double x, y;
  while (stars >> x >> y) {
    out.x.push_back(x);
    out.y.push_back(y);
  }
  std::system(("rm -rf " + dir).c_str());
  return out;
}

// The fields' Gaussian (sigma 1.2 px) on a fine grid of 7 cells per pixel
// (R = B = 6), summing to 1, with small errors so that the chi statistics
// follow the noise, tabulated for P = 5.
inline psf benchFieldPsf() {
  psf q(6, 6, 7, 0);
  std::ostringstream sink;
  std::streambuf* old = std::cout.rdbuf(sink.rdbuf());
  q.generate_gauss(2.3548200450309493 * 1.2, 2.3548200450309493 * 1.2, 0.0, 0);
  q.normalize_psf();
  orv::MArray<double, 2> cellErrors = q.get_epsf();
  cellErrors = 1e-5;
  q.calc_base(5, 0);
  std::cout.rdbuf(old);
  return q;
}

#endif
