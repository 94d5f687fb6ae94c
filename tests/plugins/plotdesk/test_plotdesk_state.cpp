// What a diagram keeps in its profile entry: the traces an operator made
// (data, memory with its points, math with its operands), their filters,
// names, colours and scales come back in a new diagram of the same scheme;
// a state of another version or a damaged one leaves a usable diagram and
// one message.
#include <gtest/gtest.h>

#include <QAction>
#include <QTreeWidget>

#include <cmath>
#include <string>
#include <vector>

#include "PlotDesk.h"
#include "PluginFeed.h"
#include "VKXml.h"
#include "filters/FilterAccumulation.h"
#include "filters/FilterQuantity.h"
#include "filters/FilterSmoothing.h"
#include "filters/FilterStat.h"
#include "model/TraceMath.h"
#include "platform/Report.h"
#include "ui/DiagramArea.h"

using namespace plotdesk;

namespace {

const char* const kTwoChannels = R"(<parameters><channels>
  <channel name="Передача" quantityr="дБ" quantitys="МГц"><trace/></channel>
  <channel name="Мощность" quantityr="мВт" quantitys="МГц"><trace/></channel></channels></parameters>)";

struct TDesk : TPluginFeed<TPlotDesk, 11> {
  TDesk() : TPluginFeed({}, kTwoChannels, "diagram", QSize(900, 600)) {}
  CDiagramArea& Area() { return *plugin.Area(); }
  void Sweep(size_t channel, const std::vector<double>& y) {
    std::vector<double> x(y.size());
    for (size_t i = 0; i < x.size(); ++i) x[i] = 100.0 + 10.0 * static_cast<double>(i);
    CChannel* c = plugin.Channels().at(channel).get();
    c->SetArraySize(y.size());
    c->Deliver(0, y.size(), x.data(), y.data());
  }
};

// Every cell of every row, and the check box.
std::vector<QStringList> Rows(CDiagramArea& area) {
  std::vector<QStringList> rows;
  for (int r = 0; r < area.List()->topLevelItemCount(); ++r) {
    QStringList cells;
    for (int c = 0; c < CDiagramArea::colCount; ++c) cells << area.Row(r)->text(c);
    cells << (area.Row(r)->checkState(CDiagramArea::colName) == Qt::Checked ? "on" : "off");
    rows.push_back(cells);
  }
  return rows;
}

bool Same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

}  // namespace

