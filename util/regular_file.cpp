#include "util/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace util {

int openRegularFile(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool isReadableRegularFile(const std::string& fileName) {
  const int fd = openRegularFile(fileName);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace util
