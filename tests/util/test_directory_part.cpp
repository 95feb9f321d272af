// Paths split at their last '/': the directory part, and the derived name that puts a prefix on
// the file-name part.
#include <gtest/gtest.h>

#include <string>

#include "util/derived_name.h"
#include "util/directory_part.h"

namespace {

struct PathCase {
  const char* path;
  const char* directory;  // directoryPart(path)
  const char* derived;    // derivedName(path, "cut_")
};

class PathSplit : public testing::TestWithParam<PathCase> {};

TEST_P(PathSplit, DirectoryPartAndDerivedName) {
  const PathCase& c = GetParam();
  EXPECT_EQ(util::directoryPart(c.path), c.directory);
  EXPECT_EQ(util::derivedName(c.path, "cut_"), c.derived);
}

INSTANTIATE_TEST_SUITE_P(Paths, PathSplit,
                         testing::Values(PathCase{"", "", "cut_"}, PathCase{"img.fits", "", "cut_img.fits"},
                                         PathCase{"d/img.fits", "d/", "d/cut_img.fits"},
                                         PathCase{"./img.fits", "./", "./cut_img.fits"},
                                         PathCase{"/img.fits", "/", "/cut_img.fits"},
                                         PathCase{"/a/b/img.fits", "/a/b/", "/a/b/cut_img.fits"},
                                         PathCase{"a//img.fits", "a//", "a//cut_img.fits"},
                                         PathCase{"d/", "d/", "d/cut_"}, PathCase{"/", "/", "/cut_"}));

}  // namespace
