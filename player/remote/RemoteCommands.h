#pragma once
// The remote interface's command language, in the style of instrument
// command languages: "*IDN?", "*OPC?", "SYST:ERR?", scheme, profile, module
// state, run, trace, marker and report commands (docs/remote.md). Each
// client has its own error queue. Commands run in the GUI thread against
// a host (the launcher's main window, IRemoteHost); what a command would
// say in a message box goes to the client's error queue instead.
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "remote/RemoteServer.h"

class CBasePlugin;
class CSchemeManager;

namespace vkremote {

// The language's own errors, under the numbers instrument clients know
// (the system's own result codes are the negative numbers above -100).
constexpr int kSyntaxError = -102, kParameterNotAllowed = -108, kMissingParameter = -109,
              kUnknownCommand = -113, kNotFinished = -200, kNoScheme = -221, kDataOutOfRange = -222,
              kBadParameter = -224, kQueueOverflow = -350;

// The arguments of a command line: comma-separated, strings in double or
// single quotes (a quote doubled inside stands for itself).
bool SplitArguments(const std::string& text, std::vector<std::string>& arguments);

// The header of a command line in its canonical form: "SCH:OPEN" for
// " scheme:open x.vms", "*IDN?" for "*idn?".
std::string CanonicalHeader(const std::string& line);

// What the commands act on: the window that holds the scheme. The launcher
// gives its main window (RemoteControl.cpp); the tests and the fuzz target
// may give their own.
class IRemoteHost {
 public:
  virtual ~IRemoteHost() = default;
  // The open scheme, or null.
  virtual CSchemeManager* Scheme() const = 0;
  // 0, or the result code of the failure (the scheme before is closed).
  virtual int OpenScheme(const std::string& fileName) = 0;
  virtual void CloseScheme() = 0;
  // Starts the open scheme with its modules' windows in the host's: 0 or
  // the scheme's result code.
  virtual int StartScheme() = 0;
  // The title the window shows for the scheme.
  virtual std::string Title() const = 0;
  // The run control a scheme's module puts on the window's tool bars (the
  // actions "ActionStart" and "ActionStop").
  enum class TControl { missing, disabled, enabled };
  virtual TControl RunControl(bool start) const = 0;
  virtual void TriggerRun(bool start) = 0;
};

class CRemoteCommands {
 public:
  static constexpr size_t kMaxErrors = 32;
  static constexpr double kOpcTimeoutSeconds = 60;

  explicit CRemoteCommands(IRemoteHost* host) : host_(host) {}
  TReply Run(int client, const std::string& line);
  void Forget(int client) {
    errors_.erase(client);
    status_.erase(client);
  }

 private:
  using TArgs = std::vector<std::string>;
  TReply Dispatch(int client, const std::string& header, const TArgs& args);
  void Error(int client, int code, const std::string& text);
  std::string PopError(int client);
  CBasePlugin* Module(int client, const TArgs& args, size_t count);
  TReply DisplayQuery(int client, const TArgs& args, const std::string& question, bool block);
  TReply LimitCommand(int client, const std::string& header, const TArgs& args);
  bool Settled() const;
  // The complete sweeps each display has taken, by module.
  std::map<std::string, unsigned long long> SweepsShown() const;

  // The count of arguments a command takes: -108 for more, -109 for fewer.
  bool Needs(int client, const TArgs& args, size_t count);
  TReply WaitSettled(int client, std::string answer, bool setOperationComplete);

  IRemoteHost* host_;
  std::map<int, std::deque<std::pair<int, std::string>>> errors_;
  // Each client's standard event status register and the enable masks of
  // its events and of its service requests.
  struct TStatus {
    int events = 0, eventEnable = 0, serviceEnable = 0;
  };
  std::map<int, TStatus> status_;
  // A run started by a command: *OPC? also waits for a sweep after it.
  bool runStarted_ = false;
  std::map<std::string, unsigned long long> sweepsAtStart_;
};

}  // namespace vkremote
