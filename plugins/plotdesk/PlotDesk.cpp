#include "PlotDesk.h"

#include <QCoreApplication>
#include <QEvent>
#include <qcustomplot.h>

#include <algorithm>

#include "Diagnostics.h"
#include "GuiPlugin.h"
#include "PlotDeskState.h"
#include "PluginClass.h"
#include "VKPaths.h"
#include "markers/MarksManager.h"
#include "filters/FilterAccumulation.h"
#include "filters/FilterSmoothing.h"
#include "filters/FilterStat.h"
#include "model/TraceMath.h"
#include "platform/Report.h"
#include "report/DisplayQuery.h"
#include "ui/DiagramArea.h"

using namespace plotdesk;

namespace {

const char* const kX = "X";
const char* const kMinStimulus = "MinStimulus";
const char* const kMaxStimulus = "MaxStimulus";
const char* const kVerdict = "verdict";
std::string InputName(char letter, int i) { return std::string(1, letter) + std::to_string(i + 1); }


bool Wired(const CInLinkPoint* in) { return in && const_cast<CInLinkPoint*>(in)->SubscriptionsCount() > 0; }
bool Ready(const CInLinkPoint* in) { return Wired(in) && const_cast<CInLinkPoint*>(in)->GetPacketReady(); }

}  // namespace

TPlotDesk::TPlotDesk() : TFramePlugin(kDataReadyEvent) {}

namespace {
// The filters a trace's parameters switch on.
void SwitchFilters(CTrace* trace, const TTraceSettings& t) {
  for (const auto& f : trace->Filters()) {
    if (auto* a = dynamic_cast<CFilterAccumulation*>(f.get()); a && t.averaging) a->SetDegree(t.averaging);
    if (auto* s = dynamic_cast<CFilterSmoothing*>(f.get()); s && t.smoothing >= 0) s->SetPercent(t.smoothing);
    if (auto* d = dynamic_cast<CFilterStat*>(f.get()); d && t.deviation) d->SetMode(CFilterStat::Deviation);
  }
}
}  // namespace

TPlotDesk::~TPlotDesk() {
  if (Initialized) Finalize();
}

int TPlotDesk::Register() {
  const CSimpleSet<CMetaClass> vectors{MetaClassOf<CDoubleVector>(), MetaClassOf<CDoubleVectorPart>()};
  RegisterInLinkPoint(kX, vectors, lptDefault);
  for (int i = 0; i < INPUT_COUNT; ++i) {
    RegisterInLinkPoint(InputName('X', i), vectors, lptDefault);
    RegisterInLinkPoint(InputName('Y', i), vectors, lptDefault);
  }
  RegisterInLinkPoint(kMinStimulus, {MetaClassOf<CDoublePacket>()}, lptDefault);
  RegisterInLinkPoint(kMaxStimulus, {MetaClassOf<CDoublePacket>()}, lptDefault);
  RegisterOutLinkPoint(kVerdict, {MetaClassOf<CStringPacket>()}, lptDefault);
  RegisterInLinkPoint(korchart::kReportInput, {MetaClassOf<CStringPacket>()}, lptDefault);
  return 0;
}

// ---- set-up ----

