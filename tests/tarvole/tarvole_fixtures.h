// Fixtures of the sky program's tests: header cards, runs of the program with their output and
// status, and synthetic scenes (noisy image pairs, and a star field with a galaxy for the
// methods that fit over the whole field).
#ifndef TESTS_TARVOLE_TARVOLE_FIXTURES_H
#define TESTS_TARVOLE_TARVOLE_FIXTURES_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "numerics/random.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_image.h"
#include "orv/marray.h"
#include "tests/support/program_run.h"
#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"

namespace tarvole_test {

using Image = orv::MArray<float, 2>;

inline bool exists(const std::string& name) { return std::filesystem::exists(name); }

// Every regular file directly in dir with its contents, to check after a run that none changed.
inline std::vector<std::pair<std::string, std::string>> file_contents(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file()) files.emplace_back(entry.path(), test_support::readText(entry.path()));
  return files;
}

// The 80-character cards of a file's primary header, up to and including END.
inline std::vector<std::string> header_cards(const std::string& name) {
  const std::string text = test_support::readText(name);
  std::vector<std::string> cards;
  for (std::size_t at = 0; at + 80 <= text.size(); at += 80) {
    cards.push_back(text.substr(at, 80));
    if (text.compare(at, 8, "END     ") == 0) break;
  }
  return cards;
}

// The cards whose keyword begins the card, in header order.
inline std::vector<std::string> cards_named(const std::vector<std::string>& cards,
                                            const std::vector<std::string>& keys) {
  std::vector<std::string> found;
  for (const std::string& card : cards)
    for (const std::string& key : keys)
      if (card.compare(0, key.size(), key) == 0) found.push_back(card);
  return found;
}

// The value of the numeric card `key` in a file's primary header.
inline double card_value(const std::string& file, const std::string& key) {
  orv::FitsIn in(file, true, false);
  std::string padded = key;
  padded.resize(8, ' ');
  return in.getFloat(padded);
}

// The value and its error printed after `label` as "label value +/- error"; empty texts when
// the label is missing.
inline std::pair<std::string, std::string> value_and_error(const std::string& text,
                                                           const std::string& label) {
  const std::size_t at = text.find(label);
  if (at == std::string::npos) return {};
  std::istringstream in(text.substr(at + label.size()));
  std::string value, sign, error;
  in >> value >> sign >> error;
  return {value, error};
}

// A number written in fixed notation with exactly `decimals` decimals.
inline bool fixed_with_decimals(const std::string& number, std::size_t decimals) {
  const std::size_t dot = number.find('.');
  if (dot == std::string::npos || number.size() - dot - 1 != decimals) return false;
  return number.find_first_not_of("-0123456789.") == std::string::npos;
}

// One run of the program in a directory: its status, standard output and error stream.
using test_support::RunResult;

inline RunResult run_tarvole(const std::string& dir, const std::string& arguments) {
  return test_support::runProgram(dir, TARVOLE_EXE, arguments);
}

// A flat image with Gaussian noise, every pixel positive.
inline Image noisy(int nx, int ny, float level, float sigma, long& seed) {
  Image a(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) a(x, y) = level + sigma * static_cast<float>(rangau(seed));
  return a;
}

