// The overlap cutter when the system fails one of its writes: a cut image that cannot take its
// name, or a region file that cannot be written or synced. The run ends with "EXCEPTION: " and
// status 1, the earlier file of the name stays byte for byte, the outputs finished before the
// failure are whole, and no hidden temporary file is left. The faults are injected with strace
// into the one system call that writes the file, found by a run of the same command without a
// fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/brisel/brisel_fixtures.h"
#include "tests/support/program_run.h"

namespace {

using test_support::namesIn;
using test_support::shellQuoted;

// The program under test.
std::string briselProgram() {
#ifdef BRISEL_PROGRAM
  return BRISEL_PROGRAM;
#else
  // The build tree holds the program in brisel/ and this test in tests/brisel/.
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path().parent_path() / "brisel" / "brisel").string();
#endif
}

// Put before a command run under strace: the leak check of a sanitizer build cannot run in a
// traced process and would end it with a failure of its own.
const std::string noLeakCheck = "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 ";

// The earlier outputs in each directory before its run.
const std::map<std::string, std::string> earlier = {{"cut_w2.fits", "an earlier cut_w2.fits\n"},
                                                    {"common.part", "1:9,1:9"}};

// One fault: the system call, the error it returns, and the file it is made to fail on; the
// outputs that keep their earlier bytes and those written whole before the failure.
struct Fault {
  std::string name;
  std::string call;
  std::string error;
  std::string file;                  // the call's first argument names it
  std::vector<std::string> message;  // the EXCEPTION line holds each
  std::vector<std::string> kept;
  std::vector<std::string> written;
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

std::vector<Fault> faults() {
  return {
      {"rename of the second cut image",
       "rename",
       "ENOSPC",
       "cut_w2.fits",
       {"cannot rename file '.cut_w2.fits.", "' to 'cut_w2.fits'"},
       {"cut_w2.fits", "common.part"},
       {"cut_w1.fits"}},
      {"write of the region file",
       "write",
       "ENOSPC",
       "common.part",
       {"common.part"},
       {"common.part"},
       {"cut_w1.fits", "cut_w2.fits"}},
      {"sync of the region file",
       "fsync",
       "EIO",
       "common.part",
       {"common.part"},
       {"common.part"},
       {"cut_w1.fits", "cut_w2.fits"}},
  };
}

// A system call from strace's log (-f -y): its process, its name and its first argument, which
// for a descriptor holds the path of its file.
struct TracedCall {
  std::string pid, name, firstArgument;
};

std::vector<TracedCall> tracedCalls(const std::string& log) {
  std::vector<TracedCall> calls;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t blank = line.find(' ');
    const std::size_t open = line.find('(');
    if (blank == std::string::npos || open == std::string::npos || open < blank) continue;
    const std::size_t start = line.find_first_not_of(' ', blank);
    const std::size_t end = std::min(line.find(", ", open), line.find(')', open));
    if (end == std::string::npos) continue;
    calls.push_back(
        {line.substr(0, blank), line.substr(start, open - start), line.substr(open + 1, end - open - 1)});
  }
  return calls;
}

// The count, among the calls named `name` of its process, of the first such call whose first
// argument names `file` (1 for the first call), as strace's when= counts; 0 when there is none.
int occurrence(const std::vector<TracedCall>& calls, const std::string& name, const std::string& file) {
  std::map<std::string, int> counts;  // by process
  for (const TracedCall& call : calls) {
    if (call.name != name) continue;
    const int count = ++counts[call.pid];
    if (call.firstArgument.find(file) != std::string::npos) return count;
  }
  return 0;
}

// The line of text that begins with prefix, without its end; empty when there is none.
std::string lineStarting(const std::string& text, const std::string& prefix) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind(prefix, 0) == 0) return line;
  return "";
}

const std::string arguments = "w1.fits w2.fits";

// Two images of 20 x 16 pixels, one pixel apart in each axis, beside an earlier cut image of the
// second and an earlier region file: in "plain" for the run without a fault, which also tells
// where each call falls, and in one directory for each fault this test program runs.
class BriselFailedWrite : public testing::TestWithParam<Fault> {
 protected:
  static void SetUpTestSuite() {
    if (!test_support::canInjectSystemCallFaults()) return;
    scratch = test_support::programScratchDir("brisel_test");
    std::vector<brisel_test::TestImage> images(2);
    for (int i = 0; i < 2; ++i) {
      images[i].name = "w" + std::to_string(i + 1) + ".fits";
      images[i].nx = 20;
      images[i].ny = 16;
      images[i].crpix1 = 10 + i;
      images[i].crpix2 = 8 + i;
    }
    std::vector<std::string> dirs = {"plain"};
    const std::set<std::string> running = brisel_test::runningCases();
    for (const Fault& f : faults())
      if (running.count(brisel_test::caseName(f.name))) dirs.push_back(brisel_test::caseName(f.name));
    brisel_test::ImageSets sets;
    for (const std::string& dir : dirs) sets.emplace_back(dir, images);
    brisel_test::makeImages(scratch, sets);
    for (const std::string& dir : dirs)
      for (const auto& [name, bytes] : earlier) test_support::writeText(scratch + dir + "/" + name, bytes);

    const std::string log = test_support::tempPath("brisel_calls.log");
    plainRun = test_support::runProgram(scratch + "plain",
                                        noLeakCheck + "strace -f -y -o " + shellQuoted(log) +
                                            " -e trace=rename,write,fsync " + shellQuoted(briselProgram()),
                                        arguments);
    calls = tracedCalls(test_support::readText(log));
  }

  static inline std::string scratch;
  static inline test_support::RunResult plainRun;
  static inline std::vector<TracedCall> calls;
};

TEST_P(BriselFailedWrite, EndsWithAnExceptionAndKeepsTheEarlierFile) {
  if (!test_support::canInjectSystemCallFaults()) GTEST_SKIP() << "strace cannot trace programs here";
  const Fault& f = GetParam();
  ASSERT_EQ(plainRun.status, 0) << plainRun.err;
  EXPECT_NE(test_support::readText(scratch + "plain/common.part"), earlier.at("common.part"));
  const int when = occurrence(calls, f.call, f.file);
  ASSERT_GT(when, 0) << "no " << f.call << " names " << f.file << " in the run without a fault";

  const std::string dir = scratch + brisel_test::caseName(f.name) + "/";
  const test_support::RunResult run = test_support::runProgram(
      dir,
      noLeakCheck + "strace -f -o /dev/null -e trace=" + f.call + " -e inject=" + f.call +
          ":error=" + f.error + ":when=" + std::to_string(when) + " " + shellQuoted(briselProgram()),
      arguments);

  EXPECT_EQ(run.status, 1) << run.err;
  const std::string exception = lineStarting(run.err, "EXCEPTION: ");
  EXPECT_NE(exception, "") << run.err;
  for (const std::string& part : f.message) EXPECT_NE(exception.find(part), std::string::npos) << run.err;

  for (const std::string& name : f.kept)
    EXPECT_EQ(test_support::readText(dir + name), earlier.at(name)) << name;
  for (const std::string& name : f.written)
    EXPECT_EQ(test_support::fitsverifyVerdict(dir + name), "clean") << name;
  EXPECT_EQ(namesIn(dir),
            (std::set<std::string>{"w1.fits", "w2.fits", "cut_w1.fits", "cut_w2.fits", "common.part"}));
}

INSTANTIATE_TEST_SUITE_P(Faults, BriselFailedWrite, testing::ValuesIn(faults()),
                         [](const testing::TestParamInfo<Fault>& info) {
                           return brisel_test::caseName(info.param.name);
                         });

}  // namespace
