// Tests the derived file names (newname).
#include <gtest/gtest.h>

#include "tarvole/names.h"

namespace {

TEST(Names, PrefixBeforeTheFileNamePart) {
  struct Case {
    const char* name;
    const char* prefix;
    const char* expected;
  };
  const Case cases[] = {
      {"img.fits", "b", "bimg.fits"},
      {"data/run1/img.fits", "e.b", "data/run1/e.bimg.fits"},
      {"dir/", "x", "dir/x"},
      {"a/b", "", "a/b"},
      {"dir/img.fits", "b", "dir/bimg.fits"},
      {"dir/img.fits", "e.b", "dir/e.bimg.fits"},
      {"dir/img.fits", "e.", "dir/e.img.fits"},
      {"/abs/x.y/img", "sky-", "/abs/x.y/sky-img"},
      {"a\\b.fits", "p", "pa\\b.fits"},  // only '/' separates
  };
  for (const Case& c : cases) EXPECT_EQ(newname(c.name, c.prefix), c.expected) << c.name << " + " << c.prefix;
}

}  // namespace
