// Scratch directories and temporary files of the tests, removed again when they are done with.
#ifndef TESTS_SUPPORT_SCRATCH_DIR_H
#define TESTS_SUPPORT_SCRATCH_DIR_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/text_file.h"

namespace test_support {

// Where scratch directories go: memory (/dev/shm) where the system offers it, since the FITS
// writer syncs every file and that costs nothing there; else gtest's temporary directory.
inline std::string scratchBase() {
  return std::filesystem::is_directory("/dev/shm") ? "/dev/shm/" : ::testing::TempDir();
}

// A fresh directory, named after tag and made unique by mkdtemp, removed with everything in it
// when the object goes. path ends in '/', so that path + name (or dir / name) names a file in it.
struct ScratchDir {
  explicit ScratchDir(const std::string& tag = "orv_test") {
    std::string pattern = scratchBase() + tag + "_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create a scratch directory " << pattern;
    path = pattern + "/";
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    // The child of a death test that leaves through exit() must not take its parent's files.
    if (getpid() != owner) return;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }

  std::string operator/(const std::string& name) const { return path + name; }

  std::string path;
  const pid_t owner = getpid();
};

// A fresh directory (path ending in '/') that stays until the test program ends: for fixtures
// that several tests share and for tests that make it their working directory.
inline std::string programScratchDir(const std::string& tag = "orv_test") {
  static std::vector<std::unique_ptr<ScratchDir>> made;
  made.push_back(std::make_unique<ScratchDir>(tag));
  return made.back()->path;
}

// The path of a file called name in a scratch directory of this test program (one per process,
// so that test programs running at once keep apart); removed when the program ends.
inline std::string tempPath(const std::string& name) {
  static const std::string dir = programScratchDir("orv_files");
  return dir + name;
}

// The names in a directory, hidden ones too: what a run left there.
inline std::set<std::string> namesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

// A file of the given content at tempPath(name), removed when the object goes.
struct TempFile {
  TempFile(const std::string& name, const std::string& content) : path(tempPath(name)) {
    writeText(path, content);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { std::remove(path.c_str()); }

  std::string path;
};

}  // namespace test_support

#endif
