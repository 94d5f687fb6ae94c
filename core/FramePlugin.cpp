#include "FramePlugin.h"

#include <QWidget>

#include "GuiPlugin.h"
#include "VectorState.h"

namespace {
// The longest wait of the thread: only a missed wake-up waits this long.
constexpr int kIdleWaitMs = 100;
}  // namespace

void TFramePlugin::ThreadCycle() {
  // Every packet that arrives, every frame the window has taken and a stop
  // request wake the thread.
  while (!ThreadShouldStop()) {
    wake_.Clear();
    if (!frames_.Pending() && FrameReady()) frames_.Post();
    wake_.Wait(kIdleWaitMs);
  }
}

bool TFramePlugin::WindowProc(QEvent* event) {
  if (event->type() != frames_.EventType()) return false;
  DataReady();
  return true;
}

int TFramePlugin::DataReady() {
  // The GUI thread comes here from painting, which may leave the vector
  // registers' upper halves in use: the frames' per-point arithmetic (trace
  // filters, conversions) would run several times slower.
  vkcore::ClearVectorUpperState();
  int taken = 0;
  for (int n = 0; n < kFramesPerEvent && FrameReady(); ++n)
    if (TakeFrame()) ++taken;
  frames_.Taken();
  wake_.Signal();  // the next frame may be told
  if (taken) Redraw();
  return taken;
}

void TFramePlugin::StartFrames(QObject* window, const std::vector<CInLinkPoint*>& inputs) {
  inputs_ = inputs;
  window_ = window;
  for (CInLinkPoint* in : inputs_)
    if (in) in->WakeEvent = &wake_;
  frames_.SetTarget(window);
  ThreadStart();
}

void TFramePlugin::StopFrames() {
  ThreadStopAsync();
  wake_.Signal();
  ThreadStop();
  frames_.SetTarget(nullptr);
  // An event still on its way dies with the window and is never taken, and
  // a redraw scheduled on the window dies with it: the next start begins
  // afresh.
  frames_.Taken();
  redraws_.Reset();
  for (CInLinkPoint* in : inputs_)
    if (in) in->WakeEvent = nullptr;
  inputs_.clear();
  window_ = nullptr;
}

void TFramePlugin::Redraw() {
  if (window_) redraws_.Request(window_.data(), [this] { Draw(); });
}

TFramePlugin::TFramePlugin(int eventType) : frames_(eventType) {}

TFramePlugin::~TFramePlugin() = default;

void TFramePlugin::WatchWindows(QWidget* panel, QObject* window) {
  windowHook_ = std::make_unique<vkgui::TEventHook>([this](QObject*, QEvent* e) { return WindowProc(e); });
  panelHook_ = std::make_unique<vkgui::TEventHook>([this](QObject*, QEvent* e) {
    if (e->type() == QEvent::Resize) ParentResize();
    return false;
  });
  watchedWindow_ = window;
  watchedPanel_ = panel;
  if (window) window->installEventFilter(windowHook_.get());
  if (panel) panel->installEventFilter(panelHook_.get());
}

void TFramePlugin::UnwatchWindows() {
  if (watchedWindow_) watchedWindow_->removeEventFilter(windowHook_.get());
  if (watchedPanel_) watchedPanel_->removeEventFilter(panelHook_.get());
  watchedWindow_ = watchedPanel_ = nullptr;
}
