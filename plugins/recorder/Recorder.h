#pragma once
// Recorder: writes every complete sweep that reaches its inputs to CSV files,
// for runs that go on unattended. Inputs "F", "A", "B", "C", "D" take
// vectors or parts of vectors; the wired ones are the file's columns, after
// the sweep's number, its time and the point's index. A fresh file at each
// start, rotated by size or age, put on the disk every few seconds. At the
// start the newest file of the series is checked: a sweep that a crash or a
// power cut left torn at its end is cut off, and the numbering goes on
// after the last whole sweep. Said on "message" (and in the log): a stall
// (no sweep for the set time), a file that cannot be written, a torn end
// cut off.
// Texts that arrive at the input "message" are written to the log with
// their time.
// Everything runs in the worker thread; the plug-in has no window.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "Plugin.h"
#include "record/RecordFile.h"
#include "record/SweepAssembler.h"

class TRecorder : public CBasePlugin {
 public:
  static constexpr const char* kInputs[] = {"F", "A", "B", "C", "D"};
  static constexpr size_t kInputCount = 5;

  ~TRecorder() override;
  int Register() override;
  int Initialize(QWidget* parent, xmlNode* node) override;
  int Finalize() override;
  void Process() override;

  // For tests and the soak: what was recorded since the start.
  unsigned long long SweepsWritten() const { return written_; }
  unsigned long long SweepsLost() const { return lost_; }
  // The number the first sweep of this start gets.
  unsigned long long FirstSweep() const { return firstSweep_; }
  std::string FileName() const { return file_ ? file_->FileName() : std::string(); }
  // The clock (seconds); a test may set its own before the start.
  void SetClock(double (*clock)()) { clock_ = clock; }

 private:
  void Take(size_t column, CBasePacket* packet);
  void WriteSweep();
  void Say(const std::string& text);
  void LogIncomingMessages();

  recorder::TRecordSettings settings_;
  double stallSeconds_ = 10;
  std::vector<CInLinkPoint*> wired_;  // the wired inputs, in column order
  std::unique_ptr<recorder::CSweepAssembler> assembler_;
  std::unique_ptr<recorder::CRecordFile> file_;
  COutLinkPoint* message_ = nullptr;
  double (*clock_)() = nullptr;
  double lastSweep_ = 0;
  bool stallSaid_ = false;
  bool failureSaid_ = false;
  bool syncSaid_ = false;
  unsigned long long firstSweep_ = 1;
  unsigned long long written_ = 0, lost_ = 0;
  std::string text_;  // one sweep's lines, reused
};
