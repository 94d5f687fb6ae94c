#pragma once
// The diagram area: a trace list above a chart with ten divisions, on a
// panel of the host. It listens to every channel (the bottom axis follows
// the stimulus range), owns the traces, their markers and the report form,
// and offers the actions and menus an operator works with.
//
// Everything here runs in the GUI thread.
#include <QColor>
#include <QPointer>
#include <QWidget>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/Channel.h"
#include "model/Trace.h"

class QAction;
class QCustomPlot;
class QCPItemLine;
class QCPItemPixmap;
class QLabel;
class QMenu;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace korchart {
inline namespace diagram {
class MarksManager;
class TLimitDrawing;
class TVerdictLabel;
class TfrmReportManager;
}  // namespace diagram
}  // namespace korchart

namespace plotdesk {

class CTraceMath;

// The area's panel: it wants the arrow keys (they move the selection in
// the trace list) and hands the wheel to the area.
class TExPanel : public QWidget {
 public:
  using QWidget::QWidget;
};

class CDiagramArea : public CChannelSubscriber {
 public:
  // The actions, in their order.
  enum EAction {
    actDelete, actMemorize, actNewDataTrace, actNewMathTrace, actOpenMarkers, actSaveMarkers, actReport,
    actSaveCsv, actColumnHeaders, actCount
  };
  // The trace list's columns.
  enum EColumn { colName, colChannel, colReference, colScale, colKind, colFilters, colCount };

  CDiagramArea(QWidget* parent, bool fastLine);
  ~CDiagramArea() override;

  TExPanel* Panel() const { return panel_; }
  QTreeWidget* List() const { return list_; }
  QSplitter* Splitter() const { return splitter_; }
  QCustomPlot* Chart() const { return chart_; }
  QLabel* FpsLabel() const { return fps_; }
  QAction* Action(int index) const { return actions_[static_cast<size_t>(index)]; }
  QMenu* ChartMenu() const { return chartMenu_; }
  QMenu* ListMenu() const { return listMenu_; }
  korchart::MarksManager* Marks() const { return marks_.get(); }
  bool FastLine() const { return fastLine_; }

  // Channels: the area listens to each one it is given.
  void AddChannel(CChannel* channel);
  void ChannelChanged(CChannel* channel) override;
  void ChannelDataComplete(CChannel* channel) override;

  // Traces, in creation order; the new one is selected.
  CTraceData* CreateDataTrace(CChannel* channel);
  // A memory copy of the selected trace (nothing, after a box, when it has
  // no points).
  CTraceStatic* Memorize();
  CTraceStatic* CreateMemoryTrace(CChannel* channel);
  CTraceMath* CreateMathTrace();
  void DeleteTrace(int index);
  const std::vector<std::unique_ptr<CTrace>>& Traces() const { return traces_; }
  CTrace* Trace(int index) const;
  int IndexOf(const CTrace* trace) const;
  CTrace* FindTrace(const std::string& name) const;
  int Selected() const { return selected_; }
  void Select(int index);
  // The name the next trace of a kind gets ("Трс", "Пам", "Мат").
  std::string NewName(const std::string& prefix) const;
  // Math traces recompute what an operand has just drawn.
  void OperandUpdated(const CTraceMathSource* source, const TTraceUpdate& update);

  // The reference position of every trace (whole divisions from the top).
  int ReferencePosition() const { return refPosition_; }
  void SetReferencePosition(int position);
  // The left axis shows the selected trace's display range.
  void ShowRangeOnLeftAxis(const TDisplayRange& range);

  // The row of a trace, made anew from the trace.
  void RefreshRow(const CTrace* trace);
  QTreeWidgetItem* Row(int index) const;
  // Edits a cell of a row in place (the name, reference and scale cells).
  void EditCell(int row, int column);
  // What an edit of a cell gives; a text that is no number is ignored.
  void CellEdited(int row, int column, const QString& text);
  void ChooseColor(int row);
  // The list's height in whole rows while its splitter moves.
  int RoundListHeight(int height) const;
  void SetColumnHeaders(bool shown);

  // The trace list's menu, made anew: the area's items, then the trace's.
  void RebuildListMenu();
  void PopupListMenu(const QPoint& global);
  void LoadMarkers();
  void SaveMarkers();
  void ShowReport();
  korchart::TfrmReportManager* Report();
  // The traces' series in the list's order (their values in the units shown).
  std::vector<QCPGraph*> TraceSeries() const;
  std::string ArgumentUnits() const;
  // The report's title of each series: name(channel оп.ref/scale unit).
  std::vector<std::string> ReportTitles() const;

  // Limit lines: every trace's are judged when a channel's sweep is whole
  // (and when they change); the display's verdict folds the traces'.
  void JudgeLimits();
  const korchart::TLimitVerdict& Verdict() const { return verdict_; }
  // Draws each trace's limits, failing points and verdict, and the
  // display's verdict (`display`, which counts its link markers too).
  void ShowLimits();
  void ShowDisplayVerdict(const korchart::TLimitVerdict& display);
  // The limit dialog for trace `index`.
  void EditLimits(int index);
  korchart::TLimitDrawing* LimitDrawing(const CTrace* trace) const;
  korchart::TVerdictLabel* DisplayVerdictLabel() const { return displayLabel_.get(); }
  unsigned long long SweepsJudged() const { return sweepsJudged_; }

  // A trace's sweep is complete: the next frame's markers search again.
  void MarkersDue() { markersDue_ = true; }
  // Shows the frames per second when the label is on.
  void ShowFrameRate(double fps);
  void Redraw();
  // Fired when a wheel notch or a key moved the reference position.
  void Wheel(int delta);
  bool HandleKey(int key);

 private:
  class TFilter;
  void BuildWidgets(QWidget* parent);
  void BuildActions();
  void AddTrace(std::unique_ptr<CTrace> trace);
  void SeriesChanged();
  void UpdateReferenceMark();
  QColor NextColor() const;
  QIcon RowIcon(const QColor& color) const;

  bool fastLine_;
  QPointer<TExPanel> panel_;
  QTreeWidget* list_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QCustomPlot* chart_ = nullptr;
  QLabel* fps_ = nullptr;
  QMenu* chartMenu_ = nullptr;
  QMenu* listMenu_ = nullptr;
  std::array<QAction*, actCount> actions_{};
  QCPItemLine* refLine_ = nullptr;
  QCPItemPixmap* refMark_ = nullptr;
  std::unique_ptr<TFilter> filter_;
  std::unique_ptr<korchart::MarksManager> marks_;
  QPointer<korchart::TfrmReportManager> report_;
  std::vector<std::unique_ptr<CTrace>> traces_;
  int selected_ = -1;
  int refPosition_ = 5;
  bool markersDue_ = true;
  bool stimulusKnown_ = false;  // a stimulus range has come
  korchart::TLimitVerdict verdict_;
  unsigned long long sweepsJudged_ = 0;
  std::map<const CChannel*, unsigned long long> wholeSweepsSeen_;
  struct TDrawnLimits {
    QCPAxis* axis = nullptr;
    int labelIndex = 0;
    korchart::TLimitLines limits;
    std::unique_ptr<korchart::TLimitDrawing> drawing;
  };
  std::map<const CTrace*, TDrawnLimits> limitDrawings_;
  std::unique_ptr<korchart::TVerdictLabel> displayLabel_;
  QAction* limitsAction_ = nullptr;
  std::array<QColor, 16> customColors_{};
};

}  // namespace plotdesk
