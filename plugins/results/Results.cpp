#include "Results.h"

#include <QAction>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSysInfo>
#include <QMainWindow>
#include <QTimer>
#include <QToolBar>

#include <sstream>

#include "Diagnostics.h"
#include "GuiPlugin.h"
#include "PacketTypes.h"
#include "PluginClass.h"
#include "ResultWriter.h"
#include "VKPaths.h"
#include "VKXml.h"
#include "platform/LongOperation.h"
#include "platform/Report.h"
#include "ui/ResultsWindow.h"
#include "ui/StationWindow.h"

using namespace vkresults;

namespace {

constexpr int kHelpContext = 1110;

std::string InputName(int i) { return "verdict" + std::to_string(i + 1); }
const char* const kReportOutput = "report";

double Seconds() {
  static QElapsedTimer clock;
  if (!clock.isValid()) clock.start();
  return static_cast<double>(clock.nsecsElapsed()) * 1e-9;
}

std::string Number(double v) { return vkcore::FormatXmlDouble(v); }

std::string Summary(const TResult& r) {
  return r.serial + "," + (r.pass ? "PASS" : "FAIL") + "," + r.timeUtc + "," + Number(r.seconds) + "," + r.id;
}

// The scheme's file name without its folder and extension.
std::string SchemeName(xmlNode* node) {
  if (!node || !node->doc || !node->doc->URL) return std::string();
  std::string file = reinterpret_cast<const char*>(node->doc->URL);
  const auto slash = file.rfind('/');
  if (slash != std::string::npos) file.erase(0, slash + 1);
  const auto dot = file.rfind('.');
  if (dot != std::string::npos && dot > 0) file.erase(dot);
  return file;
}

}  // namespace

TResults::~TResults() {
  if (Initialized) Finalize();
}

int TResults::Register() {
  for (int i = 0; i < kInputs; ++i) RegisterInLinkPoint(InputName(i), {MetaClassOf<CStringPacket>()}, lptDefault);
  RegisterOutLinkPoint(kReportOutput, {MetaClassOf<CStringPacket>()}, lptDefault);
  return 0;
}

int TResults::Initialize(QWidget* parent, xmlNode* node) {
  parent_ = parent;
  VKCore::CXMLDocument config(false);
  xmlNode* configRoot = config.Open(GetConfigFileName().c_str(), VKCore::kSettingsFileLimit) == 0 ? config.Root() : nullptr;
  settings_ = ReadResultsSettings(node, configRoot);
  TRunSettings run;
  run.sweeps = settings_.sweeps;
  run.readings = settings_.readings;
  run.bench = QSysInfo::machineHostName().toStdString();
  run.scheme = SchemeName(node);
  run_ = std::make_unique<CUnitRun>(run);
  writer_ = std::make_unique<TResultWriter>(settings_.store);

  for (int i = 0; i < kInputs; ++i) {
    CInLinkPoint* in = GetInLinkPoint(AnsiString(InputName(i)));
    if (!in) continue;
    in->OnPacket = [this, i](CSubscriber* s, CBasePacket*, bool& handled) {
      handled = true;
      OutcomeArrived(i, s);
    };
    in->NotifyWindow = parent;
  }
  if (!parent) return 0;

  tool_ = new QDockWidget(QString::fromStdString(settings_.caption), parent);
  tool_->setObjectName(QString::fromStdString(Name()));
  tool_->setProperty("helpContext", kHelpContext);
  station_ = new CStationWindow(tool_);
  tool_->setWidget(station_);
  station_->SetOperator(operator_);
  station_->onStart = [this](const std::string& serial, const std::string& op) { StartUnit(serial, op); };
  station_->onShowResults = [this] { ShowResults(); };
  PlaceToolWindow(tool_, parent, settings_.dock);
  RegisterToolWindow(tool_);
  timer_ = new QTimer(tool_);
  QObject::connect(timer_, &QTimer::timeout, tool_, [this] { ShowStoreState(); });
  timer_->start(500);
  ShowStoreState();
  return 0;
}

