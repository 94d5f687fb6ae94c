#include "markers/MarkCheck.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Diagnostics.h"
#include "platform/Report.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

bool DebuggerAttached() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("TracerPid:", 0) == 0) return std::atoi(line.c_str() + 10) != 0;
  return false;
}

std::string BaseName(const char* file) {
  std::string path = file ? file : "";
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The diagram's box: the failed condition with a generic failure code,
// where it failed, and the three ways on.
void HrCheckBox(const char* file, int line, const char* text) {
  constexpr unsigned long kFailure = 0x80004005UL;
  char detail[1024];
  std::snprintf(detail, sizeof detail, "(%s) Error: %lX (%ld) @ %s/%d", text ? text : "", kFailure,
                static_cast<long>(static_cast<int>(kFailure)), BaseName(file).c_str(), line);
  LogMessage(std::string("HRCHECK: ") + detail);
  vkplatform::Report r;
  r.caption = "HRCHECK: ";
  r.text = std::string(detail) + "\nPress [Y]es to terminate, [N]o to continue and [C]ancel to Debug";
  r.icon = vkplatform::MsgIcon::Error;
  r.buttons = vkplatform::MsgButtons::YesNoCancel;
  r.defaultAnswer = vkplatform::MsgAnswer::No;
  r.assertion = true;
  r.file = file ? file : "";
  r.line = line;
  r.expression = text ? text : "";
  switch (vkplatform::ShowReport(r)) {
    case vkplatform::MsgAnswer::Yes:
      std::_Exit(3);
    case vkplatform::MsgAnswer::Cancel:
      // Without a debugger to stop in, going on is all that is left.
      if (DebuggerAttached()) std::raise(SIGTRAP);
      break;
    default:
      break;
  }
}

}  // namespace

void ReportFailedCheck(const char* file, const char* date, int line, const char* text) {
  if constexpr (kDiagramBuild)
    HrCheckBox(file, line, text);
  else
    AssertFunction(file, date, line, text);
}

KORCHART_VARIANT_END
}  // namespace korchart
