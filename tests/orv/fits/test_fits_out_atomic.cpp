// A written FITS file appears whole or not at all: the writer fills a temporary file beside the
// target and renames it over the target only when it is complete, so that a write that fails
// (file-size limit, full file system, an exception while an image is filled piece by piece)
// leaves an earlier file of that name exactly as it was, and nothing else behind. A file system
// without room for the image is refused before its first byte is written.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>

#include "orv/fits/fits.h"
#include "tests/orv/fits/fits_fixtures.h"

namespace {

using fits_test::readBytes;

// A float image of nx x ny whose pixels all hold value, written to file.
void writeFloatImage(const std::string& file, int nx, int ny, float value) {
  orv::MArray<float, 2> a(nx, ny);
  a = value;
  orv::FitsOut out(file);
  out << a;
}

// The names in a directory.
std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The message of the FitsException that the write throws in a child process whose file-size
// limit is `limit` bytes (SIGXFSZ ignored, so that writes beyond it fail instead), "" when it
// throws none; "child failed" when the child ends otherwise.
std::string messageUnderSizeLimit(rlim_t limit, const std::function<void()>& write) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = {limit, old.rlim_max};
    if (setrlimit(RLIMIT_FSIZE, &small) != 0) _exit(2);
    const std::string message = fits_test::messageOf(write);
    // The limit would cut the report short: lift it first.
    setrlimit(RLIMIT_FSIZE, &old);
    const ssize_t written = ::write(pipeEnds[1], message.data(), message.size());
    _exit(written == static_cast<ssize_t>(message.size()) ? 0 : 3);
  }
  close(pipeEnds[1]);
  std::string message;
  char buffer[256];
  for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? message : "child failed";
}

