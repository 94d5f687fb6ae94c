// The markers on a chart: searches on the chart's own data, labels and
// statistics, link-marker formulas over Cyrillic series titles, the saved
// set read into a chart with other series, the auto search, the mouse, the
// keyboard, the menu and the argument editor, and the report of series data
// at fault. Built against both variants of the marker units.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <qcustomplot.h>

#include <cmath>
#include <memory>

#include "Screenshot.h"
#include "TestApp.h"
#include "TestHome.h"
#include "markers/LinkMarker.h"
#include "markers/MarkItems.h"
#include "markers/MarkerFile.h"
#include "GuiPlugin.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "platform/Com.h"
#include "platform/Report.h"
#include "report/DisplayQuery.h"

using namespace korchart;

namespace {

double Peak(double x) { return 10 - (x - 50) * (x - 50) / 50; }

QAction* FindAction(QMenu* menu, const char* name) {
  auto* a = menu ? menu->findChild<QAction*>(name) : nullptr;
  if (!a) ADD_FAILURE() << "no action " << name;
  return a;
}

class Markers : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    ASSERT_EQ(vkplatform::ComRegisterServer(VK_INTERPRETER_LIBRARY), S_OK);
    plot_ = std::make_unique<QCustomPlot>();
    plot_->resize(900, 500);
    plot_->xAxis->setProperty("units", "МГц");
    // "Фаза": a peak of 10 at 50; "Опора": a constant 2; "Шум": a ramp.
    for (const char* title : {"Фаза", "Опора", "Шум"}) {
      QCPGraph* g = plot_->addGraph();
      g->setName(QString::fromUtf8(title));
      g->setProperty("units", "дБ");
    }
    plot_->graph(0)->setPen(QPen(QColor(0xC0, 0x00, 0x00)));
    plot_->graph(1)->setPen(QPen(QColor(0x00, 0x80, 0x00)));
    plot_->graph(2)->setPen(QPen(QColor(0x00, 0x00, 0xC0)));
    for (int i = 0; i <= 100; ++i) {
      plot_->graph(0)->addData(i, Peak(i));
      plot_->graph(1)->addData(i, 2);
      plot_->graph(2)->addData(i, i / 10.0);
    }
    plot_->xAxis->setRange(0, 100);
    plot_->yAxis->setRange(-2, 12);
    plot_->show();
    marks_ = std::make_unique<MarksManager>(plot_.get(), 0, 20000);
    marks_->SetSeries({plot_->graph(0), plot_->graph(1), plot_->graph(2)});
    plot_->replot();
  }
  void TearDown() override {
    marks_.reset();
    plot_.reset();
  }

  Metka* Set(int index, EMarkAction action, int trace, double divergence = 0, bool right = false) {
    Metka* m = marks_->Mark(index);
    SMarkParams p = m->GetParams();
    p.enabled = true;
    p.action = action;
    p.linkTrace = trace;
    p.divergence = divergence;
    p.divergenceRight = right;
    m->SetParams(p);
    return m;
  }
  void Redraw() {
    plot_->replot();
    marks_->Update();
    plot_->replot();
  }
  QPoint IndicatorOf(int index) const {
    return marks_->Mark(index)->Item()->Layout().indicator.center().toPoint();
  }

  std::unique_ptr<QCustomPlot> plot_;
  std::unique_ptr<MarksManager> marks_;
};

}  // namespace

