#pragma once
// The CSV files a recording goes into: a fresh file at each start, with one
// header line; a new one when the file has reached its size or its age, or
// when the sweeps change their length (so that the sweeps of one file are
// all alike, which is how a torn last sweep is known after a crash). A sweep
// is written whole or not at all: when the disk takes only part of it
// (full, gone), the file is cut back to the sweep before and the failure is
// returned, never a crash and never a half-written line; a file that has
// reached the largest size a file may have is cut back and followed by a
// new one, which takes the sweep.
//
// A new file is made unnamed (O_TMPFILE where the file system has it) and
// gets its name (after the moment of naming) once its first sweep is on the
// disk: a crash never leaves a file with a torn first sweep. What is
// written goes to the disk (fdatasync) at most `syncSeconds` later, when
// `Sync` is called; an open file is locked (flock) so that a second
// recorder's check leaves it alone.
#include <cstdint>
#include <string>
#include <utility>

namespace recorder {

struct TRecordSettings {
  std::string folder;
  std::string prefix = "sweeps";
  uint64_t maxBytes = 100ull << 20;  // 0: no limit
  double maxSeconds = 0;             // 0: no limit
  double syncSeconds = 5;            // 0: after every sweep
};

// What a file error means, in words for the operator.
std::string ErrorText(int error);

// A file that would grow past the largest size allowed (the process's
// limit, the file system's) must fail the write with EFBIG, not end the
// process with SIGXFSZ: the signal is ignored process-wide unless somebody
// has a handler of their own on it.
void IgnoreFileSizeSignal();

class CRecordFile {
 public:
  CRecordFile(TRecordSettings settings, std::string header);
  ~CRecordFile();
  CRecordFile(const CRecordFile&) = delete;
  CRecordFile& operator=(const CRecordFile&) = delete;

  // Appends `text` (whole lines, `rows` of them: one sweep; 0 when not
  // known) at the moment `now` (seconds, any steady clock). Returns "" or
  // what went wrong, in words for the operator.
  std::string Append(const std::string& text, double now, size_t rows = 0);
  // Puts what was written on the disk when `syncSeconds` have gone by since
  // the last time. Returns "" or what went wrong.
  std::string Sync(double now);
  void Close();
  // The file written now ("" before the first sweep).
  const std::string& FileName() const { return fileName_; }
  // What the operator should know of the last Append that succeeded all the
  // same (a file that reached the largest size allowed and was followed by
  // a new one), once; "" when nothing.
  std::string TakeNotice() { return std::exchange(notice_, std::string()); }
  int FilesOpened() const { return filesOpened_; }
  int Syncs() const { return syncs_; }

 private:
  std::string Open(double now);
  std::string GiveName();
  bool WriteAll(const char* data, size_t size);
  // A sweep of `bytes` (`rows` lines) is in the file: it is named (its
  // first sweep) and counted. "" or what went wrong.
  std::string Taken(size_t bytes, size_t rows);

  TRecordSettings settings_;
  std::string header_;
  std::string fileName_;
  std::string notice_;
  int fd_ = -1;
  uint64_t size_ = 0;
  double openedAt_ = 0;
  double syncedAt_ = 0;
  size_t rows_ = 0;        // the length of this file's sweeps (0: none yet)
  bool named_ = false;     // the file has its name (its first sweep is in)
  bool unsynced_ = false;  // written since the last fdatasync
  bool unnamedFiles_ = true;  // O_TMPFILE works here (until it fails)
  int filesOpened_ = 0;
  int syncs_ = 0;
};

}  // namespace recorder
