#pragma once
// Runs a scheme without the launcher: opens it with the packages of a given
// folder, starts it on a host main window, lets it run for a while or until
// a condition holds, then stops and closes it. Used by tests, benchmarks and
// the vk-run-scheme program; needs a QApplication.
#include <functional>
#include <map>
#include <memory>

#include "PluginManager.h"
#include "SchemeManager.h"

class QMainWindow;

class CSchemeRunner {
 public:
  explicit CSchemeRunner(const AnsiString& pluginsDir);
  ~CSchemeRunner();

  // CSchemeManager::Open; the scheme's name is kept.
  int Open(const AnsiString& schemeFile);
  // Starts the scheme with the host window as its window control.
  int Start();
  // Serves the GUI thread until `done` holds or `timeoutMs` passed; true when
  // `done` held.
  bool RunUntil(const std::function<bool()>& done, int timeoutMs);
  void RunFor(int ms);
  int Stop();
  int Close();

  // The attributes that module `name` writes when serialized ("" for a
  // module that does not serialize or does not exist).
  std::map<AnsiString, AnsiString> ModuleState(const AnsiString& name);
  // One attribute of ModuleState as a number (`fallback` when absent).
  double ModuleValue(const AnsiString& name, const AnsiString& attribute, double fallback = -1);

  CSchemeManager& Scheme() { return *scheme; }
  CPluginsManager& Plugins() { return *plugins; }
  QMainWindow* Host() const { return host.get(); }
  AnsiString SchemeName() const { return schemeName; }

 private:
  std::unique_ptr<CPluginsManager> plugins;
  std::unique_ptr<CSchemeManager> scheme;
  std::unique_ptr<QMainWindow> host;
  AnsiString schemeName;
};
