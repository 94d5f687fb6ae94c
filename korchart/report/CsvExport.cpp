#include "report/CsvExport.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

#include "GuiPlugin.h"
#include "VKXml.h"
#include "platform/FileUtil.h"
#include "platform/Report.h"
#include <qcustomplot.h>

namespace korchart {
KORCHART_VARIANT_BEGIN

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

namespace {

std::string Heading(const std::string& title, const std::string& units) {
  return CsvField(units.empty() ? title : title + ", " + units);
}

void AppendNumber(std::string& out, double v) { vkcore::AppendNumberText(out, v); }

// The value of `t` at `x`: by its own points, linear between neighbours.
double ValueAt(const TCsvTrace& t, double x) {
  const size_t n = std::min(t.x.size(), t.y.size());
  if (n == 0 || x < t.x.front() || x > t.x[n - 1]) return NAN;
  const auto end = t.x.begin() + static_cast<std::ptrdiff_t>(n);
  const auto it = std::lower_bound(t.x.begin(), end, x);
  const size_t i = static_cast<size_t>(it - t.x.begin());
  if (i < n && t.x[i] == x) return t.y[i];
  if (i == 0 || i >= n) return NAN;
  const double x0 = t.x[i - 1], x1 = t.x[i];
  return x1 == x0 ? t.y[i] : t.y[i - 1] + (t.y[i] - t.y[i - 1]) * (x - x0) / (x1 - x0);
}

}  // namespace

std::string MakeCsv(const std::string& argumentTitle, const std::string& argumentUnits,
                    const std::vector<TCsvTrace>& traces) {
  if (traces.empty()) return std::string();
  std::string out = Heading(argumentTitle, argumentUnits);
  for (const TCsvTrace& t : traces) out += "," + Heading(t.title, t.units);
  out += "\r\n";
  const std::vector<double>& grid = traces.front().x;
  std::vector<bool> sameGrid;
  for (const TCsvTrace& t : traces) sameGrid.push_back(t.x == grid && t.y.size() >= grid.size());
  out.reserve(out.size() + grid.size() * (traces.size() + 1) * 12);
  for (size_t i = 0; i < grid.size(); ++i) {
    AppendNumber(out, grid[i]);
    for (size_t k = 0; k < traces.size(); ++k) {
      out += ',';
      AppendNumber(out, sameGrid[k] ? traces[k].y[i] : ValueAt(traces[k], grid[i]));
    }
    out += "\r\n";
  }
  return out;
}

std::vector<TCsvTrace> TracesOf(const std::vector<QCPGraph*>& graphs) {
  std::vector<TCsvTrace> traces;
  for (QCPGraph* g : graphs) {
    if (!g || !g->visible() || g->data()->isEmpty()) continue;
    TCsvTrace t;
    // A curve may carry a title for tables of its own (the quantity it
    // shows) besides the name formulas know it by.
    const QString title = g->property("title").toString();
    t.title = (title.isEmpty() ? g->name() : title).toStdString();
    t.units = g->property("units").toString().toStdString();
    t.x.reserve(static_cast<size_t>(g->data()->size()));
    t.y.reserve(static_cast<size_t>(g->data()->size()));
    for (const QCPGraphData& d : *g->data()) {
      t.x.push_back(d.key);
      t.y.push_back(d.value);
    }
    traces.push_back(std::move(t));
  }
  return traces;
}

bool SaveCsvDialog(QWidget* parent, const std::string& argumentTitle, const std::string& argumentUnits,
                   const std::vector<QCPGraph*>& graphs) {
  const std::vector<TCsvTrace> traces = TracesOf(graphs);
  if (traces.empty()) {
    vkplatform::MessageBox("Нет данных для сохранения: ни одна трасса не показана.", "Сохранить как CSV",
                           vkplatform::MsgIcon::Warning);
    return false;
  }
  // A file name is proposed in a folder that exists (on a fresh account
  // the documents folder may not: the dialog then offered its name as the
  // file's).
  QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (dir.isEmpty() || !QDir(dir).exists()) dir = QDir::homePath();
  const QString proposed =
      dir + QStringLiteral("/трассы-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss")) +
      QStringLiteral(".csv");
  const QString file = ChooseFileName(parent, {QStringLiteral("Сохранить как CSV"),
                                               QStringLiteral("Файлы CSV (*.csv)"), QStringLiteral("csv"), proposed,
                                               true});
  if (file.isEmpty()) return false;
  const std::string text = MakeCsv(argumentTitle, argumentUnits, traces);
  if (vkplatform::WriteFileAtomically(file.toStdString(), text.data(), text.size()) != 0) {
    vkplatform::MessageBox("Ошибка при сохранении файла \"" + file.toStdString() + "\"", "Сохранить как CSV",
                           vkplatform::MsgIcon::Error);
    return false;
  }
  return true;
}

KORCHART_VARIANT_END
}  // namespace korchart
