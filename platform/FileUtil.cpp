#include "FileUtil.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vkplatform {

int WriteFileAtomically(const std::string& fileName, const char* data, size_t size) {
  if (fileName.empty()) return -1;
  std::string tmpl = fileName + ".tmp-XXXXXX";
  int fd = mkstemp(tmpl.data());
  if (fd < 0) return -1;
  size_t written = 0;
  while (written < size) {
    ssize_t n = ::write(fd, data + written, size - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    written += static_cast<size_t>(n);
  }
  bool ok = written == size && ::fsync(fd) == 0;
  // The new file gets the permissions of the one it replaces, or the usual
  // ones for a new file (mkstemp makes it private).
  struct stat st;
  if (::stat(fileName.c_str(), &st) == 0) {
    ::fchmod(fd, st.st_mode & 07777);
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  ok = (::close(fd) == 0) && ok;
  if (!ok || std::rename(tmpl.c_str(), fileName.c_str()) != 0) {
    ::unlink(tmpl.c_str());
    return -1;
  }
  return 0;
}

bool ReadWholeFile(const std::string& fileName, std::string& contents) {
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
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
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  contents.swap(data);
  return true;
}

}  // namespace vkplatform
