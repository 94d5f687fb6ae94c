#include "FileUtil.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vkplatform {

namespace {

bool WriteAllAt(int fd, const char* data, size_t size) {
  size_t written = 0;
  while (written < size) {
    ssize_t n = ::pwrite(fd, data + written, size - written, static_cast<off_t>(written));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, std::string& contents) {
  std::string data;
  char buf[65536];
  off_t offset = 0;
  for (;;) {
    ssize_t n = ::pread(fd, buf, sizeof buf, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
    offset += n;
  }
  contents.swap(data);
  return true;
}

// Rewrites an existing file where it is, for a folder in which no new file
// can be made. The space is reserved first, and the old contents are kept in
// memory and written back when the new ones cannot be written whole, so a
// failure does not leave a truncated file behind.
int WriteInPlace(const std::string& fileName, const char* data, size_t size) {
  int fd = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return -1;
  std::string old;
  if (!ReadAll(fd, old)) {
    ::close(fd);
    return -1;
  }
  if (size > old.size()) {
    const int rc = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) {
      ::close(fd);
      return -1;  // no room: the file is untouched
    }
  }
  bool ok = WriteAllAt(fd, data, size) && ::ftruncate(fd, static_cast<off_t>(size)) == 0 &&
            ::fsync(fd) == 0;
  if (!ok) {
    WriteAllAt(fd, old.data(), old.size());
    if (::ftruncate(fd, static_cast<off_t>(old.size())) == 0) ::fsync(fd);
  }
  ok = (::close(fd) == 0) && ok;
  return ok ? 0 : -1;
}

}  // namespace

std::string ResolveLinks(const std::string& fileName) {
  std::string path = fileName;
  // A chain of links ends at the file they stand for; a loop is cut after
  // as many steps as the system itself follows.
  for (int step = 0; step < 40; ++step) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    // One byte more than the link says, to see that it did not grow meanwhile.
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) == target.size()) break;
    target.resize(static_cast<size_t>(n));
    if (target.front() != '/') {
      const std::string::size_type slash = path.rfind('/');
      target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
    }
    path = target;
  }
  return path;
}

int WriteFileAtomically(const std::string& fileName, const char* data, size_t size) {
  if (fileName.empty()) return -1;
  // A link is kept: the file it points to gets the new contents.
  const std::string target = ResolveLinks(fileName);
  std::string tmpl = target + ".tmp-XXXXXX";
  int fd = mkstemp(tmpl.data());
  if (fd < 0) {
    // The folder takes no new file, but the file itself may be writable.
    if ((errno == EACCES || errno == EPERM) && ::access(target.c_str(), W_OK) == 0)
      return WriteInPlace(target, data, size);
    return -1;
  }
  bool ok = WriteAllAt(fd, data, size) && ::fsync(fd) == 0;
  // The new file gets the permissions of the one it replaces, or the usual
  // ones for a new file (mkstemp makes it private).
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) {
    // The owner is kept where we may give files away (as root); otherwise
    // the new file is ours. Owner first: changing it clears set-id bits.
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
      const int given = ::fchown(fd, st.st_uid, st.st_gid);
      (void)given;
    }
    ::fchmod(fd, st.st_mode & 07777);
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  ok = (::close(fd) == 0) && ok;
  if (!ok || std::rename(tmpl.c_str(), target.c_str()) != 0) {
    ::unlink(tmpl.c_str());
    return -1;
  }
  return 0;
}

bool ReadWholeFile(const std::string& fileName, std::string& contents, size_t limit, ReadFailure* why) {
  ReadFailure ignored;
  ReadFailure& failure = why ? *why : ignored;
  failure = ReadFailure::cannotOpen;
  // Non-blocking, so that opening a FIFO does not wait for its writer; the
  // flag does nothing to the reads of a regular file.
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    failure = ReadFailure::notAFile;
    ::close(fd);
    return false;
  }
  if (static_cast<unsigned long long>(st.st_size) > limit) {
    failure = ReadFailure::tooLarge;
    ::close(fd);
    return false;
  }
  std::string data;
  if (st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    // A file that grows while it is read is held to the same limit.
    if (data.size() + static_cast<size_t>(n) > limit) {
      failure = ReadFailure::tooLarge;
      ::close(fd);
      return false;
    }
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  contents.swap(data);
  failure = ReadFailure::none;
  return true;
}

std::string TooLargeText(const std::string& fileName, size_t limit) {
  const unsigned long long mib = limit >> 20;
  return "Файл \"" + fileName + "\" не открыт: он больше " +
         (mib > 0 ? std::to_string(mib) + " МБ." : std::to_string(limit) + " байт.");
}

}  // namespace vkplatform
