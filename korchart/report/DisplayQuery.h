#pragma once
// The answers a display (the chart panel, the diagram) gives to automation:
// its complete sweeps, its traces as CSV, a marker's or a link marker's
// reading, and its report written to a file. Shared by both displays, each
// with its own build of the marker and report units.
#include <functional>
#include <string>
#include <vector>

#include "markers/BuildVariant.h"

class QCPGraph;

namespace korchart {
KORCHART_VARIANT_BEGIN

class MarksManager;
class TfrmReportManager;

struct TDisplay {
  MarksManager* marks = nullptr;
  std::function<TfrmReportManager*()> report;
  std::string argumentTitle, argumentUnits;
  std::vector<QCPGraph*> traces;  // in the order shown
  unsigned long long sweeps = 0;
  // Of those, the sweeps the markers and link markers have been placed on
  // (they move when the display is drawn).
  unsigned long long sweepsMarked = 0;
};

// 0 with `answer`; VKT_ERROR with the reason in `answer`; VKT_NOT_SUPPORTED
// for a question a display does not answer.
//  "sweeps"            the complete sweeps taken
//  "sweeps marked"     the complete sweeps the markers have been placed on
//  "trace"             the CSV of "Сохранить как CSV..."
//  "marker N"          argument, then each shown trace's value there ("" for none)
//  "link N"            the link marker's text (kNoValueText when it has no value)
//  "statistics reset"  every marker's and link marker's statistics start again
//  "report html FILE"  the report exported as HTML (with its pictures)
//  "report pdf FILE"   the report printed to a PDF file
int AnswerDisplayQuery(const std::string& request, const TDisplay& display, std::string& answer);

KORCHART_VARIANT_END
}  // namespace korchart