// A case's description as a test name.
template <class Case>
std::string caseTestName(const ::testing::TestParamInfo<Case>& info) {
  std::string name = info.param.what;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

// Rows first..last of an image 30 pixels wide.
util::Region rowsOf30(int first, int last) {
  util::Region rows(2);
  rows.setRange(1, 1, 30);
  rows.setRange(2, first, last);
  return rows;
}

// Writing over a good earlier output, in ways that fail: the message names the target, the
// earlier file keeps every byte, and no other file is left in its directory.
struct FailedWrite {
  const char* what;
  rlim_t sizeLimit;  // file-size limit of the writing process, 0 for none
  bool withSource;   // a 100 x 100 image "source.fits" beside the target, for copies
  std::function<void(const std::string& file, const std::string& source)> write;
  std::string message;  // with "@" standing for the target's path
};

void PrintTo(const FailedWrite& c, std::ostream* os) { *os << c.what; }

class FitsOutFailedWrite : public ::testing::TestWithParam<FailedWrite> {};

TEST_P(FitsOutFailedWrite, EarlierFileSurvivesByteForByte) {
  const FailedWrite& c = GetParam();
  test_support::ScratchDir dir;
  const std::string file = dir / "out.fits";
  writeFloatImage(file, 20, 10, 7.0f);
  const std::vector<unsigned char> before = readBytes(file);
  const std::string source = dir / "source.fits";
  if (c.withSource) writeFloatImage(source, 100, 100, 2.0f);
  const auto write = [&] { c.write(file, source); };
  const std::string message =
      c.sizeLimit > 0 ? messageUnderSizeLimit(c.sizeLimit, write) : fits_test::messageOf(write);

  std::string expected = c.message;
  if (expected.find('@') != std::string::npos) expected.replace(expected.find('@'), 1, file);
  EXPECT_EQ(message, expected);
  EXPECT_TRUE(readBytes(file) == before);
  std::vector<std::string> names = {"out.fits"};
  if (c.withSource) names.push_back("source.fits");
  EXPECT_EQ(namesIn(dir.path), names);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitsOutFailedWrite,
    ::testing::Values(
        // The header fits under the limit, the data do not.
        FailedWrite{"data beyond the size limit", 20000, false,
                    [](const std::string& f, const std::string&) { writeFloatImage(f, 100, 100, 1.0f); },
                    "cannot (re)set file size for file '@'"},
        // Not even the header fits.
        FailedWrite{"header beyond the size limit", 1000, false,
                    [](const std::string& f, const std::string&) { writeFloatImage(f, 10, 10, 1.0f); },
                    "cannot write to open file '@'"},
        // A raw copy of a larger image.
        FailedWrite{"copy beyond the size limit", 20000, true,
                    [](const std::string& f, const std::string& source) {
                      orv::FitsIn in(source, true, false);
                      orv::FitsOut out(f, in, true, false);
                      out.copyData(in);
                    },
                    "cannot (re)set file size for file '@'"},
        // Filled piece by piece; the caller fails after the first piece.
        FailedWrite{"exception while filling piece by piece", 0, false,
                    [](const std::string& f, const std::string&) {
                      orv::FitsOut out(f);
                      out.setGeometry(-32, rowsOf30(1, 5));
                      orv::MArray<float, 1> values(30);
                      values = 3.0f;
                      out.setRegion(rowsOf30(1, 1));
                      out << values;
                      throw orv::FitsException("the next piece cannot be read");
                    },
                    "the next piece cannot be read"},
        // The caller fails while a piece is mapped, before it is closed.
        FailedWrite{"exception while a piece is mapped", 0, false,
                    [](const std::string& f, const std::string&) {
                      orv::FitsOut out(f);
                      out.setGeometry(-32, rowsOf30(1, 5));
                      out.setRegion(rowsOf30(2, 2));
                      orv::MArray<float, 1> tooShort(29);
                      tooShort = 1.0f;
                      out << tooShort;
                    },
                    "cannot write an array of 29 elements into 30 elements of file '@'"}),
    caseTestName<FailedWrite>);

// An image filled piece by piece is invisible under its name until the writer is done with it;
// then it replaces the earlier file whole, keeps that file's permission bits, and nothing else
// is left in the directory.
TEST(FitsOutAtomic, PiecesAppearOnlyWhenTheWriterIsDone) {
  test_support::ScratchDir dir;
  const std::string file = dir / "pieces.fits";
  writeFloatImage(file, 20, 10, 7.0f);
  chmod(file.c_str(), 0640);
  const std::vector<unsigned char> before = readBytes(file);
  {
    orv::FitsOut out(file);
    util::Region all(2);
    all.setRange(1, 1, 4);
    all.setRange(2, 1, 3);
    out.setGeometry(-32, all);
    for (int y = 1; y <= 3; ++y) {
      util::Region row(2);
      row.setRange(1, 1, 4);
      row.setRange(2, y, y);
      orv::MArray<float, 1> values(4);
      values = static_cast<float>(y);
      out.setRegion(row);
      out << values;
      EXPECT_TRUE(readBytes(file) == before) << "row " << y;
    }
  }
  orv::FitsIn in(file, true, false);
  orv::MArray<float, 2> a;
  in >> a;
  ASSERT_EQ(a.length(1), 4);
  ASSERT_EQ(a.length(2), 3);
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 4; ++x) EXPECT_EQ(a(x, y), static_cast<float>(y));
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(namesIn(dir.path), std::vector<std::string>{"pieces.fits"});
}

// A whole image replaces the earlier file while a reader still maps it: the reader goes on
// seeing the earlier pixels, the name the new ones. A new file gets the permission bits that
// the file-creation mask leaves of 0666.
TEST(FitsOutAtomic, WholeImageReplacesTheFileUnderItsReader) {
  test_support::ScratchDir dir;
  const std::string file = dir / "whole.fits";
  const mode_t mask = umask(027);
  writeFloatImage(file, 8, 8, 1.0f);
  umask(mask);
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  orv::FitsIn old(file, true, false);
  old.openData();
  writeFloatImage(file, 8, 8, 2.0f);
  orv::MArray<float, 2> stillOld, now;
  old >> stillOld;
  EXPECT_EQ(stillOld(8, 8), 1.0f);
  orv::FitsIn fresh(file, true, false);
  fresh >> now;
  EXPECT_EQ(now(1, 1), 2.0f);
  EXPECT_EQ(namesIn(dir.path), std::vector<std::string>{"whole.fits"});
}

