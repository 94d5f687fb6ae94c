#include "report/ReportContent.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "markers/LabelText.h"
#include "platform/TextCodec.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  if (what.empty()) return;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

std::string WithBreaks(std::string text) {
  ReplaceAll(text, "\r\n", "\n");
  ReplaceAll(text, "\n", "<br>");
  return text;
}

// The statistics of a value on a line of its own: min / mean / max / deviation.
std::string StatisticsLine(const TStatistics& s, int digits) { return StatisticsText(s, digits); }

}  // namespace

std::string QuantityName(const std::string& axisTitle) {
  if (axisTitle.find("КП") != std::string::npos) return "Модуль КП";
  if (axisTitle.find("КО") != std::string::npos) return "Модуль КО";
  if (axisTitle.find("КСВН") != std::string::npos) return "КСВН";
  if (axisTitle.find("Мощность") != std::string::npos) return "Мощн.";
  return axisTitle;
}

std::string DiagramTraceTitle(const std::string& trace, const std::string& channel, double reference,
                              double scale, const std::string& unit) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%g/%g", reference, scale);
  return trace + "(" + channel + " оп." + numbers + " " + unit + ")";
}

TTable MarkersTable(const std::vector<std::string>& seriesNames, const std::vector<TReportMarker>& markers) {
  TTable table;
  std::vector<std::string> header{"Маркер", "Частота,МГц"};
  header.insert(header.end(), seriesNames.begin(), seriesNames.end());
  table.push_back(header);
  for (const TReportMarker& m : markers) {
    std::vector<std::string> row;
    row.push_back(std::to_string(m.index));
    std::string arg = FormatFixed(m.arg, m.argDigits);
    if (m.statistics) arg += "\n" + StatisticsLine(m.argStatistics, m.argDigits);
    row.push_back(arg);
    for (size_t i = 0; i < seriesNames.size(); ++i) {
      const double v = i < m.values.size() ? m.values[i] : kNoValue;
      std::string cell = FormatFixed(v, m.valueDigits);
      if (m.statistics && i < m.valueStatistics.size())
        cell += "\n" + StatisticsLine(m.valueStatistics[i], m.valueDigits);
      row.push_back(cell);
    }
    table.push_back(row);
  }
  return table;
}

TTable LinksTable(const std::vector<std::pair<std::string, std::string>>& links) {
  TTable table{{"Связь", "Значение"}};
  for (const auto& [description, value] : links) table.push_back({description, value});
  return table;
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string HtmlRows(const TTable& table) {
  std::string out;
  for (const auto& row : table) {
    out += "<tr>\r";
    for (const std::string& cell : row)
      out += "<td>" + (cell.empty() ? std::string("&nbsp") : WithBreaks(HtmlEscape(cell))) + "</td>\r";
    out += "</tr>\r";
  }
  return out;
}

std::string BuiltInTemplate() {
  const char* const lines[] = {
      "<html>",
      "\t<head>",
      "\t\t<meta http-equiv=Content-Type content=\"text/html; charset=windows-1251\">\t\t<meta name=GENERATOR "
      "content=\"Q5L-4000 Q5L-4000 Report Manager\">",
      "\t\t<title>%stamp% - %title%</title>",
      "\t</head>",
      "\t<body>",
      "\t<table width=100%>",
      "\t\t<tr>",
      "\t\t\t<td align=left>%stamp%</td>",
      "\t\t\t<td align=right>%date%</td>",
      "\t\t</tr>",
      "\t\t<tr>",
      "\t\t\t<td colspan=2><center><h1>%title%</h1></center></td>",
      "\t\t</tr>",
      "\t\t<tr>",
      "\t\t\t<td colspan=2>%description%</td>",
      "\t\t</tr>",
      "\t\t<tr>",
      "\t\t\t<td colspan=2><img src=\"%chartfile%\"></td>",
      "\t\t</tr>",
      "\t\t<tr>",
      "\t\t\t<td colspan=2><table border=1>%tablem%</table></td>",
      "\t\t</tr>",
      "\t\t<tr>",
      "\t\t\t<td colspan=2><table border=1>%tablep%</table></td>",
      "\t\t</tr>",
      "\t</table>",
      "\t</body>",
      "</html>",
  };
  std::string out;
  for (const char* line : lines) out += std::string(line) + "\r";
  return out;
}

std::string FillTemplate(const std::string& text, const TReportFields& f) {
  // Every placeholder is looked for in the template only, never in what an
  // earlier one put in: a title "%date%" stays a title.
  const std::pair<std::string, std::string> fields[] = {
      {"%stamp%", HtmlEscape(f.stamp)},
      {"%title%", HtmlEscape(f.title)},
      {"%date%", HtmlEscape(f.date)},
      {"%description%", WithBreaks(HtmlEscape(f.description))},
      {"%chartfile%", HtmlEscape(f.chartFile)},
      {"%tablem%", f.tableM},
      {"%tablep%", f.tableP},
  };
  std::string out;
  out.reserve(text.size() + f.tableM.size() + f.tableP.size());
  for (size_t at = 0; at < text.size();) {
    bool replaced = false;
    if (text[at] == '%') {
      for (const auto& [name, value] : fields) {
        if (text.compare(at, name.size(), name) == 0) {
          out += value;
          at += name.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[at++];
  }
  return out;
}

std::string DeclaredCharset(const std::string& html) {
  std::string lower = html;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const size_t at = lower.find("charset=");
  if (at == std::string::npos) return std::string();
  size_t from = at + 8;
  while (from < lower.size() && (lower[from] == '"' || lower[from] == '\'')) ++from;
  size_t to = from;
  while (to < lower.size() && (std::isalnum(static_cast<unsigned char>(lower[to])) || lower[to] == '-' || lower[to] == '_'))
    ++to;
  return lower.substr(from, to - from);
}

std::string EncodePage(const std::string& html, const std::string& charset) {
  if (charset != "windows-1251" && charset != "cp1251") return html;
  // Characters that code page 1251 lacks become references, the rest its bytes.
  const QString text = QString::fromStdString(html);
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  QString run;
  auto flush = [&] {
    if (run.isEmpty()) return;
    out += vkplatform::Utf8ToCp1251(run.toStdString());
    run.clear();
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char32_t c = text[i].isHighSurrogate() && i + 1 < text.size()
                           ? QChar::surrogateToUcs4(text[i], text[i + 1])
                           : text[i].unicode();
    const qsizetype width = c > 0xFFFF ? 2 : 1;
    const QString one = text.mid(i, width);
    const std::string bytes = c < 0x80 ? std::string(1, static_cast<char>(c))
                                       : vkplatform::Utf8ToCp1251(one.toStdString(), '\0');
    if (bytes.size() == 1 && bytes[0] == '\0' && c != 0) {
      flush();
      out += "&#" + std::to_string(static_cast<unsigned long>(c)) + ";";
    } else {
      run += one;
    }
    i += width - 1;
  }
  flush();
  return out;
}

KORCHART_VARIANT_END
}  // namespace korchart