int TResults::Finalize() {
  for (int i = 0; i < kInputs; ++i)
    if (CInLinkPoint* in = GetInLinkPoint(AnsiString(InputName(i)))) {
      in->OnPacket = TPacketEvent();
      in->NotifyWindow = nullptr;
    }
  if (resultsWindow_) delete resultsWindow_.data();
  if (tool_) {
    operator_ = station_ ? station_->Operator() : operator_;
    UnregisterToolWindow(tool_);
    delete tool_.data();
  }
  // Everything submitted is committed to the bench's file before the
  // package goes; what the line's server has not taken waits there.
  writer_.reset();
  run_.reset();
  return 0;
}

void TResults::OutcomeArrived(int input, CSubscriber* subscriber) {
  std::unique_ptr<CBasePacket> taken(subscriber ? subscriber->GetPacketCopyAndRelease() : nullptr);
  auto* text = dynamic_cast<CStringPacket*>(taken.get());
  if (!text || !run_) return;
  korchart::TDisplayOutcome outcome;
  std::string error;
  if (!korchart::OutcomeFromXml(text->GetString(), outcome, error)) {
    LogMessage(("Результаты \"" + Name() + "\": " + error).c_str(), false);
    return;
  }
  for (const auto& r : outcome.readings)
    if (r.limits.Active()) readingLimits_[r.name] = r.limits;
  run_->Take(input, outcome);
  if (!run_->Running()) return;
  if (auto result = run_->Finish(Seconds())) {
    Finished(std::move(*result));
  } else if (station_) {
    station_->ShowMeasuring(run_->SweepsAwaited());
  }
}

void TResults::StartUnit(const std::string& serial, const std::string& operatorName) {
  if (!run_ || serial.empty()) return;
  std::vector<int> wired;
  for (int i = 0; i < kInputs; ++i) {
    CInLinkPoint* in = GetInLinkPoint(AnsiString(InputName(i)));
    if (in && in->SubscriptionsCount() > 0) wired.push_back(i);
  }
  if (wired.empty()) {
    vkplatform::MessageBox("К станции результатов не подключён ни один дисплей с границами (входы verdict1…verdict4).",
                           "Результаты " + Name(), vkplatform::MsgIcon::Warning);
    return;
  }
  operator_ = operatorName;
  run_->Start(serial, operatorName, Seconds(), wired);
  if (station_) station_->ShowMeasuring(run_->SweepsAwaited());
  // The measurement runs through the scheme's run control when it is not
  // running already (an instrument that sweeps all the time needs nothing).
  TriggerRunAction("ActionStart");
}

void TResults::TriggerRunAction(const char* name) {
  QMainWindow* main = parent_ ? vkgui::OwnerMainWindow(parent_) : nullptr;
  if (!main) return;
  for (QToolBar* bar : main->findChildren<QToolBar*>())
    for (QAction* a : bar->actions())
      if (a->objectName() == name) {
        if (a->isEnabled()) a->trigger();
        return;
      }
}

std::string TResults::RequestReport(const TResult& result) {
  COutLinkPoint* out = GetOutLinkPoint(AnsiString(kReportOutput));
  if (settings_.report.empty() || !out || !out->Dispatcher()) return std::string();
  // "<serial>_<time>.pdf": what a file name cannot hold becomes "_".
  std::string serial;
  for (unsigned char c : result.serial) serial += c < 0x20 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' ||
                                                          c == '"' || c == '<' || c == '>' || c == '|'
                                                      ? '_'
                                                      : static_cast<char>(c);
  std::string stamp = result.timeUtc.substr(0, 19);
  for (char& c : stamp)
    if (c == ':' || c == 'T') c = c == 'T' ? '_' : '-';
  QDir().mkpath(QString::fromStdString(settings_.reportFolder));
  const std::string file = settings_.reportFolder + "/" + serial + "_" + stamp + "." + settings_.report;
  auto* packet = new CStringPacket(file.c_str());
  if (out->AddPacket(packet) != VKT_OK) {
    delete packet;
    return std::string();
  }
  return file;
}