// Before the first byte is written, an image that the target's file system has no room for is
// refused, naming the file, the bytes it needs and the bytes free; an earlier file survives.
TEST(FitsOutAtomic, NoRoomRefusedBeforeWriting) {
  fits_test::SmallFilesystem fs("size=1m");
  if (!fs.mounted()) GTEST_SKIP() << "no file system of limited size can be mounted here";
  const std::string file = fs.dir() + "big.fits";
  writeFloatImage(file, 20, 10, 7.0f);
  const std::vector<unsigned char> before = readBytes(file);
  struct statvfs vfs;
  ASSERT_EQ(statvfs(fs.dir().c_str(), &vfs), 0);
  const unsigned long long freeBytes = static_cast<unsigned long long>(vfs.f_bfree) * vfs.f_frsize;
  // 600 x 600 floats: one header record and 500 data records.
  const std::string message = fits_test::messageOf([&] { writeFloatImage(file, 600, 600, 1.0f); });
  EXPECT_EQ(message, "not enough room for file '" + file + "': it needs 1442880 bytes, its file system has " +
                         std::to_string(freeBytes) + " bytes free");
  EXPECT_TRUE(readBytes(file) == before);
  EXPECT_EQ(namesIn(fs.dir()), std::vector<std::string>{"big.fits"});
  // Piece by piece, the whole image is checked when its geometry is set.
  const std::string pieces = fs.dir() + "pieces.fits";
  EXPECT_EQ(fits_test::messageOf([&] {
              orv::FitsOut out(pieces);
              util::Region all(2);
              all.setRange(1, 1, 600);
              all.setRange(2, 1, 600);
              out.setGeometry(-32, all);
            }),
            "not enough room for file '" + pieces + "': it needs 1442880 bytes, its file system has " +
                std::to_string(freeBytes) + " bytes free");
  EXPECT_EQ(namesIn(fs.dir()), std::vector<std::string>{"big.fits"});
}

}  // namespace

// Every way a client may end a writer that fills its file through a mapping: the file takes its
// name when the writer is finished (explicitly or by its destructor) and not before, holds what
// was stored, and nothing else is left in the directory.
struct Lifecycle {
  const char* what;
  std::string name;  // of the file, in the scratch directory
  // Fills the file; `absent` checks that the name does not exist yet.
  std::function<void(orv::FitsOut& out, const std::function<void()>& absent)> fill;
  bool explicitFinish;  // finish() called, and the file checked before the writer ends
};

void PrintTo(const Lifecycle& c, std::ostream* os) { *os << c.what; }

class FitsOutLifecycle : public ::testing::TestWithParam<Lifecycle> {};

// Stores value at pixel (x, y) of a 30-pixel-wide float image mapped whole.
void storeMapped(orv::FitsOut& out, int x, int y, float value) {
  float* pixels = reinterpret_cast<float*>(out.begin());
  const long at = (y - 1) * 30L + (x - 1);
  unsigned char bytes[4];
  std::memcpy(bytes, &value, 4);
  std::reverse(bytes, bytes + 4);  // FITS is big-endian
  std::memcpy(pixels + at, bytes, 4);
}

