// "Сохранить как CSV...": the table another program reads back as the
// display showed it, whatever the locale, whatever the traces' grids.
#include <gtest/gtest.h>

#include <qcustomplot.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "GuiPlugin.h"
#include "TestApp.h"
#include "TestHome.h"
#include "platform/Report.h"
#include "report/CsvExport.h"

using namespace korchart;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

// Same grids by index, other grids interpolated, nothing outside a trace's
// range; titles with commas quoted; a point for decimals even in a locale
// that writes commas; a value that is no number leaves its field empty.
TEST(CsvExport, TableOfTracesOnTheirGrids) {
  const char* old = std::setlocale(LC_NUMERIC, "ru_RU.UTF-8");
  const std::vector<TCsvTrace> traces = {
      {"Трс1", "дБ", {100, 200, 300, 400}, {-1.5, -2.25, NAN, 0.1}},
      {"S21, \"фильтр\"", "", {100, 200, 300, 400}, {1, 2, 3, 4}},
      {"Пам1", "дБ", {150, 250, 350}, {10, 20, 30}},
  };
  const auto lines = Lines(MakeCsv("Частота", "МГц", traces));
  if (old) std::setlocale(LC_NUMERIC, "C");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "\"Частота, МГц\",\"Трс1, дБ\",\"S21, \"\"фильтр\"\"\",\"Пам1, дБ\"");
  EXPECT_EQ(lines[1], "100,-1.5,1,");     // before the memory's first point
  EXPECT_EQ(lines[2], "200,-2.25,2,15");  // halfway between 150 and 250
  EXPECT_EQ(lines[3], "300,,3,25");
  EXPECT_EQ(lines[4], "400,0.1,4,");
  EXPECT_EQ(MakeCsv("Частота", "", {}), "");
}

// The traces a chart shows: hidden and empty graphs are left out, names and
// units come from the graphs; the file is written whole, and a place that
// takes no file is said without a file left behind.
TEST(CsvExport, SavesWhatTheChartShows) {
  TestApp();
  QCustomPlot plot;
  QCPGraph* shown = plot.addGraph();
  shown->setName("Левый");
  shown->setProperty("units", "дБ");
  shown->setData({1, 2}, {-3, -4});
  QCPGraph* hidden = plot.addGraph();
  hidden->setData({1, 2}, {5, 6});
  hidden->setVisible(false);
  plot.addGraph()->setName("Пустой");
  const auto traces = TracesOf({shown, hidden, plot.graph(2), nullptr});
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0].units, "дБ");

  const std::string file = TestHome() + "/sweep.csv";
  vkplatform::ReportCapture reports;
  std::string answer = file;
  auto previous = SetFileDialogHook([&](const TFileDialogRequest& r) {
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.defaultSuffix, "csv");
    return QString::fromStdString(answer);
  });
  EXPECT_TRUE(SaveCsvDialog(&plot, "Частота", "МГц", {shown, hidden}));
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(Lines(text.str()), (std::vector<std::string>{"\"Частота, МГц\",\"Левый, дБ\"", "1,-3", "2,-4"}));

  answer = TestHome() + "/no/such/folder/sweep.csv";
  EXPECT_FALSE(SaveCsvDialog(&plot, "Частота", "МГц", {shown}));
  EXPECT_EQ(reports.CountText("Ошибка при сохранении файла"), 1u);
  EXPECT_FALSE(std::filesystem::exists(answer));
  EXPECT_FALSE(SaveCsvDialog(&plot, "Частота", "МГц", {hidden}));
  EXPECT_EQ(reports.CountText("Нет данных для сохранения"), 1u);
  SetFileDialogHook(previous);
}