TEST_F(Markers, SearchesRunOnTheChartsOwnData) {
  // The peak, then 3 below it to the right, interpolated between 62 and 63.
  Metka* m = Set(0, EMarkAction::Maximum, 1);
  EXPECT_DOUBLE_EQ(m->GetFreq(), 50);
  m = Set(0, EMarkAction::Maximum, 1, 3, true);
  EXPECT_NEAR(m->GetFreq(), 62 + (7 - Peak(62)) / (Peak(63) - Peak(62)), 1e-12);
  // A level never crossed: not found, no cursor on the plot.
  m = Set(1, EMarkAction::Fixed, 1, 20);
  EXPECT_EQ(m->GetFreq(), kNotFound);
  EXPECT_FALSE(m->Placed());
  // The ramp crosses 3,5 at 35.
  m = Set(1, EMarkAction::Fixed, 3, 3.5);
  EXPECT_NEAR(m->GetFreq(), 35, 1e-12);
  // A level difference: "Фаза" minus "Опора" is 8 at the peak and 5 at 50±sqrt(150).
  SMarkParams p = m->GetParams();
  p.linkTrace = 1;
  p.deltaMeasure = true;
  p.deltaTrace = 2;
  p.divergence = 5;
  m->SetParams(p);
  EXPECT_NEAR(m->GetFreq(), 37 + (5 - (Peak(37) - 2)) / (Peak(38) - Peak(37)), 1e-12);
  // Position limits keep the search off the peak.
  m = Set(2, EMarkAction::Maximum, 1);
  p = m->GetParams();
  p.limitMin = 0;
  p.limitMax = 30;
  m->SetParams(p);
  EXPECT_DOUBLE_EQ(m->GetFreq(), 30);
  // Without tracking the marker stays where the search put it.
  p.tracking = false;
  p.limitMax = 40;
  m->SetParams(p);
  EXPECT_DOUBLE_EQ(m->GetFreq(), 40);
  EXPECT_EQ(m->GetParams().action, EMarkAction::Free);
  for (int i = 0; i <= 100; ++i) plot_->graph(0)->data()->clear();
  plot_->graph(0)->addData(0, 0);
  Redraw();
  EXPECT_DOUBLE_EQ(m->GetFreq(), 40);
}

TEST_F(Markers, LinkTraceThatIsHiddenOrGoneFallsBackToFreePosition) {
  Metka* m = Set(0, EMarkAction::Maximum, 1);
  plot_->graph(0)->setVisible(false);
  Redraw();
  EXPECT_EQ(m->GetParams().linkTrace, 0);
  EXPECT_EQ(m->GetParams().action, EMarkAction::Free);
  EXPECT_DOUBLE_EQ(m->GetFreq(), 50);  // where the last search left it
  EXPECT_EQ(m->GetSeriesValue(1), kNoValue);
  marks_->SetSeries({plot_->graph(1)});
  m = Set(1, EMarkAction::Minimum, 3);  // there is no series 3 now
  EXPECT_EQ(m->GetParams().linkTrace, 0);
}

TEST_F(Markers, LabelShowsTheArgumentTheSeriesAndTheirStatistics) {
  Metka* m = marks_->Mark(0);
  m->Activate();
  m->SetOnFreq(50.5);
  const std::vector<TLabelRow> rows = m->LabelRows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].text, "50,500 МГц");
  EXPECT_EQ(rows[1].text, "9,99 дБ");  // 10 - 0,25/50, rounded
  EXPECT_EQ(rows[1].color, 0xC00000);
  EXPECT_EQ(rows[2].text, "2,00 дБ");
  EXPECT_EQ(rows[3].text, "5,05 дБ");
  // A series hidden from the labels; a series without a value there.
  marks_->SetLabelState(2, false);
  EXPECT_EQ(m->LabelRows().size(), 3u);
  plot_->graph(2)->setVisible(false);
  m->UpdateList();
  EXPECT_EQ(m->LabelRows()[2].text, "-1000,00");
  plot_->graph(2)->setVisible(true);
  // Statistics over the values shown since the last reset.
  SMarkParams p = m->GetParams();
  p.showStatistics = true;
  p.shownSeries.fill(false);
  p.shownSeries[2] = true;
  m->SetParams(p);
  EXPECT_EQ(m->LabelRows()[1].statistics, "5,05 / 5,05 / 5,05 / -");  // as if taken
  EXPECT_EQ(m->GetStat(3).n, 0);  // not yet: only frames count
  marks_->Update();
  m->SetOnFreq(60);  // 6,00
  EXPECT_EQ(m->GetStat(3).n, 1);
  marks_->Update();
  EXPECT_EQ(m->GetStat(3).n, 2);
  EXPECT_DOUBLE_EQ(m->GetStat(3).Mean(), 5.525);
  EXPECT_EQ(m->LabelRows()[1].statistics, "5,05 / 5,53 / 6,00 / 0,67");
  marks_->ResetStatistics();
  EXPECT_EQ(m->GetStat(3).n, 0);
  // The difference of two levels, with their common unit.
  p = m->GetParams();
  p.deltaMeasure = true;
  p.linkTrace = 1;
  p.deltaTrace = 3;
  p.showStatistics = false;
  m->SetParams(p);
  EXPECT_EQ(m->LabelRows().back().text, "d 2,00 дБ");  // |8 - 6|
}

