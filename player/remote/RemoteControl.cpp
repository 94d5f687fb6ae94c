#include "remote/RemoteControl.h"

#include <QCommandLineParser>

#include <cstdlib>

#include "remote/RemoteCommands.h"
#include "remote/RemoteServer.h"

namespace vkremote {

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

CRemoteControl::CRemoteControl(TMainForm* form) : commands_(std::make_unique<CRemoteCommands>(form)) {
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
