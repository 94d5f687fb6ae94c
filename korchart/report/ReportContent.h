#pragma once
// What a report says, as plain text: the markers table and the link table,
// the series' names in the report, and the HTML page made from a template.
// The report form shows and prints these; tests call them directly.
#include <string>
#include <utility>
#include <vector>

#include "markers/BuildVariant.h"
#include "markers/Searches.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

// A table as rows of cells; a cell may hold several lines ('\n').
using TTable = std::vector<std::vector<std::string>>;

// A series' name in the report after the quantity of its vertical axis: an
// axis title containing "КП" gives "Модуль КП", "КО" "Модуль КО", "КСВН"
// "КСВН", "Мощность" "Мощн."; any other title is the name itself.
std::string QuantityName(const std::string& axisTitle);

// The title of a trace in the diagram's report: "%s(%s оп.%g/%g %s)" with
// the trace's name, its channel's name, reference level, scale per division
// and displayed unit.
std::string DiagramTraceTitle(const std::string& trace, const std::string& channel, double reference,
                              double scale, const std::string& unit);

// One active marker as the report shows it: its number, argument and the
// values on each printed series, with the statistics when it shows them.
struct TReportMarker {
  int index = 0;
  double arg = 0;
  int argDigits = 3;
  int valueDigits = 2;
  bool statistics = false;
  TStatistics argStatistics;
  std::vector<double> values;             // one per printed series
  std::vector<TStatistics> valueStatistics;  // the same
};

// The markers table: the header ("Маркер", "Частота,МГц", the series'
// names), then a row per marker; with statistics the argument's and each
// value's statistics follow on further lines of the same cell.
TTable MarkersTable(const std::vector<std::string>& seriesNames, const std::vector<TReportMarker>& markers);
// The link table: the header ("Связь", "Значение"), then a row per link
// marker in use: its description and its value as shown.
TTable LinksTable(const std::vector<std::pair<std::string, std::string>>& links);

// A table as HTML rows: "<tr>\r", per cell "<td>" + text + "</td>\r" (an
// empty cell "&nbsp"), "</tr>\r". The texts are escaped for HTML and their
// line breaks become "<br>".
std::string HtmlRows(const TTable& table);
// The text with &, <, > and " as HTML references.
std::string HtmlEscape(const std::string& text);

// The template used when "Data/Report.dat" cannot be read, lines ending with
// a carriage return.
std::string BuiltInTemplate();

// What replaces the template's placeholders.
struct TReportFields {
  std::string stamp;        // %stamp%
  std::string title;        // %title%
  std::string date;         // %date%
  std::string description;  // %description%
  std::string chartFile;    // %chartfile%
  std::string tableM;       // %tablem%: the markers table's rows
  std::string tableP;       // %tablep%: the link table's rows
};
// Every occurrence of every placeholder replaced. Title, stamp and
// description are what the operator typed: they are escaped here (line
// breaks of the description become "<br>").
std::string FillTemplate(const std::string& text, const TReportFields& fields);

// The charset a page declares in its meta line ("" when none), lower case.
std::string DeclaredCharset(const std::string& html);
// The page (UTF-8) in the bytes of that charset: windows-1251 with what it
// cannot hold as character references; UTF-8 or an unknown charset as it is.
std::string EncodePage(const std::string& html, const std::string& charset);

KORCHART_VARIANT_END
}  // namespace korchart