TEST_F(Markers, LinkMarkersComputeFormulasOverCyrillicTitles) {
  vkplatform::ReportCapture reports;
  marks_->Mark(0)->Activate();
  marks_->Mark(0)->SetOnFreq(40);
  marks_->Mark(1)->Activate();
  marks_->Mark(1)->SetOnFreq(50);
  LinkMarker* link = marks_->CreateLink(0, 1);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->Text(), "10,000");  // the default formula: |a - b|
  SLinkParams p = link->GetParams();
  p.expression = "б.Фаза-а.Фаза+м0.арг*0";
  p.print = "разность %зн, ср. %ср (%выб)";
  link->SetParams(p);
  EXPECT_DOUBLE_EQ(link->Value(), 2);
  EXPECT_EQ(link->Text(), "разность 2,000, ср. 2,000 (1,000)");
  marks_->Update();  // a frame: 2 is taken
  marks_->Mark(0)->SetOnFreq(45);  // 10 - 0,5 = 9,5 → 0,5
  EXPECT_EQ(link->Text(), "разность 0,500, ср. 1,250 (2,000)");
  marks_->Update();
  marks_->Update();
  EXPECT_EQ(link->Stat().n, 3);
  // A formula that does not parse is said so and shows 0.
  p.expression = "а.Фаза+";
  EXPECT_EQ(link->SetParams(p), -1);
  EXPECT_EQ(reports.CountText("Ошибка при синтаксическом разборе выражения"), 1u);
  EXPECT_EQ(link->Value(), 0);
  EXPECT_TRUE(marks_->CheckExpression("м1.Опора+б.арг"));
  EXPECT_FALSE(marks_->CheckExpression("м1.Нет+1"));
  // A link needs two markers, and there are ten.
  EXPECT_EQ(marks_->CreateLink(2, 2), nullptr);
  for (int i = 1; i < kLinkMarkerCount; ++i) EXPECT_NE(marks_->CreateLink(0, i % 9 + 1), nullptr);
  EXPECT_EQ(marks_->CreateLink(0, 1), nullptr);
}

TEST_F(Markers, WithoutTheInterpreterLinkMarkersShowZeroAfterOneWarning) {
  ASSERT_EQ(vkplatform::ComUnregisterServer(VK_INTERPRETER_LIBRARY), S_OK);
  vkplatform::ReportCapture reports;
  marks_->Mark(0)->Activate();
  marks_->Mark(1)->Activate();
  marks_->Mark(1)->SetOnFreq(70);
  LinkMarker* a = marks_->CreateLink(0, 1);
  LinkMarker* b = marks_->CreateLink(1, 0);
  EXPECT_EQ(a->Text(), "0,000");
  EXPECT_EQ(b->Text(), "0,000");
  EXPECT_EQ(reports.CountText("не зарегестрирован"), 1u);
}

TEST_F(Markers, SavedSetComesBackByTitleAndLeavesUnknownSeriesUnset) {
  Metka* m = Set(3, EMarkAction::Maximum, 1, 3, true);
  SMarkParams p = m->GetParams();
  p.limitMin = 10;
  p.showStatistics = true;
  p.argumentDigits = 4;
  p.shownSeries[1] = false;
  m->SetParams(p);
  marks_->Mark(4)->Activate();
  marks_->CreateLink(3, 4)->SetParams([] {
    SLinkParams l;
    l.used = true;
    l.markerA = 3;
    l.markerB = 4;
    l.description = "Полоса";
    l.expression = "а.арг-б.арг";
    return l;
  }());
  const std::string file = TestHome() + "/set.mrk";
  ASSERT_EQ(marks_->SaveToFile(file), 0);

  // The same chart again: everything as it was.
  auto again = std::make_unique<MarksManager>(plot_.get(), 0, 20000);
  marks_.reset();
  again->SetSeries({plot_->graph(0), plot_->graph(1), plot_->graph(2)});
  ASSERT_EQ(again->LoadFromFile(file), 0);
  const SMarkParams back = again->Mark(3)->GetParams();
  EXPECT_EQ(back.linkTrace, 1);
  EXPECT_EQ(back.action, EMarkAction::Maximum);
  EXPECT_TRUE(back.divergenceRight);
  EXPECT_EQ(back.argumentDigits, 4);
  EXPECT_FALSE(back.shownSeries[1]);
  EXPECT_TRUE(back.shownSeries[2]);
  EXPECT_EQ(again->Link(0)->GetParams().description, "Полоса");
  EXPECT_NEAR(again->Mark(3)->GetFreq(), 62.24, 0.01);

  // A chart whose series have other titles: the link trace stays unset.
  plot_->graph(0)->setName("S21");
  auto other = std::make_unique<MarksManager>(plot_.get(), 0, 20000);
  again.reset();
  other->SetSeries({plot_->graph(0), plot_->graph(1)});
  ASSERT_EQ(other->LoadFromFile(file), 0);
  EXPECT_EQ(other->Mark(3)->GetParams().linkTrace, 0);
  EXPECT_EQ(other->Mark(3)->GetParams().action, EMarkAction::Free);
  marks_ = std::move(other);

  // An XML node round trip, and a file that is not there.
  VKCore::CXMLDocument doc;
  ASSERT_EQ(OpenMarkerTemplate(doc), 0);
  ASSERT_EQ(marks_->WriteMarksToXMLNode(xmlDocGetRootElement(doc.Doc())), 0);
  EXPECT_EQ(marks_->ReadMarksFromXMLNode(xmlDocGetRootElement(doc.Doc())), 0);
  vkplatform::ReportCapture reports;
  const SMarkParams before = marks_->Mark(3)->GetParams();
  EXPECT_NE(marks_->LoadFromFile(TestHome() + "/missing.mrk"), 0);
  EXPECT_EQ(marks_->Mark(3)->GetParams().divergence, before.divergence);
}

