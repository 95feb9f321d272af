// Storage blocks: reference counting and release by the last holder, and
// storage in temporary mapped files of the working directory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "orv/marray.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using orv::MArray;

// Element type that counts its constructions and destructions.
struct Counted {
  static inline int alive = 0;
  Counted() { ++alive; }
  ~Counted() { --alive; }
};

TEST(MemoryBlockTest, LastHolderFreesTheBlock) {
  ASSERT_EQ(Counted::alive, 0);
  {
    MArray<Counted, 1> a(5);
    EXPECT_EQ(Counted::alive, 5);
    MArray<Counted, 1> b(a);
    MArray<Counted, 1> view = a(orv::Range(2, 4));
    a.free();
    EXPECT_EQ(Counted::alive, 5);
    b.free();
    EXPECT_EQ(Counted::alive, 5);
    EXPECT_EQ(view.getMemoryBlock()->references, 1);
  }
  EXPECT_EQ(Counted::alive, 0);
  MArray<Counted, 2> c(2, 2);
  c.makeReference(MArray<Counted, 2>(3, 3));
  EXPECT_EQ(Counted::alive, 9);
  c.free();
  EXPECT_EQ(Counted::alive, 0);
}

TEST(MemoryBlockTest, EmptyHeapBlockIsAValidAllocation) {
  MArray<double, 1> a(0);
  ASSERT_NE(a.getMemoryBlock(), nullptr);
  EXPECT_NE(a.getMemoryBlock()->data, nullptr);
  EXPECT_EQ(a.getMemoryBlock()->references, 1);
  EXPECT_EQ(a.numElements(), 0);
  a = 1.0;  // nothing to fill
}

// Runs each mapped-storage test in a fresh directory of its own.
class MapFileTest : public testing::Test {
 protected:
  void SetUp() override {
    oldDir = fs::current_path();
    scratch = std::make_unique<test_support::ScratchDir>("orv_map_test");
    dir = scratch->path;
    fs::current_path(dir);
  }
  void TearDown() override {
    fs::current_path(oldDir);
    scratch.reset();
  }
  std::vector<fs::path> mapFiles() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.path().filename().string().rfind("orv.", 0) == 0) found.push_back(entry.path());
    return found;
  }
  static int openDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
  }
  fs::path oldDir;
  std::unique_ptr<test_support::ScratchDir> scratch;
  fs::path dir;
};

TEST_F(MapFileTest, MappedArrayHasOneZeroFilledFileRemovedAtLastRelease) {
  const int n = 1000;
  {
    MArray<float, 1> a(n, true);
    const auto files = mapFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().size(), 10u);  // "orv." and six characters
    EXPECT_EQ(fs::file_size(files[0]), n * sizeof(float));
    EXPECT_EQ(fs::status(files[0]).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    for (int i = 1; i <= n; ++i) ASSERT_EQ(a(i), 0.0f);
    MArray<float, 1> share(a);
    a.free();
    share(7) = 2.5f;
    EXPECT_EQ(mapFiles().size(), 1u);
  }
  EXPECT_TRUE(mapFiles().empty());
  MArray<double, 2> b(3, 4, true);
  EXPECT_EQ(fs::file_size(mapFiles().at(0)), 12 * sizeof(double));
  b.free();
  EXPECT_TRUE(mapFiles().empty());
}

TEST_F(MapFileTest, ZeroLengthMappedArrayLeavesNoFile) {
  {
    MArray<short, 2> a(0, 4, true);
    ASSERT_EQ(mapFiles().size(), 1u);
    EXPECT_EQ(fs::file_size(mapFiles()[0]), 0u);
    EXPECT_EQ(a.getMemoryBlock()->data, nullptr);
  }
  EXPECT_TRUE(mapFiles().empty());
}

TEST_F(MapFileTest, UnusableDirectoryThrows) {
  // A working directory that no longer exists: file creation fails, also for root.
  fs::create_directory(dir / "gone");
  fs::current_path(dir / "gone");
  fs::remove(dir / "gone");
  try {
    MArray<float, 1> a(10, true);
    FAIL() << "no exception";
  } catch (const orv::RangeException& e) {
    EXPECT_STREQ(e.what(), "Cannot open memory map file.");
  }
  fs::current_path(dir);
}

TEST_F(MapFileTest, FailureAfterCreationRemovesFileAndClosesDescriptor) {
  // A file size limit makes the sizing step fail after the file was made.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4096;
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int before = openDescriptors();
  std::string message;
  try {
    MArray<double, 1> a(100000, true);
  } catch (const orv::RangeException& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(message, "Cannot set file size for map file");
  EXPECT_TRUE(mapFiles().empty());
  EXPECT_EQ(openDescriptors(), before);
}

TEST_F(MapFileTest, StringArraysAndNegativeCountsAreNotMapped) {
  EXPECT_THROW((MArray<std::string, 1>(3, true)), orv::RangeException);
  EXPECT_THROW((orv::MemoryMapBlock<float>(-1)), orv::RangeException);
  EXPECT_TRUE(mapFiles().empty());
}

}  // namespace
