// Tests the FITS-table writers: read back with astropy, checked by fitsverify.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "lightcurve/pellib.h"
#include "tests/lightcurve/lightcurve_fixtures.h"
#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;
using lightcurve_test::pyList;

using test_support::tempPath;

std::unique_ptr<Lightcurve> curve() {
  std::vector<double> jd, fl, er;
  for (int i = 0; i < 30; ++i) {
    jd.push_back(2454321.123456789 + 0.37 * i);
    fl.push_back(1.0 + 0.001 * ((i * 7) % 5) - (i % 9 == 0 ? 0.01 : 0.0));
    er.push_back(0.001 + 0.0001 * (i % 4));
  }
  auto lc = std::make_unique<Lightcurve>(arrayOf(jd), arrayOf(fl), arrayOf(er));
  for (int i = 1; i <= 30; ++i) {
    lc->nchi(i) = 1.0 + 0.1 * i;
    lc->boxval(i) = 0.5 * i;
  }
  return lc;
}

// astropy's view of each table file: EXTNAME, then name, TFORM, TUNIT and
// values of each column (values one per line, every digit); one entry per file.
std::vector<std::string> astropyTables(const std::vector<std::string>& paths) {
  const std::string script = tempPath("read.py");
  std::ofstream(script) << "import sys\nfrom astropy.io import fits\nfor name in sys.argv[1:]:\n"
                           "  h=fits.open(name)\n"
                           "  print(len(h), h[1].header['EXTNAME'], h[1].header.get('EXTVER', 1))\n"
                           "  for c in h[1].columns:\n    print(c.name, c.format, c.unit, len(h[1].data))\n"
                           "    for v in h[1].data[c.name]: print(repr(float(v)))\n"
                           "  print('==')\n";
  std::string command = test_support::pythonCommand(script), text;
  for (const std::string& p : paths) command += " " + p;
  test_support::runCommand(command, &text);
  std::remove(script.c_str());
  std::vector<std::string> views = lightcurve_test::sections(text, "==");
  views.pop_back();
  return views;
}

// A copy of the file under another name.
void copyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
}

// The expected view: columns of doubles ("D") or float32 values ("E").
std::string expectedTable(const std::vector<std::pair<std::string, std::vector<double>>>& columns,
                          int doubleColumn) {
  std::ostringstream out;
  out.precision(17);
  out << "2 TABLE_BINARY 1\n";
  for (size_t c = 0; c < columns.size(); ++c) {
    const bool isDouble = static_cast<int>(c) == doubleColumn;
    out << columns[c].first << " " << (isDouble ? "D" : "E") << " none " << columns[c].second.size() << "\n";
    for (double v : columns[c].second) {
      const double stored = isDouble ? v : static_cast<double>(static_cast<float>(v));
      std::ostringstream num;
      num.precision(17);
      num << stored;
      out << num.str() << "\n";
    }
  }
  return out.str();
}

// Compares the two views word by word: numbers by value, other words as text.
void expectSameTable(const std::string& got, const std::string& want) {
  std::istringstream a(got), b(want);
  std::string x, y;
  int word = 0;
  while (b >> y) {
    ++word;
    ASSERT_TRUE(a >> x) << "missing word " << word << " (" << y << ")";
    char* endX = nullptr;
    char* endY = nullptr;
    const double vx = std::strtod(x.c_str(), &endX), vy = std::strtod(y.c_str(), &endY);
    if (*endX == '\0' && *endY == '\0' && endY != y.c_str())
      ASSERT_EQ(vx, vy) << "word " << word;
    else
      ASSERT_EQ(x, y) << "word " << word;
  }
  EXPECT_FALSE(a >> x) << "extra word " << x;
}

std::vector<double> values(const orv::MArray<double, 1>& a, int n) { return lightcurve_test::vectorOf(a, n); }

int fitsverifyCounts(const std::string& path, int* warnings) {
  std::string report;
  test_support::fitsverifyReport(path, &report);
  int errors = -1;
  const size_t at = report.find("Verification found");
  if (at != std::string::npos)
    std::sscanf(report.c_str() + at, "Verification found %d warning(s) and %d error(s)", warnings, &errors);
  return errors;
}

