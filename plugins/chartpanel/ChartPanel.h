#pragma once
// The chart panel: up to three curves over one argument vector ("F" with
// "A" on the left axis, "B" on the right, "R" on the left) on a chart with
// markers and reports, and nine memory copies of curves to compare with.
//
// A frame is a packet on every wired input; the chart is told of frames
// with event 1579 (see TFramePlugin).
//
// Each curve may have limit lines (the parameters' and the saved state's
// <limits curve="N">, or "Границы допуска" in the chart's menu): every sweep
// taken whole is judged against them, the points that broke them are drawn
// red, and a verdict label is shown for each judged curve and for the chart.
#include <QPointer>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "ChartPanelSettings.h"
#include "FramePlugin.h"
#include "limits/LimitDrawing.h"
#include "limits/LimitLines.h"
#include "limits/Outcome.h"

class QCPGraph;
class QMenu;
class QToolButton;
namespace korchart {
class TKorChart;
}

class TChartPanel : public TFramePlugin {
 public:
  // The data-ready event, as the plug-in's thread posts it to the chart.
  static constexpr int kDataReadyEvent = 1579;
  static constexpr int kCurveCount = 3;
  static constexpr int kMemoryCount = 9;

  TChartPanel();
  ~TChartPanel() override;

  int Register() override;
  int Initialize(QWidget* parent, xmlNode* node) override;
  int Finalize() override;
  // Automation's questions: sweeps, trace, marker N, link N, report html|pdf FILE,
  // limits verdict|state|data (curve N: 0..2, see AnswerDisplayQuery).
  int Query(const AnsiString& request, AnsiString& answer) override;
  // The saved state: each curve's limit lines (see WriteCurveLimits).
  int Serialize(xmlNode* element, const char* section) override;
  int Deserialize(xmlNode* element, const char* section) override;

  // Places the chart on the host panel and its buttons on the chart.
  void ParentResize() override;

  // Series: 0..2 the curves ("Левый", "Правый", "Вспомогательный"), 3..11
  // the memory series ("Память1".."Память9").
  QCPGraph* Series(int index) const;
  void SetSeriesState(int series, bool active);
  // Copies all points of series `source` into memory series `memory`
  // (0..8), on the source's axis, and shows it.
  void MemoSeries(int memory, int source);
  void MemoButtonClick(int slot);
  // A right click on a memory button opens its menu.
  void MemoButtonMouseDown(int slot, Qt::MouseButton button);
  void MemoryPopUpSelectLineToMemo(int source);
  void MemoryPopUpHideMemoLine();
  void pumMemoryPopup();
  void UpdateMemoryButton(int slot);
  void UpdateMemoryButtons();
  void LoadMarkers();
  void SaveMarkers();
  void ShowReport();
  // "Сохранить как CSV...": the argument and every curve and memory shown.
  void SaveCsv();
  std::string ArgumentTitle() const;

  // Limit lines. Setting a curve's judges its last whole sweep again.
  const korchart::TLimitLines& CurveLimits(int curve) const { return limits_[static_cast<size_t>(curve)]; }
  void SetCurveLimits(int curve, const korchart::TLimitLines& limits);
  // "Границы допуска": the dialog for a curve; true when it was accepted.
  bool EditCurveLimits(int curve);
  // The last whole sweep's verdict of a curve (nothing judged while its
  // limits are off or empty, or its input is not wired) and the chart's.
  const korchart::TLimitVerdict& CurveVerdict(int curve) const { return verdicts_[static_cast<size_t>(curve)]; }
  // The display's verdict: the curves' limits and the link markers'.
  korchart::TLimitVerdict ChartVerdict() const;
  korchart::TDisplayOutcome CurrentOutcome() const;
  // What the operator calls curve `curve` (its axis's quantity, or its place).
  std::string CurveName(int curve) const;
  korchart::TLimitDrawing* LimitDrawing(int curve) const { return limitDrawings_[static_cast<size_t>(curve)].get(); }
  korchart::TVerdictLabel* ChartVerdictLabel() const { return chartLabel_.get(); }

  korchart::TKorChart* Chart() const { return chart_; }
  QToolButton* MemoryButton(int slot) const { return memoButtons_[static_cast<size_t>(slot)]; }
  QMenu* MemoryMenu() const { return pumMemory_; }
  int MemorySource(int slot) const { return memoSource_[static_cast<size_t>(slot)]; }
  const chartpanel::TChartSettings& Settings() const { return settings_; }

 private:
  bool AllWiredReady() const;
  bool FrameReady() const override { return AllWiredReady(); }
  bool TakeFrame() override;
  void Draw() override;
  // Copies each wired curve's sweep (just taken whole) and judges it.
  void TakeWholeSweep();
  void Judge(int curve);
  void ShowChartVerdict();

  chartpanel::TChartSettings settings_;
  std::array<CInLinkPoint*, 4> inputs_{};
  QPointer<QWidget> panel_;
  QPointer<korchart::TKorChart> chart_;
  std::array<QCPGraph*, kCurveCount + kMemoryCount> series_{};
  std::array<QToolButton*, 4> tools_{};
  std::array<QToolButton*, kMemoryCount> memoButtons_{};
  std::array<int, kMemoryCount> memoSource_{};
  QMenu* pumMemory_ = nullptr;
  int menuSlot_ = 0;
  unsigned fullSize_ = 0;
  std::string lastFailure_;  // the failed check said last (said once)
  // Sweeps taken whole (their parts from 0 to the end, one after the
  // other), and redraws (also the chart's properties "sweepsTaken" and
  // "framesDrawn"); where the sweep being taken goes on, and whether it
  // is whole so far.
  unsigned long long sweepsTaken_ = 0, framesDrawn_ = 0;
  // The sweeps taken whole before the last redraw, which placed the
  // markers on them: what automation waits for before it reads a marker.
  unsigned long long sweepsMarked_ = 0;
  unsigned long long sweepSent_ = 0;  // the sweep whose verdict went out last
  COutLinkPoint* verdictOut_ = nullptr;
  unsigned sweepNext_ = 0;
  bool sweepWhole_ = false;
  // Limit lines, the last whole sweep of each curve (judged again when the
  // limits change) and its verdict.
  chartpanel::TCurveLimits limits_;
  std::array<korchart::TLimitVerdict, kCurveCount> verdicts_{};
  std::array<std::vector<double>, kCurveCount> sweepX_, sweepY_;
  std::array<std::unique_ptr<korchart::TLimitDrawing>, kCurveCount> limitDrawings_;
  std::unique_ptr<korchart::TVerdictLabel> chartLabel_;
};
static_assert(TChartPanel::kCurveCount == chartpanel::kCurves);