TEST_F(Markers, AutoSearchMarksCandidatesAndTakesTheNearest) {
  // A sine with its top at 40 and its bottom at 90.
  plot_->graph(0)->data()->clear();
  for (int i = 0; i <= 100; ++i)
    plot_->graph(0)->addData(i, std::sin(i * 2 * M_PI / 100.0 - M_PI * 0.3) * 5);
  Metka* m = Set(0, EMarkAction::Free, 1);
  m->SetOnFreq(50);
  const int graphsBefore = plot_->graphCount();
  plot_->legend->setVisible(true);
  const int legendBefore = plot_->legend->itemCount();
  m->KeyPress(0x0424, Qt::NoModifier);  // "A" in the Russian layout
  EXPECT_TRUE(m->GetParams().extremeMode);
  EXPECT_EQ(plot_->graphCount(), graphsBefore + 2);
  EXPECT_TRUE(plot_->graph(graphsBefore)->name().isEmpty());
  EXPECT_EQ(plot_->legend->itemCount(), legendBefore);
  m->Deactivate();
  EXPECT_FALSE(plot_->graph(graphsBefore)->visible());
  m->Activate();
  EXPECT_TRUE(plot_->graph(graphsBefore)->visible());
  ASSERT_FALSE(m->Candidates().minima.empty());
  ASSERT_FALSE(m->Candidates().maxima.empty());
  m->KeyPress(Qt::Key_A, Qt::NoModifier);
  EXPECT_FALSE(m->GetParams().extremeMode);
  EXPECT_EQ(plot_->graphCount(), graphsBefore);
  // The nearest candidate to 50 is the top; the bottom bounds the search on
  // the right, the bottom axis's minimum on the left, where there is none.
  const SMarkParams p = m->GetParams();
  EXPECT_EQ(p.action, EMarkAction::Maximum);
  EXPECT_DOUBLE_EQ(m->GetFreq(), 40);
  EXPECT_DOUBLE_EQ(p.limitMin, 0);
  EXPECT_NEAR(p.limitMax, 90, 2);
}

