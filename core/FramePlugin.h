#pragma once
// A plug-in whose window draws frames that its inputs deliver (the chart
// panel, the diagram). Its own thread only looks whether a frame is ready
// and then tells the window (one event of the plug-in's type on its way at
// most); the window, in the GUI thread, reads every frame that is ready (up
// to kFramesPerEvent), releases the packets and redraws, at most 50 times a
// second. Neither thread ever waits for the other: a stop never hangs on a
// busy window, and a window slower than the data draws fewer, fuller frames.
//
// A plug-in derives from it, says whether a frame is ready (any thread),
// takes one (GUI thread) and draws; it starts the frames at the end of its
// Initialize and stops them first thing in its Finalize.
#include <QEvent>
#include <QPointer>

#include <memory>
#include <vector>

#include "FrameSignal.h"
#include "Plugin.h"
#include "WakeEvent.h"

class QObject;
class QWidget;

class TFramePlugin : public CBasePlugin {
 public:
  // At most this many frames are read for one event (then drawn): the
  // window stays responsive however fast data pour in.
  static constexpr int kFramesPerEvent = 64;

  explicit TFramePlugin(int eventType);
  ~TFramePlugin() override;

  void ThreadCycle() override;
  // The window's events: the data-ready event is handled, the rest goes on.
  bool WindowProc(QEvent* event);
  // The GUI thread's side of a data-ready event: every frame that is ready,
  // then a redraw. The number of frames taken.
  int DataReady();

 protected:
  // Whether a frame waits on the inputs (called from both threads).
  virtual bool FrameReady() const = 0;
  // Reads one frame and releases its packets; false when it was refused.
  virtual bool TakeFrame() = 0;
  virtual void Draw() = 0;

  // The inputs wake the thread when a packet arrives; `window` receives the
  // events. Starts the thread.
  void StartFrames(QObject* window, const std::vector<CInLinkPoint*>& inputs);
  // Stops the thread at once and forgets the window and the inputs.
  void StopFrames();
  // A redraw now or, when the last was too recent, one a little later.
  void Redraw();
  // The window's events go to WindowProc, and the host panel's resizes to
  // ParentResize, until UnwatchWindows.
  void WatchWindows(QWidget* panel, QObject* window);
  void UnwatchWindows();
  virtual void ParentResize() = 0;

 private:
  TFrameSignal frames_;
  CWakeEvent wake_;
  TRedrawLimiter redraws_{20};
  std::vector<CInLinkPoint*> inputs_;
  QPointer<QObject> window_;
  QPointer<QObject> watchedWindow_, watchedPanel_;
  std::unique_ptr<QObject> windowHook_, panelHook_;
};
