#pragma once
// Shared by the fuzz targets: inputs become files without touching the disk
// (an anonymous memory file, opened by its /proc path), and reports are
// answered silently with their default.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Report.h"

namespace vkfuzz {

// A memory file holding the input; its path works for every reader of
// files while the object lives.
class TMemoryFile {
 public:
  TMemoryFile(const uint8_t* data, size_t size) : fd_(::memfd_create("vk-fuzz", MFD_CLOEXEC)) {
    size_t written = 0;
    while (fd_ >= 0 && written < size) {
      const ssize_t n = ::write(fd_, data + written, size - written);
      if (n <= 0) break;
      written += static_cast<size_t>(n);
    }
  }
  ~TMemoryFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

inline void SilenceReports() {
  static const bool once = [] {
    vkplatform::SetReportHook([](const vkplatform::Report& r) { return r.defaultAnswer; });
    return true;
  }();
  (void)once;
}

}  // namespace vkfuzz