TEST(LightcurveWriteFits, TablesReadBack) {
  std::unique_ptr<Lightcurve> lc = curve();
  const std::string path = tempPath("table.fits");
  struct Case {
    const char* label;
    std::function<void()> write;
    std::function<std::vector<std::pair<std::string, std::vector<double>>>()> columns;
    int doubleColumn, warnings;
  };
  const Case cases[] = {
      {"curve, all columns", [&] { lc->write_binary(path, true, true, false, false); },
       [&] {
         return std::vector<std::pair<std::string, std::vector<double>>>{{"JD", values(lc->JD, 30)},
                                                                         {"flux", values(lc->flux, 30)},
                                                                         {"error", values(lc->error, 30)},
                                                                         {"nchi", values(lc->nchi, 30)},
                                                                         {"boxval", values(lc->boxval, 30)}};
       },
       0, 0},
      {"curve, box values alone", [&] { lc->write_binary(path, false, true, true, true); },
       [&] {
         return std::vector<std::pair<std::string, std::vector<double>>>{{"JD", values(lc->JD, 30)},
                                                                         {"flux", values(lc->flux, 30)},
                                                                         {"error", values(lc->error, 30)},
                                                                         {"boxval", values(lc->boxval, 30)}};
       },
       0, 0},
      {"folded",
       [&] {
         lc->fold(2.1, 2454321.5);
         lc->write_folded_binary(path, true, false, false, false);
       },
       [&] {
         return std::vector<std::pair<std::string, std::vector<double>>>{
             {"phase", values(lc->phase, 30)},
             {"flux", values(lc->phased_flux, 30)},
             {"error", values(lc->phased_error, 30)},
             {"nchi", values(lc->phased_nchi, 30)}};
       },
       -1, 0},
      {"SR spectrum",
       [&] {
         lc->boxfitting(40, 1.5, 4.0, 0.02, 0.2, 0);
         lc->write_SR_binary(path, false);
       },
       [&] {
         return std::vector<std::pair<std::string, std::vector<double>>>{{"1/p", values(lc->frequency, 40)},
                                                                         {"SR", values(lc->SR, 40)}};
       },
       -1, 1},
  };
  // Each case writes the same file name (replacing the table before), checked
  // by fitsverify; a copy of each goes to astropy in one run at the end.
  std::vector<std::string> copies;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(captured(c.write), "");
    expected.push_back(expectedTable(c.columns(), c.doubleColumn));
    int warnings = -1;
    EXPECT_EQ(fitsverifyCounts(path, &warnings), 0);
    EXPECT_EQ(warnings, c.warnings);
    copies.push_back(path + "." + std::to_string(copies.size()));
    copyFile(path, copies.back());
  }
  // The boxed table prints the stopwatch laps.
  const std::string out =
      captured([&] { lc->write_boxed_binary(path, 1, false, true, false, true, 5, false); });
  for (const char* lap : {"folding", "binning", "calculationg boxval", "writing table"})
    EXPECT_NE(out.find(lap), std::string::npos) << lap;
  EXPECT_EQ(lc->phased_length, 5);
  expected.push_back(expectedTable({{"phase", values(lc->phase, 5)},
                                    {"flux", values(lc->phased_flux, 5)},
                                    {"error", values(lc->phased_error, 5)},
                                    {"nchi", values(lc->phased_nchi, 5)},
                                    {"boxval", values(lc->phased_boxval, 5)}},
                                   -1));
  int warnings = -1;
  EXPECT_EQ(fitsverifyCounts(path, &warnings), 0);
  EXPECT_EQ(warnings, 0);
  copies.push_back(path);
  const std::vector<std::string> views = astropyTables(copies);
  ASSERT_EQ(views.size(), expected.size());
  for (size_t k = 0; k < views.size(); ++k) {
    SCOPED_TRACE(testing::Message() << "table " << k);
    expectSameTable(views[k], expected[k]);
  }
  for (const std::string& p : copies) std::remove(p.c_str());
}

TEST(LightcurveWriteFits, Refusals) {
  Lightcurve empty;
  const std::string path = tempPath("never.fits");
  struct Case {
    const char* label;
    std::function<void()> call;
    std::string message;
  };
  const Case cases[] = {
      {"binary", [&] { empty.write_binary(path, true, true, false, false); },
       "lightcurve contains no data points\n"},
      {"folded", [&] { empty.write_folded_binary(path, false, false, false, false); },
       "lightcurve has not been folded, yet!\n"},
      {"SR", [&] { empty.write_SR_binary(path, false); }, "no SR-spectrum available!\n"},
      {"boxed", [&] { empty.write_boxed_binary(path, 1, false, false, false, true, 0, false); },
       "no boxed-lightcurve available!\n"},
      {"nonoise", [&] { empty.write_nonoise_binary(path, true, false); },
       "error: nonoise lightcurve not available!\n"},
      {"removed", [&] { empty.write_removed_binary(path, true, false); },
       "error: transits have not yet been removed!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(captured(c.call), c.message);
    EXPECT_FALSE(std::ifstream(path).good());
  }
  // With their curves present these two still write no file, and say so
  // whichever way their flag is set.
  empty.nonoise_ok = empty.removed_ok = true;
  for (const bool flag : {true, false}) {
    SCOPED_TRACE(testing::Message() << "flag " << flag);
    EXPECT_EQ(captured([&] { empty.write_nonoise_binary(path, flag, false); }),
              "error: FITS table of the nonoise lightcurve not implemented!\n");
    EXPECT_EQ(captured([&] { empty.write_removed_binary(path, flag, false); }),
              "error: FITS table of the removed lightcurve not implemented!\n");
    EXPECT_FALSE(std::ifstream(path).good());
  }
}

TEST(LightcurveWriteFitsDeathTest, MissingDirectoryEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::unique_ptr<Lightcurve> lc = curve();
  const std::string bad = ::testing::TempDir() + "no_such_dir_lc/t.fits";
  EXPECT_EXIT(lc->write_binary(bad, false, false, false, false), testing::ExitedWithCode(255),
              "error: cannot open file " + bad + " for writing");
  lc->fold(2.0);
  EXPECT_EXIT(lc->write_folded_binary(bad, false, false, false, false), testing::ExitedWithCode(255),
              "error: cannot open file " + bad + " fits for writing");
}

}  // namespace
