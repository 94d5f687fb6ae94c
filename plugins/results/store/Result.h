#pragma once
// One unit's measurement as the results store keeps it: plain data, no Qt.
#include <string>
#include <vector>

namespace vkresults {

// One limit checked on the unit. The margin is >0 inside the limit and <0
// where it is broken; argument is where the worst margin was found.
struct TLimitOutcome {
  std::string name;
  bool pass = true;
  double worstMargin = 0;
  double argument = 0;
};

// One value read off the unit. A reading without a value (hasValue false)
// is kept by name only.
struct TReading {
  std::string name;
  double value = 0;
  bool hasValue = true;
  std::string unit;
};

struct TResult {
  std::string id;            // unique (a UUID, made by the caller or by NewResultId())
  std::string serial;
  std::string operatorName;
  std::string bench;         // host name of the bench
  std::string scheme;
  std::string timeUtc;       // ISO 8601 UTC with milliseconds, "2026-12-08T10:15:30.123Z"
  bool pass = false;
  double seconds = 0;        // the time the unit took
  std::vector<TLimitOutcome> limits;
  std::vector<TReading> readings;
  std::string report;        // file name of the report written for the unit, may be empty
};

// A new unique result id (a random UUID without braces).
std::string NewResultId();

// The current time in the store's form, "yyyy-MM-ddTHH:mm:ss.zzzZ".
std::string NowUtc();

// Any ISO 8601 time with a zone (or UTC when it has none) in the store's
// form; "" when the text is not a time. The store orders results by this
// text, so every time it keeps goes through here.
std::string NormalizeUtc(const std::string& isoTime);

}  // namespace vkresults
