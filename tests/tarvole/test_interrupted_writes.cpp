// The sky program when a write cannot be done or is cut short: a configuration file beyond the
// file-size limit, an output image whose write is ended by SIGTERM, and an earlier output that
// the running user may not replace. Each time the earlier file of the name stays byte for byte
// and no hidden temporary file is left beside it; a file that cannot be replaced is refused
// before the first output is written.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/tarvole/tarvole_fixtures.h"

extern char** environ;

namespace {

using tarvole_test::small_pair_fit;
using test_support::namesIn;
using test_support::RunResult;
using test_support::ScratchDir;
using test_support::shellQuoted;

// A small image of valid FITS, the earlier output of a name.
void writeEarlierImage(const std::string& file) {
  orv::MArray<float, 2> a(4, 3);
  a = 7.0f;
  orv::writeFitsImage(file, a);
}

// The configuration file goes to a temporary file and is renamed over the earlier one: a write
// beyond the file-size limit (0 bytes, SIGXFSZ ignored so that the write fails with EFBIG) ends the
// run before any image and leaves the earlier file as it was. Without the limit the same run
// replaces it.
TEST(TarvoleInterruptedWrite, ConfigurationFileBeyondTheSizeLimitKeepsTheEarlierOne) {
  ScratchDir dir;
  tarvole_test::write_small_pair(dir, "ref.fits", "img.fits");
  const std::string earlier = "# an earlier configuration\nverbose\t= 3\t# verbose level\n";
  test_support::writeText(dir / "my.cfg", earlier);
  const std::string arguments = "--write_config_file my.cfg " + small_pair_fit + "ref.fits img.fits";

  // Standard error joins standard output: a file would take no bytes either under the limit.
  const std::string limited =
      "trap '' XFSZ; ulimit -f 0; exec " + shellQuoted(TARVOLE_EXE) + " " + arguments + " 2>&1";
  const RunResult run = test_support::runProgram(dir.path, "sh -c", shellQuoted(limited));
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("Cannot write file my.cfg"), std::string::npos) << run.out;
  EXPECT_EQ(test_support::readText(dir / "my.cfg"), earlier);
  EXPECT_EQ(namesIn(dir.path), (std::set<std::string>{"ref.fits", "img.fits", "my.cfg"}));

  const RunResult unlimited = tarvole_test::run_tarvole(dir.path, arguments);
  EXPECT_EQ(unlimited.status, 0) << unlimited.err;
  EXPECT_NE(test_support::readText(dir / "my.cfg").find("write_config_file\t= my.cfg\t"), std::string::npos);
  EXPECT_EQ(test_support::fitsverifyVerdict(dir / "bimg.fits"), "clean");
  EXPECT_EQ(namesIn(dir.path), (std::set<std::string>{"ref.fits", "img.fits", "my.cfg", "bimg.fits"}));
}

// The process number in a file written by `echo $$`, or 0 while the file holds no whole line.
pid_t pidIn(const std::string& file) {
  const std::string text = test_support::readText(file);
  if (text.empty() || text.back() != '\n') return 0;
  return static_cast<pid_t>(std::stol(text));
}

// Whether dir holds the hidden temporary file of the output `name`.
bool hasTemporaryOf(const std::string& dir, const std::string& name) {
  for (const std::string& entry : namesIn(dir))
    if (entry.rfind("." + name + ".", 0) == 0) return true;
  return false;
}

// Whether the process is inside the system call of number `call`, as /proc shows it for a process
// that is blocked or held in it.
bool inSystemCall(pid_t pid, long call) {
  const std::string text = test_support::readText("/proc/" + std::to_string(pid) + "/syscall");
  return text.rfind(std::to_string(call) + " ", 0) == 0;
}

