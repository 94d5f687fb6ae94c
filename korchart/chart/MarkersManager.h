#pragma once
// TMarkersManager: the chart's switch and front for its markers. While
// enabled it keeps a MarksManager over the chart's titled series; every
// marker operation on a disabled manager returns -1 and changes nothing.
#include <QObject>
#include <QPointer>

#include <memory>
#include <string>

#include "VKXml.h"

namespace korchart {

class TKorChart;
inline namespace chart {
class MarksManager;
class TfrmReportManager;
}

class TMarkersManager : public QObject {
  Q_OBJECT
 public:
  explicit TMarkersManager(TKorChart* chart);
  ~TMarkersManager() override;

  // Enabling makes the markers for the chart's titled series (untitled
  // helper series are left out); disabling removes them.
  void SetEnabled(bool enabled);
  bool GetEnabled() const { return marks_ != nullptr; }
  // The argument range given to the markers when they are made.
  void SetMinArg(int v) { minArg_ = v; }
  int GetMinArg() const { return minArg_; }
  void SetMaxArg(int v) { maxArg_ = v; }
  int GetMaxArg() const { return maxArg_; }
  // False hides and deactivates every active marker; true brings back those
  // it hid.
  void SetActivated(bool activated);
  bool GetActivated() const { return activated_; }
  // Whether every redraw searches again.
  void SetAutoUpdate(bool v) { autoUpdate_ = v; }
  bool GetAutoUpdate() const { return autoUpdate_; }

  int Update();
  int UpdateMarksOnly();
  int ResetStatistics();
  int Repaint();
  // Takes the chart's present series, keeping the markers (written out and
  // read back by title).
  int SeriesUpdate();
  int SaveToFile(const std::string& name);
  int LoadFromFile(const std::string& name);
  int WriteMarksToXMLNode(xmlNode* node);
  int ReadMarksFromXMLNode(xmlNode* node);
  int SetLabelState(int series, bool visible);
  // Loads the link-marker formula library; non-zero on failure. Kept for
  // the markers made after a later enabling too.
  int SetLinkMarkPresetFileName(const std::string& name);
  const std::string& LinkMarkPresetFileName() const { return presetFile_; }

  MarksManager* GetMarksManager() const { return marks_.get(); }
  // The report form over the chart and its markers ("Report"); a new one
  // whenever the markers are made again (Enabled, a series update).
  TfrmReportManager* GetReport();

 signals:
  // After the markers were made or removed.
  void EnabledChanged(bool enabled);

 private:
  void CreateMarks();
  void DropReport();

  TKorChart* chart_;
  std::unique_ptr<MarksManager> marks_;
  int minArg_ = 0;
  int maxArg_ = 20000;
  bool activated_ = true;
  bool autoUpdate_ = true;
  std::string presetFile_;
  QPointer<TfrmReportManager> report_;
};

}  // namespace korchart
