// A program of the suite under test: run in a directory, its exit status, standard output and
// standard error captured.
#ifndef TESTS_SUPPORT_PROGRAM_RUN_H
#define TESTS_SUPPORT_PROGRAM_RUN_H

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"

namespace test_support {

// One run of a program: its exit status (-1 when it did not exit normally), standard output and
// standard error.
struct RunResult {
  int status = -1;
  std::string out, err;
};

// A word for the shell, quoted so that it stays one argument whatever it holds.
inline std::string shellQuoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Words joined into one quoted argument text.
inline std::string shellWords(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + shellQuoted(word);
  return text;
}

// Runs the program with the argument text (shell words, quoted where they need it) in the
// directory dir. Standard error goes through a file outside dir, so that dir holds only what
// the program left there.
inline RunResult runProgram(const std::string& dir, const std::string& program,
                            const std::string& arguments) {
  const std::string errFile = tempPath("program_stderr");
  RunResult run;
  run.status =
      runCommand("cd " + shellQuoted(dir) + " && " + program + " " + arguments + " 2> " + errFile, &run.out);
  run.err = readText(errFile);
  std::remove(errFile.c_str());
  return run;
}

}  // namespace test_support

#endif
