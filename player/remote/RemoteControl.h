#pragma once
// The remote interface of a launcher window: the command-line options
// (--remote PORT, --remote-bind ADDR, --remote-token TOKEN or the variable
// VEKTRA_REMOTE_TOKEN) and the server with its commands. Another address
// than the loopback's is served only with a token.
#include <QCommandLineOption>
#include <QString>

#include <memory>
#include <string>

class QCommandLineParser;
class TMainForm;

namespace vkremote {

class CRemoteServer;
class CRemoteCommands;
class IRemoteHost;

struct TRemoteOptions {
  int port = -1;  // -1: no remote interface
  std::string bind = "127.0.0.1";
  std::string token;
};

struct TRemoteCommandLine {
  QCommandLineOption remote{"remote", QString::fromUtf8("удалённое управление: принимать команды на порту TCP"), "port"};
  QCommandLineOption bind{"remote-bind",
                          QString::fromUtf8("адрес для удалённого управления (по умолчанию 127.0.0.1; "
                                            "другой адрес только с ключом)"),
                          "address"};
  QCommandLineOption token{"remote-token",
                           QString::fromUtf8("ключ, который клиент посылает первой строкой "
                                             "(или переменная VEKTRA_REMOTE_TOKEN)"),
                           "token"};
  void AddTo(QCommandLineParser& parser);
  // False with the reason when the options do not make a safe server.
  bool Read(const QCommandLineParser& parser, TRemoteOptions& options, std::string& error) const;
};

class CRemoteControl {
 public:
  explicit CRemoteControl(TMainForm* form);
  ~CRemoteControl();
  // The port listened on, or -1 with the reason in `error`.
  int Start(const TRemoteOptions& options, std::string& error);

 private:
  std::unique_ptr<IRemoteHost> host_;
  std::unique_ptr<CRemoteCommands> commands_;
  std::unique_ptr<CRemoteServer> server_;
};

}  // namespace vkremote