int TPlotDesk::Initialize(QWidget* parent, xmlNode* node) {
  x_ = GetInLinkPoint(kX);
  verdictOut_ = GetOutLinkPoint(AnsiString(kVerdict));
  minStimulus_ = GetInLinkPoint(kMinStimulus);
  maxStimulus_ = GetInLinkPoint(kMaxStimulus);
  for (int i = 0; i < INPUT_COUNT; ++i) {
    xs_[static_cast<size_t>(i)] = GetInLinkPoint(InputName('X', i));
    ys_[static_cast<size_t>(i)] = GetInLinkPoint(InputName('Y', i));
  }
  VK_PASSERT_TEXT(parent, Name().c_str(), "AParent!=NULL");
  panel_ = parent ? FindWinControl(parent, "MainPanel") : nullptr;
  VK_PASSERT_TEXT(panel_, Name().c_str(), "Panel!=NULL");
  if (!panel_) return VKT_ERROR;
  settings_ = ReadPlotDeskSettings(node);

  area_ = std::make_unique<CDiagramArea>(panel_, settings_.fastLine);
  korchart::TakeReportRequests(GetInLinkPoint(AnsiString(korchart::kReportInput)), panel_, this);
  QCustomPlot* chart = area_->Chart();
  area_->Panel()->setProperty("plugin", QString::fromStdString(Name()));
  for (const TChannelSettings& c : settings_.channels) {
    channels_.push_back(std::make_unique<CChannel>(c.name, c.quantityR, c.quantityS));
    CChannel* channel = channels_.back().get();
    area_->AddChannel(channel);
    for (const TTraceSettings& t : c.traces) {
      CTraceData* trace = area_->CreateDataTrace(channel);
      trace->SetReferenceScale(t.reference, t.scaleDiv);
      SwitchFilters(trace, t);
      trace->SetLimits(t.limits);
    }
  }
  // Memory traces from files and math traces, once the data traces exist.
  for (size_t k = 0; k < settings_.channels.size(); ++k)
    for (const TTraceSettings& t : settings_.channels[k].memories) {
      CTraceStatic* memory = area_->CreateMemoryTrace(channels_[k].get());
      if (!t.file.empty() && memory->LoadFromFile(t.file) != 0)
        LogMessage(("Не прочитана трасса памяти " + t.file).c_str());
      memory->SetReferenceScale(t.reference, t.scaleDiv);
      SwitchFilters(memory, t);
      memory->SetLimits(t.limits);
    }
  for (const TMathSettings& m : settings_.maths) {
    CTraceMath* math = area_->CreateMathTrace();
    math->SetOperation(m.operation);
    math->SetOperand(1, dynamic_cast<CTraceMathSource*>(area_->FindTrace(m.operand1)));
    math->SetOperand(2, dynamic_cast<CTraceMathSource*>(area_->FindTrace(m.operand2)));
    math->SetReferenceScale(m.reference, m.scaleDiv);
    math->SetLimits(m.limits);
  }
  area_->JudgeLimits();
  area_->SetReferencePosition(settings_.refPosition);
  // The last trace added is the selected one.
  if (!area_->Traces().empty()) area_->Select(static_cast<int>(area_->Traces().size()) - 1);

  WatchWindows(panel_, chart);
  ParentResize();
  area_->Panel()->show();

  // The formula library of the link markers, and a marker template.
  const std::string presets = GetVKDir(dirConfig) + "/RelationPreset.xml";
  if (area_->Marks()->SetLinkMarkPresetFileName(presets) != 0)
    vkplatform::MessageBox("Невозможно открыть файл предустановок связных маркеров ", "Ошибка",
                           vkplatform::MsgIcon::Warning);
  if (!settings_.markers.empty() && area_->Marks()->LoadFromFile(settings_.markers) != 0)
    vkplatform::MessageBox("Ошибка при открытии файла", "Ошибка", vkplatform::MsgIcon::Error);

  // A pair with one input wired never makes a frame: said once, here.
  if (PairMode())
    for (int i = 0; i < INPUT_COUNT; ++i) {
      pairBroken_[static_cast<size_t>(i)] = Wired(xs_[static_cast<size_t>(i)]) != Wired(ys_[static_cast<size_t>(i)]);
      if (pairBroken_[static_cast<size_t>(i)])
        PAssertFunction(__FILE__, __DATE__, __LINE__, Name().c_str(),
                        "(inpX->subscribtions.empty() && inpY->subscribtions.empty()) || (!inpX->subscribtions.empty() "
                        "&& !inpY->subscribtions.empty())\r\nПодключен только один вход (Xn или Yn)");
    }

  std::vector<CInLinkPoint*> inputs{x_, minStimulus_, maxStimulus_};
  inputs.insert(inputs.end(), xs_.begin(), xs_.end());
  inputs.insert(inputs.end(), ys_.begin(), ys_.end());
  StartFrames(chart, inputs);
  return 0;
}

int TPlotDesk::Finalize() {
  StopFrames();
  UnwatchWindows();
  korchart::ForgetReportRequests(GetInLinkPoint(AnsiString(korchart::kReportInput)));
  // A data-ready event still on its way dies with the chart.
  area_.reset();
  channels_.clear();
  sweepsMarked_ = 0;  // the channels' counts start again with the next run
  return 0;
}

