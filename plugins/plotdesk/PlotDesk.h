#pragma once
// The diagram plug-in: measured curves in a diagram area (a trace list over
// a chart with ten divisions). Vectors arrive in X/Y pairs ("X1".."Y4"), or
// as Ys against one common "X"; each pair or Y feeds one channel, and every
// trace on a channel draws from its latest data. "MinStimulus" and
// "MaxStimulus" set the channels' stimulus range.
//
// A frame is a stimulus pair, a ready X/Y pair (pair mode) or X with every
// wired Y (common-X mode); the chart is told of frames with event 1579 (see
// TFramePlugin) and hands them to the channels.
#include <QElapsedTimer>
#include <QPointer>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "FramePlugin.h"
#include "PlotDeskSettings.h"
#include "limits/Outcome.h"
#include "model/Channel.h"

class QWidget;

namespace plotdesk {
class CDiagramArea;
}

class TPlotDesk : public TFramePlugin {
 public:
  static constexpr int kDataReadyEvent = 1579;
  static constexpr int INPUT_COUNT = 4;

  TPlotDesk();
  ~TPlotDesk() override;

  int Register() override;
  int Initialize(QWidget* parent, xmlNode* node) override;
  int Finalize() override;
  // Automation's questions: sweeps, trace, marker N, link N, report html|pdf FILE.
  int Query(const AnsiString& request, AnsiString& answer) override;
  // The traces, their filters and memories, kept in the profile
  // (PlotDeskState.h).
  int Serialize(xmlNode* element, const char* section) override;
  int Deserialize(xmlNode* element, const char* section) override;
  void ParentResize() override;

  plotdesk::CDiagramArea* Area() const { return area_.get(); }
  const std::vector<std::unique_ptr<plotdesk::CChannel>>& Channels() const { return channels_; }
  const plotdesk::TPlotDeskSettings& Settings() const { return settings_; }
  // Frames handed to the channels and redraws (also the chart's properties
  // "framesTaken" and "framesDrawn").
  unsigned long long FramesTaken() const { return framesTaken_; }
  // The sweeps that every fed channel has taken whole (automation's "sweeps").
  unsigned long long WholeSweeps() const;

 private:
  bool PairMode() const;
  bool PairUsable(int i) const;
  bool StimulusReady() const;
  int ReadyPair() const;
  bool CommonReady() const;
  bool FrameReady() const override;
  bool TakeFrame() override;
  void TakeStimulus();
  bool TakePair(int i);
  bool TakeCommon();
  void Draw() override;
  // The frame rate of the drawn frames, when it is shown.
  void FrameShown();

  plotdesk::TPlotDeskSettings settings_;
  CInLinkPoint* x_ = nullptr;
  CInLinkPoint* minStimulus_ = nullptr;
  CInLinkPoint* maxStimulus_ = nullptr;
  std::array<CInLinkPoint*, INPUT_COUNT> xs_{};
  std::array<CInLinkPoint*, INPUT_COUNT> ys_{};
  // Pairs with only one input wired are said once and left alone.
  std::array<bool, INPUT_COUNT> pairBroken_{};
  std::vector<std::unique_ptr<plotdesk::CChannel>> channels_;
  std::unique_ptr<plotdesk::CDiagramArea> area_;
  QPointer<QWidget> panel_;
  std::string lastFailure_;
  unsigned long long framesTaken_ = 0, framesDrawn_ = 0;
  // The whole sweeps taken before the last redraw, which placed the markers
  // on them: what automation waits for before it reads a marker.
  unsigned long long sweepsMarked_ = 0;
  // The verdict of the display as it stands (traces' limits, readings) and
  // the sweep whose verdict was sent last.
  korchart::TDisplayOutcome CurrentOutcome() const;
  void SendOutcome(unsigned long long sweep);
  COutLinkPoint* verdictOut_ = nullptr;
  unsigned long long sweepSent_ = 0;
  QElapsedTimer clock_;
  qint64 lastFrame_ = -1;
};
