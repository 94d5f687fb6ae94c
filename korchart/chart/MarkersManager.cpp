#include "chart/MarkersManager.h"

#include "chart/KorChart.h"
#include "markers/MarkerFile.h"
#include "markers/MarksManager.h"
#include "report/ReportManager.h"

namespace korchart {

TMarkersManager::TMarkersManager(TKorChart* chart) : QObject(chart), chart_(chart) {}

TMarkersManager::~TMarkersManager() { DropReport(); }

void TMarkersManager::DropReport() {
  if (!report_) return;
  // It may be open (and this called from under it): closed now, gone later.
  report_->reject();
  report_->deleteLater();
  report_ = nullptr;
}

TfrmReportManager* TMarkersManager::GetReport() {
  if (!report_) report_ = new TfrmReportManager(chart_, chart_, marks_.get());
  return report_;
}

void TMarkersManager::CreateMarks() {
  DropReport();
  marks_ = std::make_unique<MarksManager>(chart_, minArg_, maxArg_);
  std::vector<QCPGraph*> series;
  for (int i = 0; i < chart_->graphCount(); ++i)
    if (!chart_->graph(i)->name().isEmpty()) series.push_back(chart_->graph(i));
  marks_->SetSeries(series);
  if (!presetFile_.empty()) marks_->SetLinkMarkPresetFileName(presetFile_);
  if (!activated_) marks_->SetActivated(false);
}

void TMarkersManager::SetEnabled(bool enabled) {
  if (enabled == GetEnabled()) return;
  if (enabled) {
    CreateMarks();
  } else {
    DropReport();
    marks_.reset();
  }
  chart_->replot();
  emit EnabledChanged(enabled);
}

void TMarkersManager::SetActivated(bool activated) {
  if (activated == activated_) return;
  activated_ = activated;
  if (marks_) marks_->SetActivated(activated);
}

int TMarkersManager::Update() { return marks_ ? marks_->Update() : -1; }
int TMarkersManager::UpdateMarksOnly() { return marks_ ? marks_->UpdateMarksOnly() : -1; }
int TMarkersManager::ResetStatistics() { return marks_ ? marks_->ResetStatistics() : -1; }
int TMarkersManager::Repaint() { return marks_ ? marks_->Repaint() : -1; }

int TMarkersManager::SeriesUpdate() {
  if (!marks_) return -1;
  // The markers go through their saved form, which names series by title,
  // so that they find their series again among the new ones.
  const TMarkerSet set = marks_->GetMarkerSet();
  DropReport();
  marks_.reset();
  CreateMarks();
  marks_->SetMarkerSet(set, false);
  chart_->replot();
  return 0;
}

int TMarkersManager::SaveToFile(const std::string& name) { return marks_ ? marks_->SaveToFile(name) : -1; }

int TMarkersManager::LoadFromFile(const std::string& name) {
  if (!marks_) return -1;
  const int result = marks_->LoadFromFile(name);
  if (result == 0) chart_->replot();
  return result;
}

int TMarkersManager::WriteMarksToXMLNode(xmlNode* node) { return marks_ ? marks_->WriteMarksToXMLNode(node) : -1; }

int TMarkersManager::ReadMarksFromXMLNode(xmlNode* node) {
  if (!marks_) return -1;
  const int result = marks_->ReadMarksFromXMLNode(node);
  if (result == 0) chart_->replot();
  return result;
}

int TMarkersManager::SetLabelState(int series, bool visible) {
  return marks_ ? marks_->SetLabelState(series, visible) : -1;
}

int TMarkersManager::SetLinkMarkPresetFileName(const std::string& name) {
  presetFile_ = name;
  if (marks_) return marks_->SetLinkMarkPresetFileName(name);
  std::vector<SRelationPreset> presets;
  return LoadRelationPresets(name, presets);
}

}  // namespace korchart
