#pragma once
// The one place where the system shows a message to the user.
//
// Three behaviours:
//  * a hook is installed (tests, automation): the hook gets the report and
//    gives the answer; nothing is shown;
//  * a QApplication with a real display exists: a modal QMessageBox, shown in
//    the GUI thread even when the report comes from another thread;
//  * no GUI (or an offscreen one that nobody can see): the text goes to
//    standard error and the report's default answer is taken.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vkplatform {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct Report {
  std::string caption;
  std::string text;
  MsgIcon icon = MsgIcon::Error;
  MsgButtons buttons = MsgButtons::Ok;
  MsgAnswer defaultAnswer = MsgAnswer::Ok;
  // Contract-violation reports also carry where they come from.
  bool assertion = false;
  std::string file;
  std::string date;
  int line = 0;
  std::string expression;
  std::string plugin;
};

using ReportHook = std::function<MsgAnswer(const Report&)>;

// Installs `hook` for the whole process and returns the previous one. An
// empty hook restores the normal presentation.
ReportHook SetReportHook(ReportHook hook);

// Presents a report and returns the answer.
MsgAnswer ShowReport(const Report& report);

// The usual message box: caption, text, icon, buttons, default answer.
MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                     MsgButtons buttons = MsgButtons::Ok, MsgAnswer defaultAnswer = MsgAnswer::Ok);

// True when a message box would really be shown on a screen.
bool GuiAvailable();

// Runs `fn` in the GUI thread and waits until it has run: at once when
// called there (or when there is no GUI application), otherwise as a blocking
// call that the GUI thread serves from its event loop or from
// ServeGuiRequests.
void RunInGuiThread(const std::function<void()>& fn);

// Called by a GUI-thread loop that waits for another thread: delivers the
// blocking calls that other threads have queued for the GUI thread (message
// boxes, synchronous window calls), so that the thread waited for is never
// itself waiting for the GUI thread. Does nothing in other threads.
void ServeGuiRequests();

// Captures every report made while it lives (from any thread) and answers
// each with its default answer. Nests: the previous hook comes back when it
// is destroyed.
class ReportCapture {
 public:
  ReportCapture();
  ~ReportCapture();
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

  std::vector<Report> Reports() const;
  size_t Count() const;
  // Number of contract-violation reports with this expression text.
  size_t CountExpression(const std::string& expression) const;
  // Number of reports whose text contains `fragment`.
  size_t CountText(const std::string& fragment) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Report> reports_;
  ReportHook previous_;
};

}  // namespace vkplatform