TEST_F(Markers, MouseActivatesDragsAndLinksMarkers) {
  // A click on a tab of the strip activates the marker; one that would be
  // out of view comes to the middle of it.
  Metka* m = marks_->Mark(2);
  m->SetOnFreq(500);
  QTest::mouseClick(plot_.get(), Qt::LeftButton, Qt::NoModifier, IndicatorOf(2));
  ASSERT_TRUE(m->GetActivated());
  EXPECT_DOUBLE_EQ(m->GetFreq(), 50);
  EXPECT_EQ(marks_->FocusedMark(), 2);
  plot_->replot();
  // A drag moves it in free position.
  const QPoint from = IndicatorOf(2);
  QTest::mousePress(plot_.get(), Qt::LeftButton, Qt::NoModifier, from);
  QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(80, 0)), QPointF(plot_->mapToGlobal(from + QPoint(80, 0))),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(plot_.get(), &move);
  QTest::mouseRelease(plot_.get(), Qt::LeftButton, Qt::NoModifier, from + QPoint(80, 0));
  EXPECT_TRUE(m->GetActivated());
  EXPECT_NEAR(m->GetXPos(), from.x() + 80, 1);
  // A drag whose release never came ends with the next move without a button.
  plot_->replot();
  QTest::mousePress(plot_.get(), Qt::LeftButton, Qt::NoModifier, IndicatorOf(2));
  QMouseEvent hover(QEvent::MouseMove, QPointF(from), QPointF(plot_->mapToGlobal(from)), Qt::NoButton,
                    Qt::NoButton, Qt::NoModifier);
  const double kept = m->GetFreq();
  QApplication::sendEvent(plot_.get(), &hover);
  EXPECT_DOUBLE_EQ(m->GetFreq(), kept);
  // A click on the indicator of an active marker deactivates it.
  plot_->replot();
  QTest::mouseClick(plot_.get(), Qt::LeftButton, Qt::NoModifier, IndicatorOf(2));
  EXPECT_FALSE(m->GetActivated());
  // From one marker's connector onto another's indicator: a link marker.
  marks_->Mark(0)->Activate();
  marks_->Mark(0)->SetOnFreq(20);
  marks_->Mark(1)->Activate();
  marks_->Mark(1)->SetOnFreq(80);
  plot_->replot();
  const QPoint connector = marks_->Mark(0)->Item()->Layout().connector.center().toPoint();
  QTest::mousePress(plot_.get(), Qt::LeftButton, Qt::NoModifier, connector);
  QTest::mouseRelease(plot_.get(), Qt::LeftButton, Qt::NoModifier, IndicatorOf(1));
  ASSERT_TRUE(marks_->Link(0)->Used());
  EXPECT_EQ(marks_->Link(0)->Text(), "60,000");
  plot_->replot();
  EXPECT_TRUE(marks_->LinkAt(marks_->Link(0)->Item()->LabelRect().center().toPoint()) == 0);
  MaybeScreenshot(plot_.get(), "markers_on_plot");
}

TEST_F(Markers, KeysMenuAndArgumentEditor) {
  Metka* m = Set(0, EMarkAction::Free, 0);
  m->SetOnFreq(30);
  marks_->SetFocusedMark(0);
  plot_->setFocus();
  QTest::keyClick(plot_.get(), Qt::Key_3, Qt::ControlModifier);
  EXPECT_EQ(m->GetParams().linkTrace, 3);
  QTest::keyClick(plot_.get(), Qt::Key_T);
  EXPECT_FALSE(m->GetParams().tracking);
  QTest::keyClick(plot_.get(), Qt::Key_Right);
  EXPECT_DOUBLE_EQ(m->GetFreq(), 20000);
  QTest::keyClick(plot_.get(), Qt::Key_V);
  EXPECT_FALSE(m->GetActivated());
  QTest::keyClick(plot_.get(), Qt::Key_V);
  EXPECT_TRUE(m->GetActivated());
  EXPECT_DOUBLE_EQ(m->GetFreq(), 50);  // back into view
  plot_->replot();

  // The menu over the indicator, with the series under the mouse.
  QTest::mouseClick(plot_.get(), Qt::RightButton, Qt::NoModifier, IndicatorOf(0));
  QMenu* menu = marks_->LastMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(FindAction(menu, "MenuActive")->isChecked());
  EXPECT_EQ(FindAction(menu, "MenuFree")->text(), "Свободное положение");
  // Without tracking the search runs once and the marker stays there.
  FindAction(menu, "MenuMaximum")->trigger();
  EXPECT_DOUBLE_EQ(m->GetFreq(), 100);
  EXPECT_EQ(m->GetParams().action, EMarkAction::Free);
  menu->close();
  delete m->CreateMenu(plot_.get(), 1);
  std::unique_ptr<QMenu> own(m->CreateMenu(plot_.get(), 1));
  EXPECT_EQ(FindAction(own.get(), "MenuHideTrace")->text(), "Не отображать трассу \"Фаза\"");
  FindAction(own.get(), "MenuHideTrace")->trigger();
  EXPECT_FALSE(m->GetParams().shownSeries[0]);

  // The editor over the argument row takes digits and the comma only.
  m->SetOnFreq(30);
  plot_->replot();
  const QPoint label = m->Item()->Layout().label.center().toPoint();
  QTest::mouseClick(plot_.get(), Qt::LeftButton, Qt::NoModifier, label);
  QLineEdit* edit = m->Editor();
  ASSERT_NE(edit, nullptr);
  ASSERT_TRUE(edit->isVisible());
  edit->clear();
  QTest::keyClicks(edit, "1x2,5");
  EXPECT_EQ(edit->text(), "12,5");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_DOUBLE_EQ(m->GetFreq(), 12.5);
  EXPECT_FALSE(edit->isVisible());
  m->ActivateEdit();
  edit->setText("1,2,3");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_TRUE(edit->isVisible());
  EXPECT_FALSE(edit->styleSheet().isEmpty());
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_FALSE(edit->isVisible());
  EXPECT_DOUBLE_EQ(m->GetFreq(), 12.5);
}

