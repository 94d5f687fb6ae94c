#pragma once
// Metka: one measuring marker. A vertical cursor at an argument that reads
// every series there, and may search its link trace (or the difference of
// two series) for a minimum, a maximum or a level on every update,
// gathering statistics of what it shows. The searches are the plain
// functions of Searches.h run on the data already in the chart; the
// drawing is a TMarkItem on the markers' layer.
//
// A marker is drawn in one of three ways: not at all (hidden, or put aside
// by the manager's Activated = false: "standby"); as a numbered tab in the
// parking strip above the plot (inactive, or active but without a position
// on the visible part of the bottom axis); or as the full cursor with its
// indicator, its label and, for a search, its search-range line.
#include <QPointer>

#include <array>
#include <string>
#include <vector>

#include "markers/BuildVariant.h"
#include "markers/LabelText.h"
#include "markers/MarkerModel.h"
#include "markers/Searches.h"

class QCPGraph;
class QKeyEvent;
class QLineEdit;
class QMenu;
class QWidget;

namespace korchart {
KORCHART_VARIANT_BEGIN

class MarksManager;
class LinkMarker;
class TMarkItem;
struct TMarkItemLayout;

class Metka {
 public:
  Metka(MarksManager* owner, int index, double minArg, double maxArg);
  ~Metka();
  Metka(const Metka&) = delete;
  Metka& operator=(const Metka&) = delete;

  int Index() const { return index_; }

  SMarkParams GetParams() const { return p_; }
  // Takes new parameters (series numbers checked against the manager's
  // series) and updates.
  void SetParams(const SMarkParams& params);

  // Recomputes the position (a search when active, with a link trace),
  // refreshes the label and the indicator. 0. With `sample` (a new frame)
  // the values shown are taken into the statistics.
  int Update(bool sample = false);
  // Refreshes the readings and the label without searching.
  void UpdateList(bool sample = false);
  void UpdateRangeLine();
  void UpdateMarkerIcon();
  void Draw();
  void Repaint();
  // Back to the state of a new marker at its place.
  void Reset();

  void Activate();
  void Deactivate();
  void Show();
  void Hide();
  void SetHided(bool hidden);
  bool GetHided() const { return !p_.visible; }
  bool GetActivated() const { return p_.enabled; }
  // Hidden and deactivated by the manager (Activated = false); only a
  // marker that was active goes into standby, and coming out of it makes it
  // active again.
  bool GetStandby() const { return standby_; }
  void SetStandby(bool standby);
  // While locked, updates leave the marker as it is (a drag is running).
  void Lock() { ++locks_; }
  void Unlock() {
    if (locks_ > 0) --locks_;
  }
  bool Locked() const { return locks_ > 0; }

  // The argument; kNotFound (-1) when a search found nothing.
  double GetFreq() const { return p_.position; }
  const TStatistics& GetFreqStat() const { return freqStat_; }
  // Series are numbered from 1.
  const TStatistics& GetStat(int series) const;
  // The series' value at the marker; kNoValue when there is none.
  double GetSeriesValue(int series) const { return CalcYValue(p_.position, series); }
  // The same as read by the last update (what the label and the link
  // markers show).
  double ReadValue(int series) const;
  std::string GetSeriesTitle(int series) const;
  unsigned GetSeriesColor(int series) const;
  std::string GetSeriesUnits(int series) const;
  // The value of a series at x: kNoValue when the marker is not placed, the
  // series is inactive, has fewer than two points or x is outside it. A
  // series whose data are at fault is reported (see Searches.h) once.
  double CalcYValue(double x, int series, std::string* error = nullptr) const;

  // Pixels: the cursor's x on the widget, and the argument at a pixel x.
  double GetXPos() const;
  int GetLeft() const;
  double ConvertPosToFreq(double pixelX) const;
  // Puts the marker at x in free position.
  void SetOnFreq(double x);
  // Moves the cursor to a pixel x (free position); repaints with `redraw`.
  void Move(double x, double y, bool redraw);
  void SetXY(double x, double y) { Move(x, y, true); }
  // Whether the point (widget pixels) is on the indicator.
  bool PointBelongToMark(double x, double y) const;
  // Drawn as a cursor on the plot (not hidden, not in the parking strip).
  bool Placed() const;
  bool Visible() const { return p_.visible && !standby_; }
  void BringToFront();

  // The link markers that read this marker, as A (side 0) or B (side 1).
  void Connect(LinkMarker* connector, int side);
  // Forgets every link marker that reads it on that side.
  void Disconnect(int side);
  void Disconnect(LinkMarker* connector);
  void UpdateConnectors();
  void RepaintConnectors();

  // The auto search ("Автопоиск"): candidate extrema of the link trace
  // marked on the chart while extreme mode is on; finishing takes the
  // nearest one as the marker's search.
  void AutoSearchStart();
  void AutoSearchUpdate();
  void AutoSearchFinish();
  void AutoSearchAbort();
  const TCandidates& Candidates() const { return candidates_; }

  // The in-place editor of the argument, over the label's first row.
  void ActivateEdit();
  void DeactivateEdit();
  // Enter: a number is taken (SetOnFreq) and the editor closes; another
  // text puts the editor in its error state. True when taken.
  bool DispatchEditText();
  void SetEditError();
  void SetEditNormal();
  // Whether the editor takes this key (digits, comma, Backspace, Enter,
  // Escape); Enter and Escape act.
  bool EditKeyPress(QKeyEvent* event);
  void EditExit();
  QLineEdit* Editor() const { return editor_; }

  // The marker's menu; `seriesUnderMouse` (1-based, 0: none) adds the item
  // that hides that series. The caller owns the menu.
  QMenu* CreateMenu(QWidget* parent, int seriesUnderMouse);
  // Keys on the focused marker; true when taken. The letter keys are taken
  // in the Russian layout too.
  bool KeyPress(int key, Qt::KeyboardModifiers modifiers);
  static bool TakesKey(int key, Qt::KeyboardModifiers modifiers);
  // "Свойства...": the properties dialog; the answer of the dialog.
  int ShowProperties();

  // What the label shows, as computed by the last UpdateList.
  const std::vector<TLabelRow>& LabelRows() const { return rows_; }
  // Where the cursor meets the series shown: (series number, value).
  const std::vector<std::pair<int, double>>& Dots() const { return dots_; }
  bool Focused() const;
  TMarkItem* Item() const;
  // Where the marker is drawn (nothing when its drawing is gone).
  TMarkItemLayout Layout() const;
  MarksManager* Owner() const { return owner_; }

  // Every series' statistics and the argument's start again.
  void ResetStatistics();

 private:
  void Search();
  void EnsureItem();
  void UpdatePointers();
  void RemovePointers();
  void DropMissingSeries();
  void PlaceInView();
  void SetAction(EMarkAction action);

  MarksManager* owner_;
  int index_;
  SMarkParams p_;
  bool standby_ = false;
  int locks_ = 0;
  TStatistics freqStat_;
  std::array<TStatistics, kMaxSeries> stats_{};
  std::vector<TLabelRow> rows_;
  std::vector<std::pair<int, double>> dots_;
  std::vector<double> values_;  // by series number - 1
  TCandidates candidates_;
  QPointer<QCPGraph> minima_, maxima_;
  std::vector<std::pair<LinkMarker*, int>> connectors_;
  QPointer<TMarkItem> item_;
  QPointer<QLineEdit> editor_;
  double editorRangeLower_ = 0, editorRangeUpper_ = 0;
  mutable bool reported_ = false;
};

KORCHART_VARIANT_END
}  // namespace korchart
