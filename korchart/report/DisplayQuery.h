#pragma once
// The answers a display (the chart panel, the diagram) gives to automation:
// its complete sweeps, its traces as CSV, a marker's or a link marker's
// reading, and its report written to a file. Shared by both displays, each
// with its own build of the marker and report units.
#include <functional>
#include <string>
#include <vector>

#include "limits/LimitLines.h"
#include "markers/BuildVariant.h"

class QCPGraph;
class QWidget;
class CBasePlugin;
class CInLinkPoint;

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
  // The limit lines of each trace, in the order shown (none: the display
  // has no limits), and the display's verdict over all of them.
  struct TLimitAccess {
    std::string name;
    std::function<TLimitLines()> get;
    std::function<void(const TLimitLines&)> set;
    std::function<TLimitVerdict()> verdict;
  };
  std::vector<TLimitAccess> limits;
  std::function<TLimitVerdict()> verdict;
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
//  "limits verdict [N]"     the display's (or trace N's) last verdict:
//                           "PASS|FAIL|NONE,worst margin,argument there"
//  "limits state N [on|off]" whether trace N's limits are checked ("1"/"0"),
//                           or switches them
//  "limits data N [CSV]"    trace N's limits as CSV, or replaces them (the
//                           CSV's lines may be separated by "|")
int AnswerDisplayQuery(const std::string& request, const TDisplay& display, std::string& answer);

// A display's input "report": each string packet names a file, and the
// display's report is written there (printed to PDF for a name ending in
// ".pdf", exported as HTML otherwise) through its "report ..." question; a
// failure goes to the log and standard error. Handled in `window`'s thread.
inline constexpr const char* kReportInput = "report";
void TakeReportRequests(CInLinkPoint* input, QWidget* window, CBasePlugin* display);
void ForgetReportRequests(CInLinkPoint* input);

KORCHART_VARIANT_END
}  // namespace korchart
