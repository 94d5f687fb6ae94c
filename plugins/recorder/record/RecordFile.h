#pragma once
// The CSV files a recording goes into: a fresh file at each start, named
// after the moment it was opened, with one header line; a new one when the
// file has reached its size or its age. A sweep is written whole or not at
// all: when the disk takes only part of it (full, gone), the file is cut
// back to the sweep before and the failure is returned, never a crash and
// never a half-written line.
#include <cstdint>
#include <string>

namespace recorder {

struct TRecordSettings {
  std::string folder;
  std::string prefix = "sweeps";
  uint64_t maxBytes = 100ull << 20;  // 0: no limit
  double maxSeconds = 0;             // 0: no limit
};

class CRecordFile {
 public:
  CRecordFile(TRecordSettings settings, std::string header);
  ~CRecordFile();
  CRecordFile(const CRecordFile&) = delete;
  CRecordFile& operator=(const CRecordFile&) = delete;

  // Appends `text` (whole lines) at the moment `now` (seconds, any steady
  // clock). Returns "" or what went wrong, in words for the operator.
  std::string Append(const std::string& text, double now);
  void Close();
  // The file written now ("" before the first sweep).
  const std::string& FileName() const { return fileName_; }
  int FilesOpened() const { return filesOpened_; }

 private:
  std::string Open(double now);
  bool WriteAll(const char* data, size_t size);

  TRecordSettings settings_;
  std::string header_;
  std::string fileName_;
  int fd_ = -1;
  uint64_t size_ = 0;
  double openedAt_ = 0;
  int filesOpened_ = 0;
};

}  // namespace recorder