// A reference with a disc galaxy at (cx, cy) on a sky of 200, and an image of the same field
// I = R/0.8 + 50 + 0.01 (x - cx) - 0.005 (y - cy), both with noise and positive everywhere.
struct ImagePair {
  Image R, I;
};
// With `stars` > 0, that many Gaussian stars (sigma 1.5 pixels) are added to both.
inline ImagePair galaxy_pair(int nx, int ny, int cx, int cy, double scale, long seed, int stars = 0) {
  ImagePair p{Image(nx, ny), Image(nx, ny)};
  orv::MArray<double, 2> starlight(nx, ny);
  starlight = 0.0;
  for (int k = 0; k < stars; ++k) {
    const int sx = 1 + static_cast<int>(ran3(seed) * (nx - 1)),
              sy = 1 + static_cast<int>(ran3(seed) * (ny - 1));
    const double flux = 500.0 + 20000.0 * ran3(seed);
    for (int y = std::max(1, sy - 6); y <= std::min(ny, sy + 6); ++y)
      for (int x = std::max(1, sx - 6); x <= std::min(nx, sx + 6); ++x)
        starlight(x, y) +=
            flux / (2 * M_PI * 2.25) * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 4.5);
  }
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) {
      const double dx = x - cx, dy = y - cy;
      const double galaxy = 3000.0 * std::exp(-std::sqrt(dx * dx + 2.0 * dy * dy) / scale);
      const double r = 200.0 + galaxy + starlight(x, y);
      p.R(x, y) = static_cast<float>(r + 2.0 * rangau(seed));
      p.I(x, y) = static_cast<float>(r / 0.8 + 50.0 + 0.01 * dx - 0.005 * dy + 2.0 * rangau(seed));
    }
  return p;
}

// The small pair of the program-case tables: galaxy_pair of nx × ny (40 × 30 by default, centre
// 20, 15) written as ref and img in dir, and run options that fit its sampling grid inside it.
inline const std::string small_pair_fit = "-g 20,15 -r 3:38,3:28 -a 4 -i 5 ";
inline void write_small_pair(const test_support::ScratchDir& dir, const std::string& ref,
                             const std::string& img, int nx = 40, int ny = 30) {
  const auto pair = galaxy_pair(nx, ny, 20, 15, 5.0, -3);
  orv::writeFitsImage(dir / ref, pair.R);
  orv::writeFitsImage(dir / img, pair.I);
}

// A case description as a test name: every character but letters and digits becomes '_'.
inline std::string case_name(std::string what) {
  for (char& c : what)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return what;
}

// A reference without noise: sky 200, a disc galaxy with a bulge at (cx, cy) and stars of
// sigma 2 px. star_factor scales the stars only (for an image whose stars differ); the star
// centres go to `stars` when given.
inline Image sky_reference(int n, double cx, double cy, unsigned seed, double star_factor = 1.0,
                           double sky_level = 200.0,
                           std::vector<std::pair<double, double>>* stars = nullptr) {
  Image r(n, n);
  const double scale = n / 2048.0;
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) {
      const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
      r(x, y) = static_cast<float>(sky_level + 3000.0 * std::exp(-std::sqrt(r2) / (60.0 * scale)) +
                                   600.0 * std::exp(-r2 / (2 * std::pow(400.0 * scale, 2))));
    }
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> pos(1.0, n), flux(500.0, 20000.0);
  const int count = static_cast<int>(300 * scale * scale) + 5;
  for (int s = 0; s < count; ++s) {
    const double sx = pos(rng), sy = pos(rng), f = flux(rng) * star_factor / (2 * M_PI * 4.0);
    if (stars) stars->emplace_back(sx, sy);
    for (int y = std::max(1, int(sy) - 10); y <= std::min(n, int(sy) + 10); ++y)
      for (int x = std::max(1, int(sx) - 10); x <= std::min(n, int(sx) + 10); ++x)
        r(x, y) += static_cast<float>(f * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 8.0));
  }
  return r;
}

// The image a plus Gaussian noise of sigma · sqrt(max(value, 1) / 200).
inline Image with_noise(const Image& a, unsigned seed, double sigma) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0.0, 1.0);
  Image out(a.length(1), a.length(2));
  for (int y = 1; y <= a.last(2); ++y)
    for (int x = 1; x <= a.last(1); ++x)
      out(x, y) =
          static_cast<float>(a(x, y) + sigma * std::sqrt(std::max<double>(a(x, y), 1.0) / 200.0) * g(rng));
  return out;
}

}  // namespace tarvole_test

#endif