TEST_F(Markers, SeriesDataAtFaultAreReportedOnceThroughTheBuildsCheckBox) {
  vkplatform::ReportCapture reports;
  QCPGraph* bad = plot_->addGraph();
  bad->setName("Плохая");
  // Out of order on purpose: the container would sort, so the keys are set in place.
  bad->data()->set({QCPGraphData(0, 1), QCPGraphData(10, 2), QCPGraphData(20, 3), QCPGraphData(30, 4)}, true);
  (bad->data()->begin() + 2)->key = 5;
  marks_->SetSeries({bad});
  Metka* m = marks_->Mark(0);
  m->Activate();
  m->SetOnFreq(15);
  Redraw();
  EXPECT_EQ(reports.Count(), 0u);  // not in the middle of a frame
  QCoreApplication::processEvents();
  ASSERT_EQ(reports.Count(), 1u);
  const vkplatform::Report r = reports.Reports().front();
  EXPECT_TRUE(r.assertion);
  EXPECT_EQ(r.expression, "find_nearest_val_indexes: vector<T> не упорядочен");
  if constexpr (kDiagramBuild) {
    EXPECT_EQ(r.caption, "HRCHECK: ");
    EXPECT_NE(r.text.find("Press [Y]es to terminate"), std::string::npos);
  } else {
    EXPECT_EQ(r.caption, "Ошибка");
    EXPECT_EQ(r.text.rfind("Во время выполнения программы возникла неизвестная ошибка.", 0), 0u);
  }
}

TEST_F(Markers, SeriesWithoutCurveHaveNoValueAndNoReport) {
  vkplatform::ReportCapture reports;
  plot_->graph(2)->data()->clear();
  Metka* m = marks_->Mark(0);
  m->Activate();
  Redraw();
  QCoreApplication::processEvents();
  EXPECT_EQ(m->ReadValue(3), kNoValue);
  EXPECT_EQ(m->LabelRows().back().text, "-1000,00");
  EXPECT_EQ(reports.Count(), 0u);
}

TEST_F(Markers, LinkDialogAcceptsWithoutTheInterpreter) {
  ASSERT_EQ(vkplatform::ComUnregisterServer(VK_INTERPRETER_LIBRARY), S_OK);
  vkplatform::ReportCapture reports;
  LinkMarker* link = marks_->CreateLink(0, 1);
  ASSERT_TRUE(marks_->InterpreterMissing());
  const TModalDialogHook previous = SetModalDialogHook([](QDialog* d) {
    d->findChild<QLineEdit*>("EditName")->setText("Полоса");
    d->findChild<QLineEdit*>("EditExpression")->setText("а.арг-б.арг");
    d->findChild<QPushButton*>("ButtonOK")->click();
    return d->result();
  });
  EXPECT_EQ(link->ShowProperties(), QDialog::Accepted);
  SetModalDialogHook(previous);
  EXPECT_EQ(link->GetParams().description, "Полоса");
  EXPECT_EQ(reports.CountText("Ошибка при синтаксическом разборе выражения"), 0u);
}

TEST_F(Markers, ActivatedFalsePutsActiveMarkersAsideAndBringsThemBack) {
  marks_->Mark(0)->Activate();
  marks_->Mark(2)->Activate();
  marks_->SetActivated(false);
  EXPECT_FALSE(marks_->Mark(0)->GetActivated());
  EXPECT_TRUE(marks_->Mark(0)->GetStandby());
  EXPECT_FALSE(marks_->Mark(1)->GetStandby());
  marks_->Mark(1)->Activate();  // the operator's own, kept
  marks_->SetActivated(true);
  EXPECT_TRUE(marks_->Mark(0)->GetActivated());
  EXPECT_TRUE(marks_->Mark(2)->GetActivated());
  EXPECT_TRUE(marks_->Mark(1)->GetActivated());
}

