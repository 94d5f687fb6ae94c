#pragma once
// The results station: the production line's view of a scheme. The
// operator scans a unit's serial number and starts it; the displays wired
// to "verdict1".."verdict4" send their verdicts after each sweep (see
// korchart/limits/Outcome.h); once every wired display has shown the sweeps
// asked for after Start, the unit's result is made, shown large and kept:
// the writer thread commits it to the bench's SQLite file and, on a line,
// forwards it to the line's PostgreSQL server (ResultWriter.h).
//
// Threads: the inputs' handlers, the window and the questions run in the
// GUI thread; the database is written only by the writer's thread and read
// aside (a long operation) by the results window and the questions.
#include <QPointer>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Plugin.h"
#include "ResultsSettings.h"
#include "model/UnitRun.h"

class QDockWidget;
class QTimer;

namespace vkresults {
class CStationWindow;
class CResultsWindow;
class TResultWriter;
}  // namespace vkresults

class TResults : public CBasePlugin {
 public:
  static constexpr int kInputs = 4;

  TResults() = default;
  ~TResults() override;

  int Register() override;
  int Initialize(QWidget* parent, xmlNode* node) override;
  int Finalize() override;
  int Serialize(xmlNode* element, const char* section) override;
  int Deserialize(xmlNode* element, const char* section) override;
  //  "result last"           the last unit: serial,PASS|FAIL,time,seconds,id
  //  "result serial S"       the newest result of serial S (the same form)
  //  "result counts"         total,passed,failed,yield in percent (the store's)
  //  "result start S [OP]"   starts unit S (operator OP), as the window's Start
  int Query(const AnsiString& request, AnsiString& answer) override;

  // The operator's Start: serial and operator.
  void StartUnit(const std::string& serial, const std::string& operatorName);
  vkresults::CStationWindow* Station() const { return station_; }
  vkresults::CResultsWindow* ResultsWindow() const { return resultsWindow_; }
  void ShowResults();
  const std::optional<vkresults::TResult>& LastResult() const { return last_; }
  vkresults::TResultWriter* Writer() const { return writer_.get(); }
  const vkresults::TResultsSettings& Settings() const { return settings_; }

 private:
  void OutcomeArrived(int input, CSubscriber* subscriber);
  void Finished(vkresults::TResult result);
  void ShowStoreState();
  // Asks the display wired to "report" for the unit's report; its file
  // name ("" when none is asked for).
  std::string RequestReport(const vkresults::TResult& result);
  // Finds the scheme's run control (the run guide's tool bar actions).
  void TriggerRunAction(const char* name);

  vkresults::TResultsSettings settings_;
  std::unique_ptr<vkresults::CUnitRun> run_;
  std::unique_ptr<vkresults::TResultWriter> writer_;
  std::optional<vkresults::TResult> last_;
  QPointer<QWidget> parent_;
  QPointer<QDockWidget> tool_;
  QPointer<vkresults::CStationWindow> station_;
  QPointer<vkresults::CResultsWindow> resultsWindow_;
  QPointer<QTimer> timer_;
  std::string operator_;
  // The limits of the readings, as the displays last told them (for the
  // results window's histograms).
  std::map<std::string, korchart::TValueLimits> readingLimits_;
};
