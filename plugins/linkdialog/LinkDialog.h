#pragma once
// The connection dialog's plug-in: it lets the operator pick the address of
// an instrument from a stored list, sends it on "address" to the module that
// connects (the instrument link), shows that module's error texts (input
// "message") and watches the instrument's traffic (input "command") to say
// when the instrument answers.
//
// Threads: Process (worker) posts the dialog's events and sends the address;
// everything that touches the dialog runs in the GUI thread. The address is
// handed over under a mutex.
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "Plugin.h"

class QAction;
namespace linkdialog {
class TFormConnect;
}

class TLinkDialog : public CBasePlugin {
 public:
  // The dialog's own events (posted to it).
  static constexpr int WM_CONNECTSHOW = 1581;
  static constexpr int WM_CONNECTINIT = 1582;
  static constexpr int WM_CONNECTDONE = 1583;

  TLinkDialog() = default;
  ~TLinkDialog() override;

  int Register() override;
  int Initialize(QWidget* parent, xmlNode* node) override;
  int Finalize() override;
  void Process() override;

  void OnMessage(CSubscriber* subscriber, CBasePacket* packet, bool& handled);
  // The dialog's callback: the address to send.
  void Connect(const std::string& address);
  // The dialog's events (GUI thread); true when handled.
  bool WindowProc(int message);

  linkdialog::TFormConnect* Form() const;
  QAction* MenuItem() const { return menuItem_; }
  // The clock of the 500 ms rule, in milliseconds (tests set their own).
  void SetClock(std::function<double()> clock) { clock_ = std::move(clock); }

 private:
  void Post(int message);

  CInLinkPoint* cmd_i = nullptr;
  std::string deviceType_ = "q5l";
  std::string deviceName_ = "К5Л";
  QPointer<linkdialog::TFormConnect> form_;
  // The dialog as the worker posts to it: set and cleared only while the
  // worker does not run (Initialize, Finalize).
  QObject* postTarget_ = nullptr;
  QObject* events_ = nullptr;  // the event filter on the dialog; owned by it
  QPointer<QAction> menuItem_;
  std::mutex addressMutex_;
  std::string address_;
  bool addressPending_ = false;
  // Worker only.
  bool showAtStart_ = true;
  bool answered_ = false;
  bool announced_ = false;
  // Set by the GUI thread when the link reports an error: the connection
  // that was being made is not announced as made.
  std::atomic<bool> failed_{false};
  double firstAnswer_ = 0;
  std::function<double()> clock_;
};