// A reading that does not exist reads "-1000,00" wherever it is shown: a
// label row (no unit, whatever the digits), a level difference, a link
// marker whose formula reads a marker that found nothing, is off, or stands
// where a series has no value; such a link takes nothing into its
// statistics and the display's answer says the same.
TEST_F(Markers, ReadingsWithoutAValueShowTheNoValueText) {
  Metka* a = marks_->Mark(0);
  a->Activate();
  a->SetOnFreq(40);
  Metka* b = Set(1, EMarkAction::Fixed, 1, 20);  // a level never crossed
  ASSERT_EQ(b->GetFreq(), kNotFound);
  LinkMarker* link = marks_->CreateLink(0, 1);
  ASSERT_NE(link, nullptr);
  EXPECT_FALSE(link->HasValue());
  EXPECT_EQ(link->Value(), kNoValue);
  EXPECT_EQ(link->Text(), "-1000,00");
  SLinkParams p = link->GetParams();
  p.print = "df %зн, ср. %ср (%выб)";
  link->SetParams(p);
  marks_->Update();
  EXPECT_EQ(link->Text(), "df -1000,00, ср. - (0,000)");
  EXPECT_EQ(link->Stat().n, 0);
  TDisplay display;
  display.marks = marks_.get();
  std::string answer;
  ASSERT_EQ(AnswerDisplayQuery("link 0", display, answer), 0);
  EXPECT_EQ(answer, "df -1000,00, ср. - (0,000)");
  ASSERT_EQ(AnswerDisplayQuery("marker 1", display, answer), 0);
  EXPECT_EQ(answer.substr(0, answer.find(',')), "");  // no argument either
  // A formula that does not read the marker that found nothing has a value.
  p.print.clear();
  p.expression = "а.арг+а.Фаза";
  link->SetParams(p);
  EXPECT_TRUE(link->HasValue());
  EXPECT_EQ(link->Text(), "48,000");  // 40 + 8
  // A marker that is off has no readings (not the last ones it had).
  p.expression = "м5.арг+1";
  link->SetParams(p);
  EXPECT_EQ(link->Text(), "-1000,00");
  // A series without a value at the marker ("Шум" ends at 30): that
  // reading only, and nothing of it goes into the statistics.
  plot_->graph(2)->data()->clear();
  for (int i = 0; i <= 30; ++i) plot_->graph(2)->addData(i, i / 10.0);
  Set(1, EMarkAction::Free, 0)->SetOnFreq(50);
  p.expression = "б.Шум+1";
  p.print = "%зн %выб";
  link->SetParams(p);
  marks_->Update();
  EXPECT_EQ(link->Text(), "-1000,00 0,000");
  EXPECT_EQ(link->Stat().n, 0);
  p.expression = "б.Фаза-а.Фаза";
  p.print.clear();
  link->SetParams(p);
  EXPECT_EQ(link->Text(), "2,000");
  // The label: no unit after the no-value text, whatever the digits; the
  // difference of two levels with one missing has none either.
  SMarkParams mp = b->GetParams();
  mp.valueDigits = 4;
  mp.deltaMeasure = true;
  mp.linkTrace = 1;
  mp.deltaTrace = 3;
  b->SetParams(mp);
  ASSERT_EQ(b->LabelRows().size(), 5u);
  EXPECT_EQ(b->LabelRows()[1].text, "10,0000 дБ");
  EXPECT_EQ(b->LabelRows()[3].text, "-1000,00");
  EXPECT_EQ(b->LabelRows()[4].text, "d -1000,00");
}

