#include "remote/RemoteControl.h"

#include <QAction>
#include <QCommandLineParser>
#include <QToolBar>

#include <cstdlib>

#include "MainForm.h"
#include "SchemeManager.h"
#include "remote/RemoteCommands.h"
#include "remote/RemoteServer.h"

namespace vkremote {

namespace {

// The launcher's main window as the commands' host.
class CFormHost : public IRemoteHost {
 public:
  explicit CFormHost(TMainForm* form) : form_(form) {}
  CSchemeManager* Scheme() const override { return form_->Scheme(); }
  int OpenScheme(const std::string& fileName) override { return form_->OpenScheme(QString::fromStdString(fileName)); }
  void CloseScheme() override { form_->CloseScheme(); }
  int StartScheme() override { return form_->Scheme() ? form_->Scheme()->Start(form_) : -1; }
  std::string Title() const override { return TMainForm::ApplicationTitle(); }
  TControl RunControl(bool start) const override {
    const QAction* action = Action(start);
    return !action ? TControl::missing : action->isEnabled() ? TControl::enabled : TControl::disabled;
  }
  void TriggerRun(bool start) override {
    if (QAction* action = Action(start)) action->trigger();
  }

 private:
  // The first action of that name on the window's tool bars.
  QAction* Action(bool start) const {
    const char* name = start ? "ActionStart" : "ActionStop";
    for (QToolBar* bar : form_->findChildren<QToolBar*>())
      for (QAction* candidate : bar->actions())
        if (candidate->objectName() == name) return candidate;
    return nullptr;
  }

  TMainForm* form_;
};

}  // namespace

void TRemoteCommandLine::AddTo(QCommandLineParser& parser) {
  parser.addOption(remote);
  parser.addOption(bind);
  parser.addOption(token);
}

bool TRemoteCommandLine::Read(const QCommandLineParser& parser, TRemoteOptions& options, std::string& error) const {
  options = TRemoteOptions();
  if (!parser.isSet(remote)) {
    if (parser.isSet(bind) || parser.isSet(token)) {
      error = "--remote-bind и --remote-token действуют только вместе с --remote";
      return false;
    }
    return true;
  }
  bool ok = false;
  const int port = parser.value(remote).toInt(&ok);
  if (!ok || port < 0 || port > 65535) {
    error = "--remote ждёт номер порта от 0 до 65535, а не \"" + parser.value(remote).toStdString() + "\"";
    return false;
  }
  options.port = port;
  if (parser.isSet(bind)) options.bind = parser.value(bind).toStdString();
  if (parser.isSet(token)) options.token = parser.value(token).toStdString();
  else if (const char* t = std::getenv("VEKTRA_REMOTE_TOKEN")) options.token = t;
  const bool loopback = options.bind == "127.0.0.1" || options.bind == "::1" || options.bind == "localhost";
  if (options.bind == "localhost") options.bind = "127.0.0.1";
  if (!loopback && options.token.empty()) {
    error = "удалённое управление на адресе " + options.bind +
            " возможно только с ключом (--remote-token или VEKTRA_REMOTE_TOKEN)";
    return false;
  }
  return true;
}

CRemoteControl::CRemoteControl(TMainForm* form)
    : host_(std::make_unique<CFormHost>(form)), commands_(std::make_unique<CRemoteCommands>(host_.get())) {
  server_ = std::make_unique<CRemoteServer>(
      [this](int client, const std::string& line) { return commands_->Run(client, line); });
  server_->OnClientGone = [this](int client) { commands_->Forget(client); };
}

CRemoteControl::~CRemoteControl() {
  server_.reset();  // before the commands it calls
}

int CRemoteControl::Start(const TRemoteOptions& options, std::string& error) {
  return server_->Listen(options.bind, options.port, options.token, error);
}

}  // namespace vkremote
