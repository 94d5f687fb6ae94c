#pragma once
// What a recording left behind, looked at before the next one starts: a
// crash (kill -9) or a power cut can stop the newest file in the middle of
// a sweep, or leave garbage (zeros) where the disk had not caught up. The
// newest file of a series is cut back to its last whole sweep, and the
// numbering goes on after it.
//
// A sweep is whole when its rows are sound (the header's number of fields,
// a sweep number and a point index, "\r\n" at the end, no zero bytes), its
// indices run 0, 1, 2, ... and it is not the torn end of the file: a sweep
// after it had begun, or it has as many rows as the sweep before it (the
// writer starts a new file when the length changes, and names a file only
// once its first sweep is in).
#include <cstdint>
#include <string>
#include <string_view>

namespace recorder {

// Where the whole sweeps of a file end. `window` holds the file's bytes from
// `from` to its end; `atHeader`: `from` is where the header line ends (else
// the window's first line may be a piece and is skipped). `fields`: the
// header's number of fields.
struct TTailScan {
  uint64_t keep = 0;                // the length to keep
  unsigned long long lastWhole = 0; // the number of the last whole sweep (0: none seen)
  unsigned long long torn = 0;      // the number of the sweep cut off (0: none, or not known)
  bool enough = true;               // false: the window holds too little to judge, take a longer one
};
TTailScan ScanTail(std::string_view window, uint64_t from, bool atHeader, size_t fields);

struct TRecordCheck {
  std::string file;                 // the newest file of the series ("" when there is none)
  unsigned long long lastSweep = 0; // the number of the series' last whole sweep (0: none)
  unsigned long long torn = 0;      // the number of the sweep cut off (0: not known)
  uint64_t cutBytes = 0;            // what was cut off the newest file's end
  std::string error;                // what could not be done, in words for the operator
};

// Checks (and when torn, cuts back) the newest file named
// `<prefix>_*.csv` in `folder`. A file that another recorder has open
// (locked) is only read.
TRecordCheck CheckRecords(const std::string& folder, const std::string& prefix);

}  // namespace recorder
