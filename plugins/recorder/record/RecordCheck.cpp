#include "record/RecordCheck.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "record/RecordFile.h"

namespace fs = std::filesystem;

namespace recorder {

namespace {

constexpr std::string_view kHeaderStart = "sweep,time,index";
// The longest tail read to judge a file (three sweeps of the longest kind
// seldom come near it).
constexpr uint64_t kLongestWindow = 256ull << 20;

// Digits up to `end` (not past 19 of them): the value, or false.
bool Digits(std::string_view s, size_t& pos, char end, unsigned long long& value) {
  const size_t first = pos;
  value = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && pos - first < 19) value = value * 10 + (s[pos++] - '0');
  return pos > first && pos < s.size() && s[pos] == end;
}

// A sound row: "<sweep>,<time>,<index>,...\r\n" with the header's number of
// fields and no zero bytes.
bool ParseRow(std::string_view line, size_t fields, unsigned long long& id, unsigned long long& index) {
  if (line.size() < 2 || line[line.size() - 2] != '\r' || line.find('\0') != std::string_view::npos) return false;
  if (static_cast<size_t>(std::count(line.begin(), line.end(), ',')) + 1 != fields) return false;
  size_t pos = 0;
  if (!Digits(line, pos, ',', id) || id == 0) return false;
  pos = line.find(',', pos + 1) + 1;
  return Digits(line, pos, fields > 3 ? ',' : '\r', index);
}

// The sweep number a piece of a row starts with, when it reads as far as
// its first comma (0 otherwise).
unsigned long long LeadingId(std::string_view piece) {
  size_t pos = 0;
  unsigned long long id = 0;
  return Digits(piece, pos, ',', id) ? id : 0;
}

bool ReadAt(int fd, std::string& buf, uint64_t from, uint64_t size) {
  buf.resize(size);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, buf.data() + done, size - done, static_cast<off_t>(from + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Judges the file open on `fd` of `size` bytes.
TTailScan ScanFile(int fd, uint64_t size) {
  TTailScan leave;
  leave.keep = size;
  std::string buf;
  const uint64_t headLength = std::min<uint64_t>(size, 4096);
  if (!ReadAt(fd, buf, 0, headLength)) return leave;
  const size_t nl = buf.find('\n');
  if (nl == std::string::npos) {
    // A header torn while it was written holds nothing; a long line without
    // an end is not one of ours.
    const size_t n = std::min(buf.size(), kHeaderStart.size());
    if (headLength == size && buf.compare(0, n, kHeaderStart.substr(0, n)) == 0) return TTailScan{};
    return leave;
  }
  if (buf.compare(0, kHeaderStart.size(), kHeaderStart) != 0 || nl == 0 || buf[nl - 1] != '\r') return leave;
  const size_t fields = static_cast<size_t>(std::count(buf.begin(), buf.begin() + nl, ',')) + 1;
  const uint64_t headerEnd = nl + 1;
  for (uint64_t window = 1 << 16;; window *= 4) {
    const uint64_t from = size - headerEnd > window ? size - window : headerEnd;
    if (!ReadAt(fd, buf, from, size - from)) return leave;
    const TTailScan scan = ScanTail(buf, from, from == headerEnd, fields);
    if (scan.enough || from == headerEnd || window >= kLongestWindow) return scan;
  }
}

}  // namespace

TTailScan ScanTail(std::string_view window, uint64_t from, bool atHeader, size_t fields) {
  TTailScan result;
  size_t start = 0;
  if (!atHeader) {
    const size_t nl = window.find('\n');
    if (nl == std::string_view::npos) {
      result.enough = false;
      result.keep = from + window.size();
      return result;
    }
    start = nl + 1;
  }
  // The sound rows from the start, in runs of one sweep number.
  struct TRun {
    unsigned long long id;
    size_t begin, end, rows;
    bool ordered;  // indices 0, 1, 2, ...
  };
  std::vector<TRun> runs;
  size_t pos = start;
  while (pos < window.size()) {
    const size_t end = window.find('\n', pos);
    if (end == std::string_view::npos) break;
    unsigned long long id = 0, index = 0;
    if (!ParseRow(window.substr(pos, end + 1 - pos), fields, id, index)) break;
    if (!runs.empty() && runs.back().id == id) {
      TRun& run = runs.back();
      run.ordered = run.ordered && index == run.rows;
      ++run.rows;
      run.end = end + 1;
    } else {
      runs.push_back({id, pos, end + 1, 1, index == 0});
    }
    pos = end + 1;
  }
  // What follows the sound rows (a piece of a row, garbage) goes in any
  // case; the sweep it begins with, if that can be read, tells whether the
  // last run had been finished.
  const bool rest = pos < window.size();
  const unsigned long long next = rest ? LeadingId(window.substr(pos)) : 0;
  size_t kept = runs.size();
  while (kept > 0) {
    const TRun& run = runs[kept - 1];
    bool whole = run.ordered;
    if (kept == runs.size()) {
      if (rest && next == run.id) {
        whole = false;
      } else if (!(rest && next != 0)) {
        // Nothing came after it: as long as the sweep before it.
        const bool before = kept >= 3 || (kept == 2 && atHeader);
        if (before) whole = whole && run.rows == runs[kept - 2].rows;
      }
    }
    if (whole) break;
    result.torn = run.id;
    --kept;
  }
  if (result.torn == 0) result.torn = next;
  // The first run of a window that does not start at the header may have
  // begun before it: it and the one before the last are needed whole.
  if (!atHeader && kept <= 1) result.enough = false;
  if (!atHeader && runs.size() < 3) result.enough = false;
  result.keep = from + (kept > 0 ? runs[kept - 1].end : start);
  result.lastWhole = kept > 0 ? runs[kept - 1].id : 0;
  return result;
}

TRecordCheck CheckRecords(const std::string& folder, const std::string& prefix) {
  TRecordCheck check;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return check;
  struct TFound {
    fs::file_time_type time;
    std::string name;
  };
  std::vector<TFound> found;
  const std::string start = prefix + "_";
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= start.size() + 4 || name.compare(0, start.size(), start) != 0 ||
        name.compare(name.size() - 4, 4, ".csv") != 0)
      continue;
    std::error_code e;
    if (!it->is_regular_file(e)) continue;
    found.push_back({it->last_write_time(e), it->path().string()});
  }
  // The newest first: the last written, and of two written at once the
  // later name.
  std::sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) {
    return a.time != b.time ? a.time > b.time : a.name > b.name;
  });
  // The newest file is cut back; older ones (closed and put on the disk
  // when the next was opened) only say where the numbering stands when the
  // newest holds no sweep.
  for (size_t i = 0; i < found.size() && i < 16; ++i) {
    const std::string& name = found[i].name;
    const bool newest = i == 0;
    int fd = newest ? ::open(name.c_str(), O_RDWR | O_CLOEXEC) : -1;
    const int openError = errno;
    // A file another recorder has open (locked) is left as it is.
    const bool inUse = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    const bool mayCut = fd >= 0 && !inUse;
    if (fd < 0) fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (newest) check.file = name;
    if (fd < 0) {
      if (newest) check.error = "Не удалось проверить файл \"" + name + "\": " + ErrorText(errno);
      continue;
    }
    struct stat st {};
    const uint64_t size = ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    const TTailScan scan = ScanFile(fd, size);
    if (newest && scan.keep < size) {
      if (!mayCut) {
        if (!inUse) check.error = "Не удалось укоротить файл \"" + name + "\": " + ErrorText(openError);
      } else if (::ftruncate(fd, static_cast<off_t>(scan.keep)) == 0) {
        ::fdatasync(fd);
        check.cutBytes = size - scan.keep;
        check.torn = scan.torn;
      } else {
        check.error = "Не удалось укоротить файл \"" + name + "\": " + ErrorText(errno);
      }
    }
    ::close(fd);
    if (scan.lastWhole > 0) {
      check.lastSweep = scan.lastWhole;
      break;
    }
    if (scan.torn > 0) {  // its number is free again
      check.lastSweep = scan.torn - 1;
      break;
    }
  }
  return check;
}

}  // namespace recorder
