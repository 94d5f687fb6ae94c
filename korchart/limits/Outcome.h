#pragma once
// What a display tells the modules wired to its "verdict" output after each
// sweep its markers have been placed on: its verdict over its traces' limit
// lines and its readings' limits, each trace's verdict, and its readings
// (every marker's value on each shown trace, every link marker's value).
// Sent as the XML text of a string packet, so that any module can keep it:
//   <outcome display="diagram" sweep="12" judged="1" pass="0" margin="-0.5" argument="597.5">
//     <trace name="Трс1" judged="1" pass="0" margin="-0.5" argument="597.5" failing="3"/>
//     <reading name="Полоса -3 дБ" value="99.6" unit="" hasvalue="1" judged="1" pass="1" margin="4.4"/>
//   </outcome>
#include <string>
#include <vector>

#include "limits/LimitLines.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

class MarksManager;

struct TTraceOutcome {
  std::string name;
  TLimitVerdict verdict;
};

struct TReadingOutcome {
  std::string name, unit;
  bool hasValue = false;
  double value = 0;
  TLimitVerdict verdict;  // judged when the reading has limits
  TValueLimits limits;
};

struct TDisplayOutcome {
  std::string display;
  unsigned long long sweep = 0;
  TLimitVerdict verdict;
  std::vector<TTraceOutcome> traces;
  std::vector<TReadingOutcome> readings;
};

// The readings of `marks` as they stand: "Маркер N: <trace>" for each
// switched-on marker and shown trace, and each used link marker by its
// description ("Связь N" without one), judged against its limits.
std::vector<TReadingOutcome> CollectReadings(const MarksManager& marks);

// The display's verdict from its traces' and readings' (stored in `o`).
void FoldVerdict(TDisplayOutcome& o);

std::string OutcomeToXml(const TDisplayOutcome& o);
// False (with the reason) for a text that is not an outcome; at most
// kMaxSegments traces and readings are read.
bool OutcomeFromXml(const std::string& text, TDisplayOutcome& o, std::string& error);

KORCHART_VARIANT_END
}  // namespace korchart
