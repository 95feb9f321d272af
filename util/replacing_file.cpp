#include "util/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "util/directory_part.h"
#include "util/temporary_files.h"
#include "util/uexception.h"

namespace util {

namespace {

std::string baseNameOf(const std::string& path) { return path.substr(directoryPart(path).size()); }

// The directory of a path as stat wants it: "." for a bare name, no trailing '/' but for the root.
std::string directoryOf(const std::string& path) {
  const std::string part = directoryPart(path);
  return part.empty() ? "." : part == "/" ? part : part.substr(0, part.size() - 1);
}

// The file a name leads to: a symbolic link is replaced by the file it points to, not by the
// new file; a link that leads nowhere is replaced itself.
std::string resolveTarget(const std::string& filename) {
  struct stat link {};
  if (::lstat(filename.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return filename;
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(filename.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : filename;
}

mode_t creationMask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// The template of the temporary name: ".<name>.XXXXXX" in the target's directory. The name is
// shortened where the eight added characters would pass the longest name the directory takes, so
// that the temporary file can be made wherever the output can.
std::string temporaryPattern(const std::string& target) {
  const std::string directory = directoryOf(target);
  long longest = ::pathconf(directory.c_str(), _PC_NAME_MAX);
  if (longest <= 0) longest = NAME_MAX;
  std::string base = baseNameOf(target);
  const std::size_t keep = static_cast<std::size_t>(std::max(1L, longest - 8));
  if (base.size() > keep) base.resize(keep);
  return directoryPart(target) + "." + base + ".XXXXXX";
}

bool writeAll(int fd, const std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string replacementRefusal(const std::string& filename) {
  const std::string target = resolveTarget(filename);
  struct stat file {};
  const bool exists = ::stat(target.c_str(), &file) == 0;
  if (exists && S_ISDIR(file.st_mode)) return "cannot write '" + filename + "': it is a directory";
  // A device or pipe is written in place: only the file itself must take writes.
  if (exists && !S_ISREG(file.st_mode))
    return ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0
               ? ""
               : "cannot write '" + filename + "': it may not be written";
  const std::string directory = directoryOf(target);
  struct stat dir {};
  if (::stat(directory.c_str(), &dir) != 0)
    return "cannot write '" + filename + "': directory '" + directory + "' does not exist";
  if (!S_ISDIR(dir.st_mode)) return "cannot write '" + filename + "': '" + directory + "' is not a directory";
  if (::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return "cannot write '" + filename + "': directory '" + directory + "' is not writable";
  if (!exists) return "";
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
    return "cannot write '" + filename + "': it may not be written";
  const uid_t me = ::geteuid();
  if ((dir.st_mode & S_ISVTX) != 0 && me != 0 && file.st_uid != me && dir.st_uid != me)
    return "cannot replace '" + filename + "': it belongs to another user in the sticky directory '" +
           directory + "'";
  return "";
}

int createReplacingFile(const std::string& filename, ReplacingFile& file) {
  file = ReplacingFile{filename, "", resolveTarget(filename), false, -1};
  if (!replacementRefusal(filename).empty()) return -1;
  struct stat old {};
  const bool exists = ::stat(file.target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    const int fd = ::open(filename.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) {
      file.inPlace = true;
      file.path = filename;
    }
    return fd;
  }
  std::string pattern = temporaryPattern(file.target);
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  file.path = pattern;
  file.trackSlot = trackTemporaryFile(pattern);
  // The new file takes the place of the old one: its owner (where the process may set it) and its
  // permission bits.
  if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    // Not allowed: the new file keeps the writer as its owner.
  }
  const mode_t mode = exists ? (old.st_mode & 07777) : (0666 & ~creationMask());
  if (::fchmod(fd, mode) != 0) {
    ::close(fd);
    discardReplacingFile(file);
    return -1;
  }
  return fd;
}

bool commitReplacingFile(ReplacingFile& file) {
  if (file.path.empty()) return false;
  if (file.inPlace) {
    file.path.clear();
    return true;
  }
  if (::rename(file.path.c_str(), file.target.c_str()) != 0) {
    discardReplacingFile(file);
    return false;
  }
  untrackTemporaryFile(file.trackSlot);
  file.trackSlot = -1;
  file.path.clear();
  // The new name lasts once the directory is on disk as well.
  const int dirFd = ::open(directoryOf(file.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

void discardReplacingFile(ReplacingFile& file) {
  if (!file.path.empty() && !file.inPlace) ::unlink(file.path.c_str());
  untrackTemporaryFile(file.trackSlot);
  file.trackSlot = -1;
  file.path.clear();
}

void writeReplacingTextFile(const std::string& filename, const std::string& text) {
  ReplacingFile file;
  const int fd = createReplacingFile(filename, file);
  if (fd < 0) throw UException("Cannot open file " + filename + " for writing");
  const bool written = writeAll(fd, text) && (file.inPlace || ::fsync(fd) == 0);
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || !commitReplacingFile(file)) {
    discardReplacingFile(file);
    throw UException("Cannot write file " + filename);
  }
}

}  // namespace util
