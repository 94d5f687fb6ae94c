#pragma once
// MarksManager: the ten measuring markers and ten link markers of one
// chart. It holds the chart's titled series (series 1 first; at most
// kMaxSeries are read), updates the markers on every redraw, reads and
// writes the marker set (files, XML nodes), keeps the link-marker formula
// library, and takes the mouse and the keyboard over the markers (an event
// filter on the chart: what it does not take goes on to the chart).
//
// Everything runs in the GUI thread. The markers' items live on the chart's
// layer "markers" (made, buffered, when the chart has none), so that a
// marker that moves repaints that layer only.
#include <QPointer>
#include <qcustomplot.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "VKXml.h"
#include "markers/BuildVariant.h"
#include "markers/MarkerModel.h"
#include "markers/Searches.h"

class IInterpreter;
class QCustomPlot;
class QEvent;
class QCPGraph;
class QCPLayer;
class QCPItemLine;
class QMenu;
class QObject;
class QPoint;

namespace korchart {
KORCHART_VARIANT_BEGIN

class Metka;
class LinkMarker;

class MarksManager {
 public:
  MarksManager(QCustomPlot* chart, double minArg, double maxArg);
  ~MarksManager();
  MarksManager(const MarksManager&) = delete;
  MarksManager& operator=(const MarksManager&) = delete;

  QCustomPlot* Chart() const { return chart_; }
  QCPLayer* Layer() const { return layer_; }
  double MinArg() const { return minArg_; }
  double MaxArg() const { return maxArg_; }

  // ---- series ----
  // The series the markers read, in order; their titles become the
  // formula variables (the series update).
  void SetSeries(const std::vector<QCPGraph*>& series);
  int SeriesCount() const;
  // Series numbers are 1-based; null for 0 or a number out of range.
  QCPGraph* Series(int number) const;
  TSeriesInfo SeriesInfo(int number) const;
  std::vector<TSeriesInfo> SeriesInfos() const;
  std::vector<std::string> SeriesTitles() const;
  // The data of a series as the searches read it (the chart's own points).
  TSeriesView SeriesView(int number) const;
  int SeriesNumber(const std::string& title) const;
  // The bottom axis's unit (its property "units").
  std::string ArgumentUnits() const;

  Metka* Mark(int index) const;
  LinkMarker* Link(int index) const;

  // ---- updates; each returns 0 ----
  // Every marker, then every link marker.
  int Update();
  // The labels and indicators without searching, then the link markers.
  int UpdateMarksOnly();
  int Repaint();
  // Every marker's and link marker's statistics start again; the labels
  // show it at once. The statistics also start again by themselves when a
  // series' arguments change other than by growing (a new sweep range:
  // a mean over two ranges means nothing).
  int ResetStatistics();
  // Shows or hides a series' rows in every marker's label.
  int SetLabelState(int series, bool visible);
  // Hides and deactivates every active marker (false), or brings back
  // those it hid (true).
  void SetActivated(bool activated);
  // Recomputes the link markers' texts and repaints the markers' layer only.
  void ReplotMarkers();
  // Every link marker again; `sample` as for a new frame.
  void UpdateLinks(bool sample);
  bool Activated() const { return activated_; }

  // ---- the marker set ----
  TMarkerSet GetMarkerSet() const;
  // Series are looked up by title: one that is not there leaves the link
  // trace unset.
  // A formula that does not parse is reported with `reportFormulas`.
  void SetMarkerSet(const TMarkerSet& set, bool reportFormulas = true);
  int SaveToFile(const std::string& name) const;
  int LoadFromFile(const std::string& name);
  int WriteMarksToXMLNode(xmlNode* node) const;
  int ReadMarksFromXMLNode(xmlNode* node, bool reportFormulas = true);

  // ---- link markers ----
  // Loads the formula library; non-zero on failure (the list is then
  // empty).
  int SetLinkMarkPresetFileName(const std::string& name);
  const std::string& LinkMarkPresetFileName() const { return presetFile_; }
  const std::vector<SRelationPreset>& Presets() const { return presets_; }
  // The first link marker out of use, joined to markers a and b with the
  // default formula; null when all ten are in use or a == b.
  LinkMarker* CreateLink(int a, int b);
  // Whether an expression parses with the markers' variables.
  bool CheckExpression(const std::string& expression);
  // The interpreter component could not be made (link markers show 0).
  bool InterpreterMissing() const { return interpreterMissing_; }
  // False once the manager is gone: code that waited in a modal dialog
  // checks it before it touches the markers again.
  std::shared_ptr<bool> AliveToken() const { return alive_; }
  // A new interpreter object with the markers' variables declared, or null
  // (the warning about the unregistered component is shown once per
  // manager).
  IInterpreter* CreateInterpreterObject();

  // ---- mouse and keyboard ----
  // The marker that takes the keys (-1: none).
  int FocusedMark() const { return focused_; }
  void SetFocusedMark(int index);
  // The menu last opened over a marker (tests drive it).
  QMenu* LastMenu() const { return lastMenu_; }
  // The series whose curve passes near a widget point (1-based, 0: none).
  int SeriesNear(const QPoint& point) const;
  // The series of the label row at a widget point (0: none).
  int SeriesAtLabelRow(int mark, const QPoint& point) const;
  // The marker whose indicator is at a widget point (-1: none); placed
  // markers first, then the parking strip.
  int MarkAtIndicator(const QPoint& point) const;
  int MarkAtLabel(const QPoint& point) const;
  int MarkAtConnector(const QPoint& point) const;
  int LinkAt(const QPoint& point) const;

  // A mouse or key event of the chart; true when the markers took it.
  bool HandleEvent(QObject* watched, QEvent* event);

 private:
  class TEventFilter;
  void OpenMenu(int mark, const QPoint& at, int series);
  void EndDrag();
  void OpenLinkMenu(int link, const QPoint& at);
  void ApplyMarginForIndicators(bool on);
  void ClearStatistics();
  // Whether a series' arguments changed since the last frame other than by
  // growing (parts of a sweep coming in); notes them for the next frame.
  bool SweepRangeChanged();

  QPointer<QCustomPlot> chart_;
  QCPLayer* layer_ = nullptr;
  double minArg_, maxArg_;
  std::vector<QPointer<QCPGraph>> series_;
  std::array<std::unique_ptr<Metka>, kMarkerCount> marks_;
  std::array<std::unique_ptr<LinkMarker>, kLinkMarkerCount> links_;
  std::string presetFile_;
  std::vector<SRelationPreset> presets_;
  bool interpreterWarned_ = false;
  bool interpreterMissing_ = false;
  int focused_ = -1;
  TEventFilter* filter_ = nullptr;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool activated_ = true;
  QPointer<QMenu> lastMenu_;
  // A drag in progress.
  enum class EDrag { None, Marker, Connector } drag_ = EDrag::None;
  int dragMark_ = -1;
  bool dragMoved_ = false;
  int pressX_ = 0, pressY_ = 0;
  QPointer<QCPItemLine> connectorLine_;
  // Whether each series' arguments ascend, known once per frame and data
  // block (the searches then bisect).
  struct TOrder {
    const void* data = nullptr;
    int size = -1;
    bool ascending = false;
  };
  mutable std::vector<TOrder> order_;
  // Each series' arguments as the last frame saw them: the point count and
  // the first and the last argument.
  struct TArgumentSpan {
    int count = 0;
    double first = 0, last = 0;
  };
  std::vector<TArgumentSpan> spans_;
  int savedTopMargin_ = 0;
  bool updating_ = false;
};

KORCHART_VARIANT_END
}  // namespace korchart
