// Tests that every fitting method writes exactly the files the run plans for it, at every
// verbosity: the plan is what the output check compares with the inputs before anything is
// written, so a file missing from it could overwrite an input unchecked.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <list>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tarvole/fit_abs_binspline.h"
#include "tarvole/fit_dia.h"
#include "tarvole/fit_fielddia.h"
#include "tarvole/method_choice.h"
#include "tarvole/options.h"
#include "tarvole/output_check.h"
#include "tarvole/row_sky.h"
#include "tarvole/sky_new.h"
#include "tarvole/very_new.h"
#include "tests/tarvole/tarvole_fixtures.h"
#include "util/directory_part.h"

namespace {

using tarvole_test::Image;
using test_support::ScratchDir;

constexpr int n = 400;
const char* const inputs[] = {"R.fits", "I.fits", "e.R.fits", "e.I.fits", "stars.txt"};

// A 400² star field with a galaxy at the centre and I = R/0.8 + 50 + a plane, their error
// images and a table of the stars, made once.
const std::string& scene_dir() {
  static const std::string dir = [] {
    const std::string made = test_support::programScratchDir("planned_outputs_scene");
    std::vector<std::pair<double, double>> stars;
    const Image R = tarvole_test::sky_reference(n, 200, 200, 41, 1.0, 200.0, &stars);
    Image I(n, n), error(n, n);
    for (int y = 1; y <= n; ++y)
      for (int x = 1; x <= n; ++x) I(x, y) = static_cast<float>(R(x, y) / 0.8 + 50.0 + 0.01 * (x - 200));
    error = 3.0f;
    orv::writeFitsImage(made + "R.fits", tarvole_test::with_noise(R, 42, 3.0));
    orv::writeFitsImage(made + "I.fits", tarvole_test::with_noise(I, 43, 3.0));
    orv::writeFitsImage(made + "e.R.fits", error);
    orv::writeFitsImage(made + "e.I.fits", error);
    std::ofstream table(made + "stars.txt");
    for (std::size_t k = 0; k < stars.size(); ++k)
      table << k + 1 << " " << stars[k].first << " " << stars[k].second << "\n";
    return made;
  }();
  return dir;
}

// The run parameters and file arguments the program takes from these argument words.
Pliste parsed(const std::string& arguments, std::list<std::string>& files) {
  std::vector<std::string> words{"tarvole"};
  std::istringstream in(arguments);
  for (std::string word; in >> word;) words.push_back(word);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  Pliste P;
  testing::internal::CaptureStdout();
  const int status = read_run_options(static_cast<int>(argv.size()), argv.data(), P, files);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, -1) << arguments;
  P.refdir = util::directoryPart(files.front());
  return P;
}

struct MethodCase {
  const char* method;  // the name of its row in the choice table
  const char* flags;   // options that choose it (and its reference step where it has one)
  // The planned outputs of its header; fit_abs_sky's row names none.
  void (*outputs)(const Pliste& P, std::vector<std::string>& names);
};

class MethodOutputs : public testing::TestWithParam<MethodCase> {};

// Run in a directory of its own with error images at verbosities 0 to 3: the files that appear
// are the run's plan, with the method's share from its own planned-outputs function.
TEST_P(MethodOutputs, WrittenFilesAreThePlannedOnes) {
  const MethodCase& c = GetParam();
  for (int verbose = 0; verbose <= 3; ++verbose) {
    SCOPED_TRACE("-v " + std::to_string(verbose));
    ScratchDir dir;
    for (const char* name : inputs) std::filesystem::copy_file(scene_dir() + name, dir / name);
    const std::string arguments = std::string(c.flags) + " -e -v " + std::to_string(verbose) +
                                  " -r 1:400,1:400 -i 20 -a 10 -g 200,200 R.fits I.fits";
    const auto run = tarvole_test::run_tarvole(dir.path, arguments);
    ASSERT_EQ(run.status, 0) << arguments << "\n" << run.err << run.out;

    std::list<std::string> files;
    const Pliste P = parsed(arguments, files);
    MethodRow row = choose_method(P);
    EXPECT_STREQ(row.name, c.method);
    EXPECT_EQ(row.outputs, c.outputs);
    row.outputs = c.outputs;
    const std::vector<std::string> plan =
        planned_outputs(P, std::list<std::string>(std::next(files.begin()), files.end()), row);
    const std::set<std::string> planned(plan.begin(), plan.end());

    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
      const std::string name = entry.path().filename();
      if (std::find(std::begin(inputs), std::end(inputs), name) == std::end(inputs)) written.insert(name);
    }
    EXPECT_EQ(written, planned);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Methods, MethodOutputs,
    testing::Values(MethodCase{"fit_dia", "--ref -d -t stars.txt", fit_dia_outputs},
                    MethodCase{"fit_fielddia", "--ref --fielddiffima", fit_fielddia_outputs},
                    MethodCase{"fit_fielddiaY", "--fielddiffimaY", fit_fielddiaY_outputs},
                    MethodCase{"sky_new", "-s", sky_new_outputs},
                    MethodCase{"fit_abs_binspline", "-m", fit_abs_binspline_outputs},
                    MethodCase{"very_new", "-w", very_new_outputs}, MethodCase{"fit_abs_sky", "", nullptr}),
    [](const testing::TestParamInfo<MethodCase>& info) { return std::string(info.param.method); });

}  // namespace
