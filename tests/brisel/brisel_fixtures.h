// Fixtures of the overlap cutter tests: test images made and checked by the astropy image
// script, and snapshots of a directory's files.
#ifndef TESTS_BRISEL_BRISEL_FIXTURES_H
#define TESTS_BRISEL_BRISEL_FIXTURES_H

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"

namespace brisel_test {

// One test image: its size, reference pixel, data type and further header cards (a JSON
// fragment such as "\"CD1_1\": null, \"CDELT1\": -1e-4"; null removes a default card).
struct TestImage {
  std::string name;
  int nx = 100, ny = 100;
  double crpix1 = 50, crpix2 = 50;
  int bitpix = -32;
  double bscale = 1, bzero = 0;  // the stored values scaled to the physical ones
  int errorBitpix = 0;           // 0: no error image "e."+name
  std::string cards;
  // Integer images: the BLANK value that some pixels of the image, or of its error image, hold.
  std::optional<long> blank, errorBlank;
};

inline std::string imagesJson(const std::vector<TestImage>& images) {
  std::ostringstream json;
  json.precision(17);
  json << "[";
  for (size_t i = 0; i < images.size(); ++i) {
    const TestImage& image = images[i];
    json << (i ? ", " : "") << "{\"name\": \"" << image.name << "\", \"nx\": " << image.nx
         << ", \"ny\": " << image.ny << ", \"bitpix\": " << image.bitpix << ", \"bscale\": " << image.bscale
         << ", \"bzero\": " << image.bzero << ", \"seed\": " << i + 1
         << ", \"cards\": {\"CRPIX1\": " << image.crpix1 << ", \"CRPIX2\": " << image.crpix2
         << (image.cards.empty() ? "" : ", ") << image.cards << "}";
    if (image.errorBitpix != 0) json << ", \"error_bitpix\": " << image.errorBitpix;
    if (image.blank) json << ", \"blank\": " << *image.blank;
    if (image.errorBlank) json << ", \"error_blank\": " << *image.errorBlank;
    json << "}";
  }
  json << "]";
  return json.str();
}

// Runs the image script with a command ("make" or "check") on the images of dir that the JSON
// text describes; returns its exit status, and in output what it printed.
inline int runImageScript(const std::string& command, const std::string& dir, const std::string& json,
                          std::string* output) {
  const std::string jsonFile = test_support::tempPath(command + ".json");
  test_support::writeText(jsonFile, json);
  const int status =
      test_support::runCommand(test_support::pythonCommand(ORV_SOURCE_DIR "/tests/brisel/brisel_images.py " +
                                                           command + " " + dir + " " + jsonFile + " 2>&1"),
                               output);
  std::filesystem::remove(jsonFile);
  return status;
}

// Image sets by subdirectory of dir ("." for dir itself), made with one start of python.
using ImageSets = std::vector<std::pair<std::string, std::vector<TestImage>>>;

inline void makeImages(const std::string& dir, const ImageSets& sets) {
  std::string json = "{";
  for (size_t i = 0; i < sets.size(); ++i)
    json += (i ? ", \"" : "\"") + sets[i].first + "\": " + imagesJson(sets[i].second);
  std::string output;
  ASSERT_EQ(runImageScript("make", dir, json + "}", &output), 0) << output;
}

// The name of a case as a test name and a directory name: blanks and hyphens become underscores.
inline std::string caseName(std::string name) {
  for (char& c : name)
    if (c == ' ' || c == '-') c = '_';
  return name;
}

// The case names (the part after the last '/') of the tests of the running suite that this
// test program runs, so that a suite makes only the images of those (ctest runs one per program).
inline std::set<std::string> runningCases() {
  std::set<std::string> running;
  const testing::TestSuite* suite = testing::UnitTest::GetInstance()->current_test_suite();
  for (int i = 0; suite != nullptr && i < suite->total_test_count(); ++i) {
    if (!suite->GetTestInfo(i)->should_run()) continue;
    const std::string name = suite->GetTestInfo(i)->name();
    running.insert(name.substr(name.rfind('/') + 1));
  }
  return running;
}

// A parameterised table of cases, each with a name and its images, made by cases(). The images
// of the cases this test program runs are made once, with one start of python, each case in
// the subdirectory caseName(name) of scratch.
template <class Case, std::vector<Case> (*cases)()>
class ImageCaseTable : public testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    scratch = test_support::programScratchDir("brisel_test");
    const std::set<std::string> running = runningCases();
    ImageSets sets;
    for (const Case& c : cases())
      if (running.count(caseName(c.name))) sets.emplace_back(caseName(c.name), c.images);
    makeImages(scratch, sets);
  }
  static inline std::string scratch;
};

// Every regular file below a directory (by its path relative to the directory) with its contents.
inline std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
    if (entry.is_regular_file())
      files[std::filesystem::relative(entry.path(), dir).string()] =
          test_support::readText(entry.path().string());
  return files;
}

// Names of the files added, removed or changed between two snapshots.
inline std::set<std::string> changedFiles(const std::map<std::string, std::string>& before,
                                          const std::map<std::string, std::string>& after) {
  std::set<std::string> changed;
  for (const auto& [name, contents] : after) {
    auto old = before.find(name);
    if (old == before.end() || old->second != contents) changed.insert(name);
  }
  for (const auto& [name, contents] : before)
    if (after.count(name) == 0) changed.insert(name);
  return changed;
}

}  // namespace brisel_test

#endif