int TPlotDesk::Query(const AnsiString& request, AnsiString& answer) {
  if (!area_) return VKT_NOT_SUPPORTED;
  korchart::TDisplay d;
  d.marks = area_->Marks();
  d.report = [this] { return area_->Report(); };
  d.argumentTitle = "Аргумент";
  d.argumentUnits = area_->ArgumentUnits();
  d.traces = area_->TraceSeries();
  d.sweeps = WholeSweeps();
  d.sweepsMarked = sweepsMarked_;
  for (const auto& t : area_->Traces()) {
    CTrace* trace = t.get();
    d.limits.push_back({trace->Name(), [trace] { return trace->Limits(); },
                        [this, trace](const korchart::TLimitLines& l) {
                          trace->SetLimits(l);
                          area_->JudgeLimits();
                          area_->Redraw();
                        },
                        [trace] { return trace->Verdict(); }});
  }
  d.verdict = [this] { return CurrentOutcome().verdict; };
  return korchart::AnswerDisplayQuery(request, d, answer);
}

int TPlotDesk::Serialize(xmlNode* element, const char* section) {
  if (!area_) return VKT_ERROR;
  if (section && std::string(section) != "params") return 0;
  SaveDiagramState(*area_, element);
  return 0;
}

int TPlotDesk::Deserialize(xmlNode* element, const char* section) {
  if (!area_) return VKT_ERROR;
  if (section && std::string(section) != "params") return 0;
  std::vector<std::string> problems;
  RestoreDiagramState(*area_, element, problems);
  if (!problems.empty())
    vkplatform::MessageBox(StateProblemsText(problems), "Диаграмма " + Name(), vkplatform::MsgIcon::Warning);
  return 0;
}

