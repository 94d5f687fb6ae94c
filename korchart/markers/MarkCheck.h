#pragma once
// A failed internal check of the markers (a series whose data are at
// fault, a marker or series number out of range), reported the way the
// build that carries the markers reports its checks: the chart library with
// the program's assertion box ("Во время выполнения программы возникла
// неизвестная ошибка..."), the diagram plug-in with its "HRCHECK: " box.
// The caller goes on when this returns.
#include "markers/BuildVariant.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

void ReportFailedCheck(const char* file, const char* date, int line, const char* text);

KORCHART_VARIANT_END
}  // namespace korchart

#define KORCHART_CHECK(cond) \
  ((cond) ? static_cast<void>(0) : ::korchart::ReportFailedCheck(__FILE__, __DATE__, __LINE__, #cond))
#define KORCHART_CHECK_TEXT(cond, text) \
  ((cond) ? static_cast<void>(0) : ::korchart::ReportFailedCheck(__FILE__, __DATE__, __LINE__, text))