TEST(PlotDeskState, TracesFiltersAndMemoriesComeBack) {
  vkplatform::ReportCapture reports;
  VKCore::CXMLDocument profile;
  ASSERT_EQ(profile.New("parameters"), 0);
  std::vector<QStringList> rows;
  std::vector<TPoint> memoryRaw;
  std::vector<double> memoryShown;
  int selected = -1;
  {
    TDesk a;
    CDiagramArea& area = a.Area();
    ASSERT_EQ(area.Traces().size(), 2u);
    a.Sweep(0, {1, 2, NAN, 4, 5, -6, 7, 8, 9, 10, 1e-300});
    a.Sweep(1, {1, 10, 100, 1000, 0.5});
    auto* t1 = static_cast<CTraceData*>(area.Trace(0));
    auto* t2 = static_cast<CTraceData*>(area.Trace(1));
    static_cast<CFilterSmoothing*>(t1->Filter(2))->SetPercent(20);
    static_cast<CFilterAccumulation*>(t1->Filter(0))->SetDegree(3);
    static_cast<CFilterAccumulation*>(t1->Filter(0))->SetMode(CFilterAccumulation::Maximum);
    static_cast<CFilterQuantity*>(t2->Filter(1))->SetConversion(12);  // мВт -> Вт
    static_cast<CFilterStat*>(t2->Filter(3))->SetMode(CFilterStat::Deviation);
    t1->SetName("Вход");
    t1->SetColor(QColor("#123456"));
    t1->SetReferenceScale(-7.5, 2.5);
    t2->SetVisible(false);
    area.Select(0);
    CTraceStatic* memory = area.Memorize();
    ASSERT_NE(memory, nullptr);
    static_cast<CFilterSmoothing*>(memory->Filter(2))->SetPercent(30);
    CTraceMath* math = area.CreateMathTrace();
    math->SetOperand(1, t1);
    math->SetOperand(2, memory);
    math->SetOperation(4);
    area.SetReferencePosition(3);
    area.Select(area.IndexOf(memory));
    selected = area.Selected();
    rows = Rows(area);
    memoryRaw = memory->Raw();
    for (size_t i = 0; i < memory->PointCount(); ++i) memoryShown.push_back(memory->PointValue(i));
    ASSERT_EQ(memoryRaw.size(), 11u);
    ASSERT_EQ(a.plugin.DoSerialize(profile.Root(), nullptr), 0);
  }
  TDesk b;
  CDiagramArea& area = b.Area();
  // The scheme's own parameters (a start without a profile) change nothing.
  ASSERT_EQ(b.plugin.DoDeserialize(b.doc.Root(), nullptr), 0);
  ASSERT_EQ(area.Traces().size(), 2u);
  ASSERT_EQ(b.plugin.DoDeserialize(profile.Root(), nullptr), 0);
  ASSERT_EQ(area.Traces().size(), 4u);
  EXPECT_EQ(Rows(area), rows);
  EXPECT_EQ(area.ReferencePosition(), 3);
  EXPECT_EQ(area.Selected(), selected);
  EXPECT_EQ(area.Trace(0)->Color(), QColor("#123456"));
  EXPECT_DOUBLE_EQ(area.Trace(0)->ReferenceLevel(), -7.5);
  auto* accumulation = static_cast<CFilterAccumulation*>(area.Trace(0)->Filter(0));
  EXPECT_EQ(accumulation->Mode(), CFilterAccumulation::Maximum);
  EXPECT_EQ(accumulation->Degree(), 3);
  EXPECT_EQ(area.Trace(1)->DisplayedUnit(), "Вт");
  // The memory holds the same points and shows the same values.
  auto* memory = dynamic_cast<CTraceStatic*>(area.Trace(2));
  ASSERT_NE(memory, nullptr);
  ASSERT_EQ(memory->Raw().size(), memoryRaw.size());
  for (size_t i = 0; i < memoryRaw.size(); ++i) {
    EXPECT_TRUE(Same(memory->Raw()[i].x, memoryRaw[i].x)) << i;
    EXPECT_TRUE(Same(memory->Raw()[i].y, memoryRaw[i].y)) << i;
  }
  ASSERT_EQ(memory->PointCount(), memoryShown.size());
  for (size_t i = 0; i < memoryShown.size(); ++i) EXPECT_TRUE(Same(memory->PointValue(i), memoryShown[i])) << i;
  auto* math = dynamic_cast<CTraceMath*>(area.Trace(3));
  ASSERT_NE(math, nullptr);
  EXPECT_EQ(math->Operand(1), area.Trace(0));
  EXPECT_EQ(math->Operand(2), memory);
  EXPECT_EQ(math->Operation(), 4);
  // The data traces follow their channels again.
  b.Sweep(0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  EXPECT_EQ(area.Trace(0)->PointCount(), 11u);
  // Nothing said but the missing formula library of the link markers.
  EXPECT_EQ(reports.Count(), reports.CountText("предустановок"));
}

TEST(PlotDeskState, ForeignAndDamagedStatesLeaveAUsableDiagram) {
  vkplatform::ReportCapture reports;
  TDesk d;
  CDiagramArea& area = d.Area();
  // Another version: said, and nothing changes.
  VKCore::CXMLDocument other;
  ASSERT_EQ(other.OpenFromText(R"(<parameters><diagram version="7"><trace kind="data"/></diagram></parameters>)"), 0);
  EXPECT_EQ(d.plugin.DoDeserialize(other.Root(), nullptr), 0);
  EXPECT_EQ(area.Traces().size(), 2u);
  EXPECT_EQ(reports.CountText("другой версией"), 1u);

  std::string text = R"(<parameters><diagram version="1" refposition="abc" selected="99" headers="maybe">
    <trace kind="data" name="Хорошая" channel="1" channelname="Мощность" reference="1e400" scale="-5"
           accumulation="9" degree="40" conversion="3" window="nan" smoothing="yes"/>
    <trace kind="призрак" name="Чужая"/>
    <trace kind="memory" name="Пам" channel="99" channelname="Нет"><x values="1 2 3 abc"/><y values="5 6"/></trace>
    <trace kind="math" name="М" operand1="2" operand2="99" operation="12"/>
    <trace/>)";
  for (int i = 0; i < 70; ++i) text += R"(<trace kind="data" channel="0"/>)";
  text += "</diagram></parameters>";
  VKCore::CXMLDocument damaged;
  ASSERT_EQ(damaged.OpenFromText(text), 0);
  reports.Clear();
  EXPECT_EQ(d.plugin.DoDeserialize(damaged.Root(), nullptr), 0);
  // One message names what was left out.
  EXPECT_EQ(reports.Count(), 1u);
  EXPECT_EQ(reports.CountText("прочитано не полностью"), 1u);
  // 64 traces read, two of them of no kind.
  ASSERT_EQ(area.Traces().size(), 62u);
  CTrace* good = area.Trace(0);
  EXPECT_EQ(good->Name(), "Хорошая");
  EXPECT_EQ(good->Channel(), d.plugin.Channels()[1].get());
  EXPECT_EQ(good->DisplayedUnit(), "дБм");  // the channel's default conversion
  EXPECT_TRUE(std::isfinite(good->ReferenceLevel()));
  EXPECT_NEAR(good->Scale(), kMinScale, 1e-12);
  EXPECT_EQ(static_cast<CFilterAccumulation*>(good->Filter(0))->Mode(), CFilterAccumulation::Off);
  EXPECT_FALSE(static_cast<CFilterSmoothing*>(good->Filter(2))->On());
  auto* memory = dynamic_cast<CTraceStatic*>(area.Trace(1));
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(memory->Channel(), nullptr);
  EXPECT_EQ(memory->PointCount(), 2u);
  EXPECT_DOUBLE_EQ(memory->PointValue(1), 6);
  auto* math = dynamic_cast<CTraceMath*>(area.Trace(2));
  ASSERT_NE(math, nullptr);
  EXPECT_EQ(math->Operand(1), memory);
  EXPECT_EQ(math->Operand(2), nullptr);
  EXPECT_EQ(math->Operation(), 0);
  EXPECT_EQ(area.Selected(), 0);
  EXPECT_EQ(area.ReferencePosition(), 5);
  // The diagram goes on: data reach the traces read.
  d.Sweep(0, {1, 2, 3});
  EXPECT_EQ(area.Trace(3)->PointCount(), 3u);
}
