#include "record/RecordFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

namespace recorder {

std::string ErrorText(int error) {
  switch (error) {
    case ENOSPC: return "диск заполнен";
    case EDQUOT: return "исчерпана квота диска";
    case EFBIG: return "файл достиг наибольшего допустимого размера";
    case EACCES:
    case EPERM: return "нет доступа";
    case EROFS: return "диск доступен только для чтения";
    case ENOENT: return "папка не найдена";
    case EIO: return "ошибка ввода-вывода";
    default:
      return std::string("ошибка ") + std::to_string(error) + " (" + std::strerror(error) + ")";
  }
}

void IgnoreFileSizeSignal() {
  struct sigaction now {};
  if (::sigaction(SIGXFSZ, nullptr, &now) != 0 || now.sa_handler != SIG_DFL) return;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

namespace {

// "sweeps_20261207-174404_001.csv": the number is at least `least` and
// above that of every file of the series named in the same second (another
// start, another recorder), so that the names sort as the files were made.
std::string NewName(const TRecordSettings& s, int least) {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string start = s.prefix + "_" + stamp + "_";
  int sequence = least;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(s.folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > start.size() && name.compare(0, start.size(), start) == 0)
      sequence = std::max(sequence, std::atoi(name.c_str() + start.size()) + 1);
  }
  char seq[16];
  std::snprintf(seq, sizeof seq, "%03d", sequence);
  return s.folder + "/" + start + seq + ".csv";
}

}  // namespace

CRecordFile::CRecordFile(TRecordSettings settings, std::string header)
    : settings_(std::move(settings)), header_(std::move(header)) {}

CRecordFile::~CRecordFile() { Close(); }

void CRecordFile::Close() {
  if (fd_ < 0) return;
  // A file without a name (no sweep went in) goes with its descriptor.
  if (named_) ::fsync(fd_);
  ::close(fd_);
  fd_ = -1;
  named_ = false;
  unsynced_ = false;
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
  std::string name = settings_.folder;
  if (unnamedFiles_) {
    fd_ = ::open(settings_.folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    // File systems without unnamed files: the file is named at once.
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) unnamedFiles_ = false;
  }
  if (!unnamedFiles_) {
    // A name not taken yet: two files opened within one second differ in
    // their sequence number.
    for (int attempt = 0; attempt < 1000; ++attempt) {
      name = NewName(settings_, filesOpened_ + 1 + attempt);
      fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
  }
  if (fd_ < 0) return "Не удалось создать файл записи \"" + name + "\": " + ErrorText(errno);
  named_ = !unnamedFiles_;
  ::flock(fd_, LOCK_EX | LOCK_NB);  // held until the descriptor closes
  if (!WriteAll(header_.data(), header_.size())) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    if (named_) ::unlink(name.c_str());
    named_ = false;
    return "Не удалось записать в файл \"" + name + "\": " + ErrorText(error);
  }
  if (named_) {
    fileName_ = name;
    ++filesOpened_;
  }
  size_ = header_.size();
  rows_ = 0;
  openedAt_ = syncedAt_ = now;
  return std::string();
}

std::string CRecordFile::GiveName() {
  // The first sweep reaches the disk before the name does.
  ::fdatasync(fd_);
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  std::string name;
  int error = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    name = NewName(settings_, filesOpened_ + 1 + attempt);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      fileName_ = name;
      named_ = true;
      ++filesOpened_;
      return std::string();
    }
    error = errno;
    if (error != EEXIST) break;
  }
  // Cannot be named this way (no /proc, say): files are named at once from
  // now on. This one goes, with its sweep.
  if (error == ENOENT || error == EPERM || error == EACCES || error == EXDEV || error == EINVAL || error == ENOTDIR)
    unnamedFiles_ = false;
  ::close(fd_);
  fd_ = -1;
  return "Не удалось создать файл записи \"" + name + "\": " + ErrorText(error);
}

std::string CRecordFile::Append(const std::string& text, double now, size_t rows) {
  const bool full = settings_.maxBytes > 0 && size_ + text.size() > settings_.maxBytes && size_ > header_.size();
  const bool old = settings_.maxSeconds > 0 && now - openedAt_ >= settings_.maxSeconds;
  const bool other = rows > 0 && rows_ > 0 && rows != rows_;
  if (fd_ < 0 || full || old || other) {
    const std::string error = Open(now);
    if (!error.empty()) return error;
  }
  if (!WriteAll(text.data(), text.size())) {
    const int error = errno;
    // Whatever part of the sweep went in is taken back.
    const bool cut = ::ftruncate(fd_, static_cast<off_t>(size_)) == 0 && ::lseek(fd_, 0, SEEK_END) >= 0;
    if (!cut) Close();  // a file that cannot be cut back is left; the next sweep opens another
    const std::string full = fileName_;
    // A file that has grown as large as a file may be here goes on in a
    // new one, with this sweep: nothing is lost to the limit.
    if (error == EFBIG && cut && named_ && size_ > header_.size()) {
      const std::string opened = Open(now);
      if (!opened.empty()) return opened;
      if (!WriteAll(text.data(), text.size())) {
        const int again = errno;
        if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0 || ::lseek(fd_, 0, SEEK_END) < 0) Close();
        return "Не удалось продолжить запись в новом файле в папке \"" + settings_.folder + "\": " + ErrorText(again);
      }
      const std::string taken = Taken(text.size(), rows);
      if (taken.empty())
        notice_ = "файл \"" + full + "\" " + ErrorText(EFBIG) + "; запись продолжается в \"" + fileName_ + "\"";
      return taken;
    }
    if (!named_) return "Не удалось записать новый файл в папку \"" + settings_.folder + "\": " + ErrorText(error);
    return "Не удалось записать в файл \"" + fileName_ + "\": " + ErrorText(error);
  }
  return Taken(text.size(), rows);
}

std::string CRecordFile::Taken(size_t bytes, size_t rows) {
  if (!named_) {
    const std::string error = GiveName();
    if (!error.empty()) return error;
  }
  size_ += bytes;
  if (rows > 0) rows_ = rows;
  unsynced_ = true;
  return std::string();
}

std::string CRecordFile::Sync(double now) {
  if (fd_ < 0 || !unsynced_ || now - syncedAt_ < settings_.syncSeconds) return std::string();
  syncedAt_ = now;  // after a failure, the next try waits as long
  if (::fdatasync(fd_) != 0)
    return "Не удалось сохранить на диск файл \"" + fileName_ + "\": " + ErrorText(errno);
  unsynced_ = false;
  ++syncs_;
  return std::string();
}

}  // namespace recorder
