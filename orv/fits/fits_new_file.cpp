#include "orv/fits/fits_new_file.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include "orv/fits/fits_exception.h"

namespace orv {

void fitsRequireRoom(int fd, const std::string& filename, long bytes) {
  struct statvfs fs;
  if (::fstatvfs(fd, &fs) != 0) return;  // nothing known: the writes themselves will tell
  // Root may also use the blocks kept back for it.
  const unsigned long long blocks = ::geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
  const unsigned long long available = blocks * fs.f_frsize;
  if (static_cast<unsigned long long>(bytes) > available)
    throw FitsException("not enough room for file '" + filename + "': it needs " + std::to_string(bytes) +
                        " bytes, its file system has " + std::to_string(available) + " bytes free");
}

}  // namespace orv
