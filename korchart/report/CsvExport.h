#pragma once
// "Сохранить как CSV...": what a display shows, as a table another program
// reads. The first column is the argument, then one column per visible
// trace in the unit it is shown in (its filters applied), under a header
// that names each column and its unit. Fields are separated by commas, the
// decimal point is a point; a field with a comma or a quote is quoted.
#include <string>
#include <vector>

#include "markers/BuildVariant.h"

class QCPGraph;
class QWidget;

namespace korchart {
KORCHART_VARIANT_BEGIN

// A field as CSV wants it: quoted when it holds a comma, a quote or a line
// break, its quotes doubled.
std::string CsvField(const std::string& text);

struct TCsvTrace {
  std::string title;
  std::string units;
  std::vector<double> x, y;  // x ascending
};

// The table: the argument of the first trace, each other trace's value
// there (by index when it has the same arguments, interpolated between its
// neighbours otherwise, empty outside its range). "" without traces.
std::string MakeCsv(const std::string& argumentTitle, const std::string& argumentUnits,
                    const std::vector<TCsvTrace>& traces);

// The traces `graphs` shows: the visible ones with points, their names and
// their "units" property.
std::vector<TCsvTrace> TracesOf(const std::vector<QCPGraph*>& graphs);

// Asks for a file and writes the table of `graphs` there, replacing the file
// whole; a failure is said. True when a file was written.
bool SaveCsvDialog(QWidget* parent, const std::string& argumentTitle, const std::string& argumentUnits,
                   const std::vector<QCPGraph*>& graphs);

KORCHART_VARIANT_END
}  // namespace korchart