// SIGTERM while the 2048 x 2048 output is being written: strace holds the first write of its data
// for four seconds, the signal arrives meanwhile, and the program ends by it (as a shell sees it,
// status 143) after removing its temporary file; the earlier output stays.
TEST(TarvoleInterruptedWrite, SigtermDuringTheWriteOfALargeOutputLeavesNoTemporaryFile) {
  if (!test_support::canInjectSystemCallFaults()) GTEST_SKIP() << "strace cannot trace programs here";
  ScratchDir dir;
  // The galaxy at (20, 15), so that the small pair's fit options fit the corner of the field.
  const auto pair = tarvole_test::galaxy_pair(2048, 2048, 20, 15, 5.0, -3);
  orv::writeFitsImage(dir / "ref.fits", pair.R);
  orv::writeFitsImage(dir / "img.fits", pair.I);
  writeEarlierImage(dir / "bimg.fits");
  const std::string earlier = test_support::readText(dir / "bimg.fits");
  const std::string pidFile = test_support::tempPath("tarvole_sigterm.pid");
  const std::string errFile = test_support::tempPath("tarvole_sigterm.err");
  std::filesystem::remove(pidFile);

  const std::string program = "echo $$ > " + shellQuoted(pidFile) + "; exec " + shellQuoted(TARVOLE_EXE) +
                              " " + small_pair_fit + "ref.fits img.fits";
  // The leak check of a sanitizer build cannot run in a traced process.
  const std::string command =
      "cd " + shellQuoted(dir.path) +
      " && ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 exec strace " +
      "-o /dev/null -e trace=pwrite64 -e inject=pwrite64:delay_enter=4000000:when=1 -- sh -c " +
      shellQuoted(program) + " > /dev/null 2> " + shellQuoted(errFile);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t traced = 0;
  ASSERT_EQ(posix_spawn(&traced, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);

  // The signal goes to the program while strace holds it in the first write of the image data.
  pid_t programPid = 0;
  int status = 0;
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while ((programPid = pidIn(pidFile)) == 0 || !inSystemCall(programPid, SYS_pwrite64)) {
    ended = waitpid(traced, &status, WNOHANG) == traced;
    if (ended || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (ended) {
    ADD_FAILURE() << "the run ended before the write was held";
  } else {
    if (programPid > 0 && inSystemCall(programPid, SYS_pwrite64)) {
      EXPECT_TRUE(hasTemporaryOf(dir.path, "bimg.fits")) << "the image is not written beside its name";
      EXPECT_EQ(kill(programPid, SIGTERM), 0);
    } else {
      ADD_FAILURE() << "the run never reached the write of its output";
      kill(traced, SIGKILL);
    }
    ASSERT_EQ(waitpid(traced, &status, 0), traced);
  }
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status << "\n"
                                                                  << test_support::readText(errFile);
  EXPECT_TRUE(test_support::readText(dir / "bimg.fits") == earlier);
  EXPECT_EQ(namesIn(dir.path), (std::set<std::string>{"ref.fits", "img.fits", "bimg.fits"}));
}

// An earlier output in a sticky directory (mode 1777, as /tmp) that belongs to root, and a run by
// the user nobody over three images. What nobody may not replace is refused before the first
// output; a file of nobody's own is replaced.
struct StickyCase {
  const char* what;
  uid_t owner;  // of the earlier bimg2.fits
  mode_t mode;
  int status;
  const char* message;  // standard error holds it; nullptr: nothing is printed there
};

std::ostream& operator<<(std::ostream& os, const StickyCase& c) { return os << c.what; }

constexpr uid_t nobody = 65534;  // and its group

const StickyCase stickyCases[] = {
    {"root's file that nobody may not write", 0, 0644, 1, "cannot write 'bimg2.fits': it may not be written"},
    // Writable by anyone, yet only its owner (or the directory's) may rename a file over it.
    {"root's file that anyone may write", 0, 0666, 1,
     "cannot replace 'bimg2.fits': it belongs to another user in the sticky directory"},
    {"nobody's own file", nobody, 0644, 0, nullptr},
};

class TarvoleStickyDirectory : public testing::TestWithParam<StickyCase> {};

TEST_P(TarvoleStickyDirectory, RefusesBeforeTheFirstOutputWhatItCannotReplace) {
  const StickyCase& c = GetParam();
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run the program as another user";
  // The program is copied where nobody may run it: the build tree may lie where nobody cannot.
  ScratchDir bin, dir;
  struct statvfs fs {};
  if (statvfs(bin.path.c_str(), &fs) == 0 && (fs.f_flag & ST_NOEXEC) != 0)
    GTEST_SKIP() << "no program may run from " << bin.path;
  const std::string program = bin / "tarvole";
  std::filesystem::copy_file(TARVOLE_EXE, program);
  ASSERT_EQ(chmod(bin.path.c_str(), 0755), 0);
  ASSERT_EQ(chmod(program.c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir.path.c_str(), 01777), 0);

  tarvole_test::write_small_pair(dir, "ref.fits", "img1.fits");
  std::filesystem::copy_file(dir / "img1.fits", dir / "img2.fits");
  writeEarlierImage(dir / "bimg2.fits");
  const std::string earlier = test_support::readText(dir / "bimg2.fits");
  for (const char* name : {"ref.fits", "img1.fits", "img2.fits"})
    ASSERT_EQ(chmod((dir / name).c_str(), 0644), 0);
  ASSERT_EQ(chown((dir / "bimg2.fits").c_str(), c.owner, c.owner), 0);
  ASSERT_EQ(chmod((dir / "bimg2.fits").c_str(), c.mode), 0);

  const RunResult run = test_support::runProgram(dir.path,
                                                 "setpriv --reuid=" + std::to_string(nobody) +
                                                     " --regid=" + std::to_string(nobody) +
                                                     " --clear-groups " + shellQuoted(program),
                                                 small_pair_fit + "ref.fits img1.fits img2.fits");
  EXPECT_EQ(run.status, c.status) << run.err;
  if (c.status != 0) {
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(test_support::readText(dir / "bimg2.fits"), earlier);
    EXPECT_EQ(namesIn(dir.path), (std::set<std::string>{"ref.fits", "img1.fits", "img2.fits", "bimg2.fits"}));
  } else {
    EXPECT_EQ(run.err, "");
    EXPECT_NE(test_support::readText(dir / "bimg2.fits"), earlier);
    for (const char* name : {"bimg1.fits", "bimg2.fits"})
      EXPECT_EQ(test_support::fitsverifyVerdict(dir / name), "clean") << name;
    EXPECT_EQ(namesIn(dir.path),
              (std::set<std::string>{"ref.fits", "img1.fits", "img2.fits", "bimg1.fits", "bimg2.fits"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TarvoleStickyDirectory, testing::ValuesIn(stickyCases),
                         [](const testing::TestParamInfo<StickyCase>& info) {
                           return tarvole_test::case_name(info.param.what);
                         });

}  // namespace
