#include "orv/fits/fits_new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "orv/fits/fits_exception.h"

namespace orv {

namespace {

// The directory part of a path, with its '/' ("" for a name in the working directory).
std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a name leads to: a symbolic link is replaced by the file it points to, not by the
// new file; a link that leads nowhere is replaced itself.
std::string resolveTarget(const std::string& filename) {
  struct stat link;
  if (::lstat(filename.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return filename;
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(filename.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : filename;
}

mode_t creationMask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

int createFitsNewFile(const std::string& filename, FitsNewFile& file) {
  const std::string refused = "cannot open file '" + filename + "' for writing";
  file = FitsNewFile{filename, filename, resolveTarget(filename), false};
  struct stat old;
  const bool exists = ::stat(file.target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    file.inPlace = true;
    file.path = filename;
    const int fd = ::open(filename.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw FitsException(refused);
    return fd;
  }
  // A file that may not be written is not replaced either.
  if (exists && ::faccessat(AT_FDCWD, file.target.c_str(), W_OK, AT_EACCESS) != 0)
    throw FitsException(refused);

  std::string pattern = directoryOf(file.target) + "." + baseNameOf(file.target) + ".XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) throw FitsException(refused);
  file.path = pattern;
  // The new file takes the place of the old one: its owner (where the process may set it) and
  // its permission bits; a new name gets what creating it with 0666 would have given.
  if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    // Not allowed: the new file keeps the writer as its owner.
  }
  const mode_t mode = exists ? (old.st_mode & 07777) : (0666 & ~creationMask());
  if (::fchmod(fd, mode) != 0) {
    ::close(fd);
    discardFitsNewFile(file);
    throw FitsException(refused);
  }
  return fd;
}

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

void commitFitsNewFile(const FitsNewFile& file) {
  if (file.inPlace) return;
  if (::rename(file.path.c_str(), file.target.c_str()) != 0) {
    discardFitsNewFile(file);
    throw FitsException("cannot rename file '" + file.path + "' to '" + file.target + "'");
  }
  // The new name lasts once the directory is on disk as well.
  const std::string dir = directoryOf(file.target);
  const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

void discardFitsNewFile(const FitsNewFile& file) {
  if (!file.inPlace) ::unlink(file.path.c_str());
}

}  // namespace orv