void TResults::Finished(TResult result) {
  // The displays still show the unit: its report is written now.
  result.report = RequestReport(result);
  std::string error;
  if (!writer_->Submit(result, &error)) {
    vkplatform::MessageBox("Результат изделия " + result.serial + " не сохранён: " + error, "Результаты " + Name(),
                           vkplatform::MsgIcon::Error);
  }
  if (station_) station_->ShowVerdict(result.pass, FailingLimits(result), result.seconds);
  last_ = std::move(result);
  if (settings_.stop) TriggerRunAction("ActionStop");
  ShowStoreState();
}

void TResults::ShowStoreState() {
  if (!station_ || !writer_) return;
  const TWriterState s = writer_->State();
  std::string text = "Сохранено за сеанс: " + std::to_string(s.stored);
  if (s.serverConfigured) {
    text += s.serverReached ? "; сервер линии доступен" : "; сервер линии недоступен";
    if (s.unsent > 0) text += "; ждут отправки: " + std::to_string(s.unsent);
  }
  if (!s.lastError.empty()) text += "\n" + s.lastError;
  station_->ShowStore(text, !s.lastError.empty());
}

void TResults::ShowResults() {
  if (resultsWindow_) {
    resultsWindow_->raise();
    resultsWindow_->activateWindow();
    return;
  }
  resultsWindow_ = new CResultsWindow(parent_, settings_.store);
  resultsWindow_->setProperty("helpContext", kHelpContext);
  resultsWindow_->setAttribute(Qt::WA_DeleteOnClose);
  resultsWindow_->SetReadingLimits(readingLimits_);
  resultsWindow_->show();
  resultsWindow_->Refresh();
}

int TResults::Query(const AnsiString& request, AnsiString& answer) {
  std::istringstream words(request);
  std::string what, which;
  words >> what >> which;
  if (what != "result") return VKT_NOT_SUPPORTED;
  if (which == "start") {
    std::string serial, op;
    words >> serial;
    std::getline(words >> std::ws, op);
    if (serial.empty()) {
      answer = "нет серийного номера";
      return VKT_ERROR;
    }
    if (station_) station_->SerialEdit()->setText(QString::fromStdString(serial));
    StartUnit(serial, op.empty() ? operator_ : op);
    answer.clear();
    return run_ && run_->Running() ? VKT_OK : VKT_ERROR;
  }
  if (which == "running") {
    answer = run_ && run_->Running() ? "1" : "0";
    return VKT_OK;
  }
  if (which == "last") {
    answer = last_ ? Summary(*last_) : std::string();
    return VKT_OK;
  }
  if (which != "serial" && which != "counts") {
    answer = "ожидается result last|serial S|counts|start S|running";
    return VKT_ERROR;
  }
  std::string serial;
  std::getline(words >> std::ws, serial);
  if (which == "serial" && serial.empty()) {
    answer = "нет серийного номера";
    return VKT_ERROR;
  }
  // Read aside: the line's server may be slow to answer.
  std::string error, text;
  bool ok = false;
  vkplatform::CLongOperation operation("Чтение результатов...");
  operation.RunAside([&] {
    auto store = TSqlResultStore::Open(settings_.store, &error);
    if (!store) return;
    if (which == "serial") {
      const auto r = store->LatestForSerial(serial);
      ok = store->LastError().empty();
      if (r) text = Summary(*r);
    } else {
      const TCounts c = store->Counts();
      ok = store->LastError().empty();
      text = std::to_string(c.total) + "," + std::to_string(c.passed) + "," + std::to_string(c.failed) + "," +
             Number(c.total > 0 ? 100.0 * static_cast<double>(c.passed) / static_cast<double>(c.total) : 0);
    }
    if (!ok) error = store->LastError();
  });
  answer = ok ? text : error;
  return ok ? VKT_OK : VKT_ERROR;
}

int TResults::Serialize(xmlNode* element, const char* section) {
  if (section && std::string(section) != "params") return 0;
  VKCore::AddAttribute(element, "operator", station_ ? station_->Operator() : operator_);
  return 0;
}

int TResults::Deserialize(xmlNode* element, const char* section) {
  if (section && std::string(section) != "params") return 0;
  const std::string op = VKCore::GetNodeStringValue(element, "@operator", operator_);
  operator_ = op;
  if (station_) station_->SetOperator(op);
  return 0;
}

VK_DECLARE_PLUGIN_PACKAGE(TResults)