// A label that shows no series comes back from a file showing none, with
// the value digits it had.
TEST_F(Markers, LabelWithoutSeriesAndItsDigitsComeBackFromAFile) {
  Metka* m = marks_->Mark(2);
  m->Activate();
  SMarkParams p = m->GetParams();
  p.shownSeries.fill(false);
  p.valueDigits = 4;
  m->SetParams(p);
  const std::string file = TestHome() + "/no-series.mrk";
  ASSERT_EQ(marks_->SaveToFile(file), 0);
  auto again = std::make_unique<MarksManager>(plot_.get(), 0, 20000);
  marks_.reset();
  again->SetSeries({plot_->graph(0), plot_->graph(1), plot_->graph(2)});
  ASSERT_EQ(again->LoadFromFile(file), 0);
  const SMarkParams back = again->Mark(2)->GetParams();
  for (int n = 0; n < 3; ++n) EXPECT_FALSE(back.shownSeries[static_cast<size_t>(n)]) << n;
  EXPECT_EQ(back.valueDigits, 4);
  EXPECT_EQ(again->Mark(2)->LabelRows().size(), 1u);  // the argument only
  // A marker that shows them all still does.
  EXPECT_TRUE(again->Mark(0)->GetParams().shownSeries[1]);
  // The set kept across a change of series: a series that came meanwhile is
  // shown, the ones left out stay out.
  const TMarkerSet kept = again->GetMarkerSet();
  QCPGraph* added = plot_->addGraph();
  added->setName("Новая");
  again->SetSeries({plot_->graph(0), plot_->graph(1), plot_->graph(2), added});
  again->SetMarkerSet(kept, false);
  EXPECT_FALSE(again->Mark(2)->GetParams().shownSeries[0]);
  EXPECT_TRUE(again->Mark(2)->GetParams().shownSeries[3]);
  EXPECT_TRUE(again->Mark(0)->GetParams().shownSeries[3]);
  marks_ = std::move(again);
}

// Statistics start again from the link marker's menu and from the display's
// automation; and by themselves when a series' arguments change (a new sweep
// range), but not when a sweep only grows or its values change.
TEST_F(Markers, StatisticsStartAgainOnRequestAndWithANewSweepRange) {
  marks_->Mark(0)->Activate();
  marks_->Mark(0)->SetOnFreq(30);  // "Фаза" 2
  Metka* m = marks_->Mark(1);
  m->Activate();
  m->SetOnFreq(80);  // "Фаза" -8
  SMarkParams mp = m->GetParams();
  mp.showStatistics = true;
  m->SetParams(mp);
  LinkMarker* link = marks_->CreateLink(0, 1);
  SLinkParams lp = link->GetParams();
  lp.expression = "а.Фаза";
  lp.print = "%ср (%выб)";
  link->SetParams(lp);
  for (int i = 0; i < 3; ++i) Redraw();
  ASSERT_EQ(link->Stat().n, 3);
  ASSERT_EQ(m->GetStat(1).n, 3);
  // The link marker's menu.
  const QPoint label = link->LabelRect().center().toPoint();
  ASSERT_EQ(marks_->LinkAt(label), 0);
  ASSERT_EQ(marks_->MarkAtLabel(label), -1);
  QTest::mouseClick(plot_.get(), Qt::RightButton, Qt::NoModifier, label);
  QAction* reset = FindAction(marks_->LastMenu(), "MenuLinkResetStatistics");
  ASSERT_NE(reset, nullptr);
  EXPECT_EQ(reset->text(), "Сбросить статистику");
  reset->trigger();
  EXPECT_EQ(link->Stat().n, 0);
  EXPECT_EQ(link->Text(), "2,000 (1,000)");  // as if this frame's were taken
  EXPECT_EQ(m->GetStat(1).n, 3);  // the marker's are its own
  marks_->LastMenu()->close();
  // Automation: all of them, the labels at once.
  TDisplay display;
  display.marks = marks_.get();
  std::string answer;
  ASSERT_EQ(AnswerDisplayQuery("statistics reset", display, answer), 0);
  EXPECT_EQ(m->GetStat(1).n, 0);
  EXPECT_EQ(m->LabelRows()[1].statistics, "-8,00 / -8,00 / -8,00 / -");
  EXPECT_NE(AnswerDisplayQuery("statistics", display, answer), 0);
  for (int i = 0; i < 2; ++i) Redraw();
  ASSERT_EQ(m->GetStat(1).n, 2);
  // The values change in place, then the sweep grows: the same range.
  for (auto it = plot_->graph(0)->data()->begin(); it != plot_->graph(0)->data()->end(); ++it) it->value += 1;
  Redraw();
  for (int i = 101; i <= 120; ++i) plot_->graph(0)->addData(i, Peak(i));
  Redraw();
  EXPECT_EQ(m->GetStat(1).n, 4);
  EXPECT_EQ(link->Stat().n, 4);
  // A new range: the mean is of the new range's values only.
  plot_->graph(0)->data()->clear();
  for (int i = 10; i <= 110; ++i) plot_->graph(0)->addData(i, 3);
  Redraw();
  EXPECT_EQ(m->GetStat(1).n, 1);
  EXPECT_DOUBLE_EQ(m->GetStat(1).Mean(), 3);
  EXPECT_EQ(link->Stat().n, 1);
  EXPECT_DOUBLE_EQ(link->Stat().Mean(), 3);
}