TEST_P(FitsOutLifecycle, FileAppearsWhenFinishedWithWhatWasStored) {
  const Lifecycle& c = GetParam();
  test_support::ScratchDir dir;
  const std::string file = dir / c.name;
  const auto absent = [&] { EXPECT_NE(access(file.c_str(), F_OK), 0) << "the name exists too early"; };
  {
    orv::FitsOut out(file);
    c.fill(out, absent);
    absent();
    if (c.explicitFinish) {
      out.finish();
      EXPECT_EQ(access(file.c_str(), F_OK), 0);
      out.finish();  // a second finish changes nothing
    }
  }
  orv::FitsIn in(file, true, false);
  orv::MArray<float, 2> a;
  in >> a;
  ASSERT_EQ(a.length(1), 30);
  ASSERT_EQ(a.length(2), 5);
  EXPECT_EQ(a(7, 3), 42.0f);
  EXPECT_EQ(a(1, 1), 0.0f);
  EXPECT_EQ(namesIn(dir.path), std::vector<std::string>{c.name});
  EXPECT_EQ(test_support::fitsverifyVerdict(file), "clean");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitsOutLifecycle,
    ::testing::Values(Lifecycle{"openData, stores, destructor", "a.fits",
                                [](orv::FitsOut& out, const std::function<void()>&) {
                                  const int lengths[2] = {30, 5};
                                  out.openData(-32, 2, lengths);
                                  storeMapped(out, 7, 3, 42.0f);
                                },
                                false},
                      Lifecycle{"setGeometry, setRegion, stores, destructor", "b.fits",
                                [](orv::FitsOut& out, const std::function<void()>&) {
                                  out.setGeometry(-32, rowsOf30(1, 5));
                                  out.setRegion(rowsOf30(3, 3));
                                  orv::MArray<float, 1> row(30);
                                  row = 0.0f;
                                  row(7) = 42.0f;
                                  out << row;
                                },
                                false},
                      Lifecycle{"openData, stores, finish", "c.fits",
                                [](orv::FitsOut& out, const std::function<void()>&) {
                                  const int lengths[2] = {30, 5};
                                  out.openData(-32, 2, lengths);
                                  storeMapped(out, 7, 3, 42.0f);
                                },
                                true},
                      Lifecycle{"openData, then bands by setRegion, finish", "d.fits",
                                [](orv::FitsOut& out, const std::function<void()>& absent) {
                                  const int lengths[2] = {30, 5};
                                  out.setBitpixOut(-32);
                                  out.openData(-32, 2, lengths);
                                  for (int y = 1; y <= 5; ++y) {
                                    orv::MArray<float, 1> row(30);
                                    row = 0.0f;
                                    if (y == 3) row(7) = 42.0f;
                                    out.setRegion(rowsOf30(y, y));
                                    out << row;
                                    absent();
                                  }
                                },
                                true},
                      Lifecycle{"a name of 250 characters", std::string(245, 'n') + ".fits",
                                [](orv::FitsOut& out, const std::function<void()>&) {
                                  const int lengths[2] = {30, 5};
                                  out.openData(-32, 2, lengths);
                                  storeMapped(out, 7, 3, 42.0f);
                                },
                                true}),
    caseTestName<Lifecycle>);

// A whole image under a name of 255 characters, the longest a name may be: the temporary file
// beside it must fit too.
TEST(FitsOutAtomic, LongestNameIsWritten) {
  test_support::ScratchDir dir;
  const std::string file = dir / (std::string(250, 'x') + ".fits");
  writeFloatImage(file, 8, 8, 3.0f);
  writeFloatImage(file, 8, 8, 4.0f);  // and replaced
  orv::MArray<float, 2> a;
  orv::FitsIn in(file, true, false);
  in >> a;
  EXPECT_EQ(a(8, 8), 4.0f);
  EXPECT_EQ(namesIn(dir.path).size(), 1u);
}

// A file that cannot take its name is a failed write that finish() reports, with the earlier
// file, here a directory put in the way, left as it was and the unfinished file removed; the
// destructor of a failed writer reports nothing more.
TEST(FitsOutAtomic, FinishReportsAFailedRename) {
  test_support::ScratchDir dir;
  const std::string file = dir / "late.fits";
  orv::FitsOut out(file);
  const int lengths[2] = {30, 5};
  out.openData(-32, 2, lengths);
  storeMapped(out, 7, 3, 42.0f);
  ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((file + "/inside").c_str(), 0755), 0);
  const std::string message = fits_test::messageOf([&] { out.finish(); });
  EXPECT_EQ(message.rfind("cannot rename file '", 0), 0u) << message;
  EXPECT_NE(message.find("' to '" + file + "'"), std::string::npos) << message;
  EXPECT_EQ(fits_test::messageOf([&] { out.finish(); }),
            "cannot finish file '" + file + "': writing it failed");
  EXPECT_EQ(namesIn(dir.path), std::vector<std::string>{"late.fits"});
}
