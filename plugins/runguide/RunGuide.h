#pragma once
// The run and calibration wizard. Without steps it is a pair of Start/Stop
// actions that send MI_RUN and MI_RESET; with steps it leads the operator
// through pages: informational pages (a text, a picture, a dock that other
// plug-ins' tool windows are placed into) and measuring pages, each of which
// announces its index on "index", waits for the echo, sends MI_RUN and
// follows the incoming sweep on "vector" to the next page.
//
// Threads: everything runs in the GUI thread (the inputs are delivered to
// the wizard's form); the plug-in has no work in the worker.
#include <QPointer>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Plugin.h"

class CDevCommand;
class QAction;
class QToolBar;
class QWidget;
class TFrmRunWizard;

class TRunGuide : public CBasePlugin {
 public:
  struct WizardStep {
    int Index = -1;  // negative: an informational page
    std::string Caption;
    std::string Text;
    std::string Picture;
    QPointer<QWidget> Dock;  // the page's dock, named after the step
  };

  TRunGuide() = default;
  ~TRunGuide() override;

  int Register() override;
  int Initialize(QWidget* parent, xmlNode* node) override;
  int Finalize() override;

  void OnVector(CSubscriber* subscriber, CBasePacket* packet, bool& handled);
  void OnCommand(CSubscriber* subscriber, CBasePacket* packet, bool& handled);
  void OnIndex(CSubscriber* subscriber, CBasePacket* packet, bool& handled);
  void OnStart();
  void OnStop();
  void OnNext();
  void OnBack();
  void OnCancel();
  void SetStep(int step);
  void Run(bool confirmed);
  void CancelRun();

  // What tests look at and set.
  TFrmRunWizard* Form() const;
  QToolBar* ToolBar() const;
  const std::vector<WizardStep>& Steps() const { return steps_; }
  int CurStep() const { return curStep_; }
  bool Running() const { return running_; }
  // The clock of the run's time, in milliseconds (tests set their own).
  void SetClock(std::function<double()> clock) { clock_ = std::move(clock); }

 private:
  void SendIndex(int index);
  COutLinkPoint* CommandOutput();
  // Sends MI_RUN or MI_RESET; the instrument's answer to it is expected.
  void SendCommand(COutLinkPoint* output, CDevCommand* command);

  std::vector<WizardStep> steps_;
  int curStep_ = -1;
  int curIndex_ = -1;
  bool running_ = false;
  bool indexConfirmed_ = false;
  bool deviceSeen_ = false;
  bool autostart_ = false;  // start measuring when the instrument is first there
  // MI_RUN and MI_RESET sent whose answers have not come back yet, oldest
  // first. The instrument answers in order: an answer that matches the
  // oldest is the guide's own, which changes nothing (the actions already
  // show what the guide asked for, however late the answer comes). Any
  // other is somebody else's: another module's run, or the greeting of a
  // new connection.
  std::deque<short> awaited_;
  // A reset the guide did not ask for ended its run; an MI_RUN that follows
  // (the run sent again on a new connection) makes it the guide's run again.
  bool runLost_ = false;
  // After a run command, parts of a sweep that began before it are passed
  // over until the new sweep's first part (offset 0) arrives.
  bool awaitingFirstPart_ = false;
  // The page's run command has gone (a measuring page's parts count only
  // from then on).
  bool runSent_ = false;
  double runStart_ = 0;
  std::function<double()> clock_;
  QPointer<QWidget> mainWindow_;
  QPointer<TFrmRunWizard> form_;
  QPointer<QToolBar> toolBar_;
  std::vector<QPointer<QAction>> menuItems_;
};