void TPlotDesk::ParentResize() {
  if (!panel_ || !area_ || !area_->Panel()) return;
  const QSize size = panel_->contentsRect().size();
  const int w = size.width(), h = size.height();
  const int left = w * settings_.left / 100, top = h * settings_.top / 100;
  const int right = left + w * (settings_.right - settings_.left) / 100;
  const int bottom = top + h * (settings_.bottom - settings_.top) / 100;
  area_->Panel()->setGeometry(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

// ---- the plug-in's thread ----

bool TPlotDesk::PairMode() const { return !Wired(x_); }

unsigned long long TPlotDesk::WholeSweeps() const {
  // A sweep is taken when every channel that is fed has taken it whole.
  unsigned long long sweeps = 0;
  bool fed = false;
  for (size_t k = 0; k < channels_.size() && k < static_cast<size_t>(INPUT_COUNT); ++k) {
    if (PairMode() ? !PairUsable(static_cast<int>(k)) : !Wired(ys_[k])) continue;
    sweeps = fed ? std::min(sweeps, channels_[k]->WholeSweeps()) : channels_[k]->WholeSweeps();
    fed = true;
  }
  return sweeps;
}

bool TPlotDesk::PairUsable(int i) const {
  return !pairBroken_[static_cast<size_t>(i)] && Wired(xs_[static_cast<size_t>(i)]) && Wired(ys_[static_cast<size_t>(i)]);
}

bool TPlotDesk::StimulusReady() const { return Ready(minStimulus_) && Ready(maxStimulus_); }

int TPlotDesk::ReadyPair() const {
  for (int i = 0; i < INPUT_COUNT; ++i)
    if (PairUsable(i) && Ready(xs_[static_cast<size_t>(i)]) && Ready(ys_[static_cast<size_t>(i)])) return i;
  return -1;
}

bool TPlotDesk::CommonReady() const {
  if (!Ready(x_)) return false;
  for (CInLinkPoint* y : ys_)
    if (Wired(y) && !Ready(y)) return false;
  return true;
}

bool TPlotDesk::FrameReady() const {
  if (StimulusReady()) return true;
  return PairMode() ? ReadyPair() >= 0 : CommonReady();
}

// ---- the window ----

bool TPlotDesk::TakeFrame() {
  if (!area_) return false;
  if (StimulusReady()) {
    TakeStimulus();
    return true;
  }
  if (PairMode()) {
    const int i = ReadyPair();
    return i >= 0 && TakePair(i);
  }
  return TakeCommon();
}

void TPlotDesk::TakeStimulus() {
  TFrameChecks check(Name(), lastFailure_);
  std::unique_ptr<CBasePacket> a(minStimulus_->GetPacketCopyAndRelease());
  std::unique_ptr<CBasePacket> b(maxStimulus_->GetPacketCopyAndRelease());
  auto* lo = dynamic_cast<CDoublePacket*>(a.get());
  auto* hi = dynamic_cast<CDoublePacket*>(b.get());
  if (!VK_FRAME_CHECK(check, lo && hi, "(MinS = dynamic_cast<CDoublePacket*>(Packet)) != NULL")) return;
  for (auto& channel : channels_) channel->SetStimulus(lo->GetValue(), hi->GetValue());
}

namespace {

// The geometry of a frame: its size, the full array size and the offset.
struct TGeometry {
  unsigned size = 0, full = 0, offset = 0;
};

// The longest array a channel takes: every trace keeps a sweep of it, and a
// packet's word is no reason to take gigabytes.
constexpr unsigned kMaxArraySize = 1u << 24;

// Whether a frame's geometry is sound: within its array, of a size the
// traces may keep.
bool SoundGeometry(TFrameChecks& check, const TGeometry& g) {
  return VK_FRAME_CHECK(check, static_cast<unsigned long long>(g.offset) + g.size <= g.full,
                        "nOffset+nSize<=nArraySize") &&
         VK_FRAME_CHECK(check, g.full <= kMaxArraySize, "nArraySize<=16777216");
}

TGeometry GeometryOf(const CDoubleVector* v) {
  TGeometry g{v->Size(), v->Size(), 0};
  if (auto* part = dynamic_cast<const CDoubleVectorPart*>(v)) {
    g.full = part->FullSize();
    g.offset = part->Offset();
  }
  return g;
}

}  // namespace

bool TPlotDesk::TakePair(int i) {
  TFrameChecks check(Name(), lastFailure_);
  CInLinkPoint* inX = xs_[static_cast<size_t>(i)];
  CInLinkPoint* inY = ys_[static_cast<size_t>(i)];
  CBasePacket* pa = inX->GetPacketRef();
  CBasePacket* pb = inY->GetPacketRef();
  auto release = [&] {
    if (pa) inX->ReleasePacket();
    if (pb) inY->ReleasePacket();
  };
  auto* a = dynamic_cast<CDoubleVector*>(pa);
  auto* b = dynamic_cast<CDoubleVector*>(pb);
  const bool aPart = dynamic_cast<CDoubleVectorPart*>(a) != nullptr;
  const bool bPart = dynamic_cast<CDoubleVectorPart*>(b) != nullptr;
  const bool sound = VK_FRAME_CHECK(check, a && b, "AB[0] && AB[1]") &&
                     VK_FRAME_CHECK(check, a->Size() == b->Size(), "AB[0]->Size() == AB[1]->Size()") &&
                     VK_FRAME_CHECK(check, a->Size(), "nSize") &&
                     VK_FRAME_CHECK(check, aPart == bPart, "(VP[0] && VP[1]) || (!VP[0] && !VP[1])");
  if (!sound) {
    release();
    return false;
  }
  const TGeometry g = GeometryOf(a);
  // Y lies where X lies.
  const TGeometry gy = GeometryOf(b);
  if (!SoundGeometry(check, g) ||
      !VK_FRAME_CHECK(check, gy.full == g.full && gy.offset == g.offset,
                      "VP[0]->FullSize()==VP[1]->FullSize() && VP[0]->Offset()==VP[1]->Offset()")) {
    release();
    return false;
  }
  if (static_cast<size_t>(i) < channels_.size()) {
    CChannel* channel = channels_[static_cast<size_t>(i)].get();
    channel->SetArraySize(g.full);
    channel->Deliver(g.offset, g.size, a->Data(), b->Data());
  }
  release();
  ++framesTaken_;
  return true;
}

bool TPlotDesk::TakeCommon() {
  TFrameChecks check(Name(), lastFailure_);
  CBasePacket* pa = x_->GetPacketRef();
  std::array<CBasePacket*, INPUT_COUNT> pb{};
  for (int k = 0; k < INPUT_COUNT; ++k)
    if (Wired(ys_[static_cast<size_t>(k)])) pb[static_cast<size_t>(k)] = ys_[static_cast<size_t>(k)]->GetPacketRef();
  auto release = [&] {
    if (pa) x_->ReleasePacket();
    for (int k = 0; k < INPUT_COUNT; ++k)
      if (pb[static_cast<size_t>(k)]) ys_[static_cast<size_t>(k)]->ReleasePacket();
  };
  auto* a = dynamic_cast<CDoubleVector*>(pa);
  bool sound = VK_FRAME_CHECK(check, a, "AB[0]!=NULL") && VK_FRAME_CHECK(check, a->Size(), "nSize");
  std::array<CDoubleVector*, INPUT_COUNT> b{};
  TGeometry g;
  if (sound) {
    g = GeometryOf(a);
    const bool aPart = dynamic_cast<CDoubleVectorPart*>(a) != nullptr;
    sound = SoundGeometry(check, g);
    for (int k = 0; sound && k < INPUT_COUNT; ++k) {
      CInLinkPoint* in = ys_[static_cast<size_t>(k)];
      CBasePacket* p = pb[static_cast<size_t>(k)];
      sound = VK_FRAME_CHECK(check, !Wired(in) || p, "(inp->subscribtions.empty() || AB[i]!=NULL)");
      if (!sound || !p) continue;
      auto* v = dynamic_cast<CDoubleVector*>(p);
      sound = VK_FRAME_CHECK(check, v, "AB[i]!=NULL") &&
              VK_FRAME_CHECK(check, g.size == v->Size(), "AB[i]==NULL || nSize==AB[i]->Size()");
      if (!sound) continue;
      if (auto* part = dynamic_cast<CDoubleVectorPart*>(v); part && aPart)
        sound = VK_FRAME_CHECK(check, g.full == part->FullSize(), "nArraySize==VP[i]->FullSize()") &&
                VK_FRAME_CHECK(check, g.offset == part->Offset(), "nOffset==VP[i]->Offset()");
      b[static_cast<size_t>(k)] = v;
    }
  }
  if (!sound) {
    release();
    return false;
  }
  for (size_t k = 0; k < b.size() && k < channels_.size(); ++k) {
    if (!b[k]) continue;
    channels_[k]->SetArraySize(g.full);
    channels_[k]->Deliver(g.offset, g.size, a->Data(), b[k]->Data());
  }
  release();
  ++framesTaken_;
  return true;
}

void TPlotDesk::Draw() {
  if (!area_) return;
  // The markers search (a sweep has ended) or follow their places just
  // before the frame is drawn: the sweeps taken until now are what they read.
  const unsigned long long whole = WholeSweeps();
  area_->ShowDisplayVerdict(CurrentOutcome().verdict);
  area_->Chart()->replot();
  sweepsMarked_ = whole;
  if (whole != sweepSent_) SendOutcome(whole);
  ++framesDrawn_;
  FrameShown();
  area_->Chart()->setProperty("framesTaken", static_cast<qulonglong>(framesTaken_));
  area_->Chart()->setProperty("framesDrawn", static_cast<qulonglong>(framesDrawn_));
}

void TPlotDesk::FrameShown() {
  if (!settings_.fps) return;
  if (!clock_.isValid()) clock_.start();
  const qint64 now = clock_.elapsed();
  const qint64 interval = lastFrame_ < 0 ? 0 : now - lastFrame_;
  lastFrame_ = now;
  if (interval > 0) area_->ShowFrameRate(1000.0 / static_cast<double>(interval));
}

// ---- verdict ----

korchart::TDisplayOutcome TPlotDesk::CurrentOutcome() const {
  korchart::TDisplayOutcome o;
  o.display = Name();
  o.sweep = sweepsMarked_;
  for (const auto& t : area_->Traces())
    if (t->Limits().Active()) o.traces.push_back({t->Name(), t->Verdict()});
  if (area_->Marks()) o.readings = korchart::CollectReadings(*area_->Marks());
  korchart::FoldVerdict(o);
  return o;
}

void TPlotDesk::SendOutcome(unsigned long long sweep) {
  sweepSent_ = sweep;
  if (!verdictOut_ || !verdictOut_->Dispatcher()) return;
  auto* packet = new CStringPacket(korchart::OutcomeToXml(CurrentOutcome()).c_str());
  // A full queue keeps the verdicts it holds; the next sweep brings a newer one.
  if (verdictOut_->AddPacket(packet) != VKT_OK) delete packet;
}

VK_DECLARE_PLUGIN_PACKAGE(TPlotDesk)
