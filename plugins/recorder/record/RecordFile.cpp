#include "record/RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace recorder {

namespace {

std::string Reason(int error) { return error == ENOSPC ? "диск заполнен" : std::strerror(error); }

// "sweeps_20261207-174404_001.csv"
std::string NewName(const TRecordSettings& s, int sequence) {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  char seq[16];
  std::snprintf(seq, sizeof seq, "%03d", sequence);
  return s.folder + "/" + s.prefix + "_" + stamp + "_" + seq + ".csv";
}

}  // namespace

CRecordFile::CRecordFile(TRecordSettings settings, std::string header)
    : settings_(std::move(settings)), header_(std::move(header)) {}

CRecordFile::~CRecordFile() { Close(); }

void CRecordFile::Close() {
  if (fd_ < 0) return;
  ::fsync(fd_);
  ::close(fd_);
  fd_ = -1;
}

bool CRecordFile::WriteAll(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string CRecordFile::Open(double now) {
  Close();
  std::error_code ec;
  std::filesystem::create_directories(settings_.folder, ec);
  // A name not taken yet: two files opened within one second differ in
  // their sequence number.
  std::string name;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    name = NewName(settings_, filesOpened_ + 1 + attempt);
    fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ >= 0 || errno != EEXIST) break;
  }
  if (fd_ < 0) return "Не удалось создать файл записи \"" + name + "\": " + Reason(errno);
  if (!WriteAll(header_.data(), header_.size())) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    ::unlink(name.c_str());
    return "Не удалось записать в файл \"" + name + "\": " + Reason(error);
  }
  fileName_ = name;
  size_ = header_.size();
  openedAt_ = now;
  ++filesOpened_;
  return std::string();
}

std::string CRecordFile::Append(const std::string& text, double now) {
  const bool full = settings_.maxBytes > 0 && size_ + text.size() > settings_.maxBytes && size_ > header_.size();
  const bool old = settings_.maxSeconds > 0 && now - openedAt_ >= settings_.maxSeconds;
  if (fd_ < 0 || full || old) {
    const std::string error = Open(now);
    if (!error.empty()) return error;
  }
  if (!WriteAll(text.data(), text.size())) {
    const int error = errno;
    // Whatever part of the sweep went in is taken back.
    if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0 || ::lseek(fd_, 0, SEEK_END) < 0) {
      Close();  // a file that cannot be cut back is left; the next sweep opens another
    }
    return "Не удалось записать в файл \"" + fileName_ + "\": " + Reason(error);
  }
  size_ += text.size();
  return std::string();
}

}  // namespace recorder
