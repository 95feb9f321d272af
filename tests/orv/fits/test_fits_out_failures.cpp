// Writing where it cannot succeed: a missing directory, a read-only file, a full filesystem,
// a failed write-back. Each gives a FitsException naming the file, never a signal and never
// success.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "orv/fits/fits.h"
#include "tests/orv/fits/fits_fixtures.h"

// The writer's sync calls, made to fail on demand: a write-back error (an I/O error of the
// disk) cannot be had otherwise. These definitions take the place of the C library's for the
// whole test program; they forward to it unless a failure is asked for.
namespace {
bool failFdatasync = false;
bool failFsync = false;
}  // namespace

extern "C" int fdatasync(int fd) {
  static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
  if (failFdatasync) {
    errno = EIO;
    return -1;
  }
  return real(fd);
}

extern "C" int fsync(int fd) {
  static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
  if (failFsync) {
    errno = EIO;
    return -1;
  }
  return real(fd);
}

namespace {

// The message of the FitsException that writing a float image of nx x ny to file throws, or
// "" when the write succeeds.
std::string writeImage(const std::string& file, int nx, int ny) {
  return test_support::messageOf<orv::FitsException>([&] {
    orv::MArray<float, 2> a(nx, ny);
    a = 1.5f;
    orv::FitsOut out(file);
    out << a;
  });
}

TEST(FitsOutFailures, MissingDirectory) {
  const std::string file = "/nonexistent-directory-of-the-fits-tests/out.fits";
  EXPECT_EQ(writeImage(file, 10, 10), "FitsException: cannot open file '" + file + "' for writing");
}

TEST(FitsOutFailures, ReadOnlyFile) {
  fits_test::SmallFilesystem fs("size=64k");
  std::string file;
  if (fs.mounted()) {
    // Root may write any file: a read-only filesystem refuses even root.
    file = fs.dir() + "ro.fits";
    fits_test::writeBytes(file, {1, 2, 3});
    ASSERT_TRUE(fs.makeReadOnly());
  } else {
    file = test_support::programScratchDir("orv_fits") + "ro.fits";
    fits_test::writeBytes(file, {1, 2, 3});
    chmod(file.c_str(), 0444);
    if (access(file.c_str(), W_OK) == 0) GTEST_SKIP() << "the file stays writable for this user";
  }
  EXPECT_EQ(writeImage(file, 10, 10), "FitsException: cannot open file '" + file + "' for writing");
  EXPECT_EQ(fits_test::readBytes(file), (std::vector<unsigned char>{1, 2, 3}));
}

TEST(FitsOutFailures, FullFilesystem) {
  fits_test::SmallFilesystem fs("size=64k");
  if (!fs.mounted()) GTEST_SKIP() << "no filesystem of limited size can be mounted here";
  // The data do not fit: refused before anything is written.
  const std::string big = fs.dir() + "big.fits";
  EXPECT_EQ(writeImage(big, 200, 200), "FitsException: not enough room for file '" + big +
                                           "': it needs 164160 bytes, its file system has 65536 bytes free");
  // Nothing left at all.
  fits_test::writeBytes(fs.dir() + "filler", std::vector<unsigned char>(80 * 1024, 1));
  const std::string small = fs.dir() + "small.fits";
  EXPECT_EQ(writeImage(small, 10, 10), "FitsException: not enough room for file '" + small +
                                           "': it needs 5760 bytes, its file system has 0 bytes free");
}

TEST(FitsOutFailures, FileSizeLimitAndDeviceWithoutSpace) {
  // A process file-size limit: writes beyond it fail (the signal it raises is ignored).
  const std::string dir = test_support::programScratchDir("orv_fits");
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = {20000, old.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string sized = writeImage(dir + "limit.fits", 100, 100);
  small.rlim_cur = 1000;
  setrlimit(RLIMIT_FSIZE, &small);
  const std::string header = writeImage(dir + "limit2.fits", 10, 10);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(sized, "FitsException: cannot (re)set file size for file '" + dir + "limit.fits'");
  EXPECT_EQ(header, "FitsException: cannot write to open file '" + dir + "limit2.fits'");
  // A device that is always full.
  EXPECT_EQ(writeImage("/dev/full", 10, 10), "FitsException: cannot write to open file '/dev/full'");
}

// The message of setting the geometry of a float image of nx x ny in file, to be filled
// piece by piece, or "" when that succeeds.
std::string setGeometry(const std::string& file, int nx, int ny) {
  return test_support::messageOf<orv::FitsException>([&] {
    orv::FitsOut out(file);
    const int lengths[2] = {nx, ny};
    ::close(out.setGeometry(-32, 2, lengths));
  });
}

TEST(FitsOutFailures, FailedWriteBack) {
  // Syncing the reserved file when the geometry is set for filling it piece by piece, and
  // syncing a whole image once written: either failure is reported, and the file is no longer
  // mapped.
  const std::string dir = test_support::programScratchDir("orv_fits");
  struct Case {
    bool* failing;
    const char* file;
    std::string (*write)(const std::string&, int, int);
  };
  for (const Case& c :
       {Case{&failFsync, "/geometry.fits", setGeometry}, Case{&failFdatasync, "/closed.fits", writeImage}}) {
    const std::string file = dir + c.file;
    SCOPED_TRACE(file);
    *c.failing = true;
    const std::string message = c.write(file, 10, 10);
    *c.failing = false;
    EXPECT_EQ(message, "FitsException: cannot sync file '" + file + "' for writing");
    std::string maps;
    test_support::runCommand("grep -c '" + file + "' /proc/" + std::to_string(getpid()) + "/maps 2>&1",
                             &maps);
    EXPECT_EQ(maps, "0\n");
    EXPECT_EQ(c.write(file, 10, 10), "");  // the next write succeeds
  }
}

}  // namespace
