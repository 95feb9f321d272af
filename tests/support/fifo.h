// A named pipe (FIFO) for the tests of readers that must refuse what is not a regular file.
#ifndef TESTS_SUPPORT_FIFO_H
#define TESTS_SUPPORT_FIFO_H

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace test_support {

// A FIFO without a writer, made at path and removed again when the object goes;
// an ordinary open of it for reading would block forever.
struct Fifo {
  explicit Fifo(std::string where) : path(std::move(where)) {
    ::unlink(path.c_str());
    made = ::mkfifo(path.c_str(), 0600) == 0;
  }
  ~Fifo() { ::unlink(path.c_str()); }
  Fifo(const Fifo&) = delete;
  Fifo& operator=(const Fifo&) = delete;

  std::string path;
  bool made = false;
};

}  // namespace test_support

#endif
