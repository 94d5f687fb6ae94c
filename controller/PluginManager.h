#pragma once
// Plug-in packages: one CPluginManager per package file, and the
// CPluginsManager that scans the plug-in folder and creates instances by
// class name.
#include <memory>
#include <vector>

#include "Plugin.h"
#include "PluginClass.h"
#include "VKTypes.h"

class CPluginManager {
 public:
  explicit CPluginManager(const AnsiString& path = AnsiString());
  ~CPluginManager();
  CPluginManager(const CPluginManager&) = delete;
  CPluginManager& operator=(const CPluginManager&) = delete;

  // Checks that `path` is a package: loads it, reads its class and unloads
  // it again. 0 or -1.
  int SetPluginPackage(const AnsiString& path);
  // 0, or -1 (instances exist, already loaded, no file name, not loadable, no
  // GetClass).
  int LoadPackage();
  // -1 while instances exist; 0 otherwise.
  int UnloadPackage();
  AnsiString GetPluginClass() const { return className; }
  // A new instance with its name set and its link points registered; null
  // on failure.
  CBasePlugin* CreatePluginInstance(const AnsiString& name);
  // -6 for an instance this package did not create.
  int DestroyPluginInstance(CBasePlugin* plugin);
  int DestroyPluginInstances();
  AnsiString GetFileName() const { return fileName; }
  AnsiString GetVersion() const;
  AnsiString GetDescription() const;

  bool IsLoaded() const { return handle != nullptr; }
  size_t InstanceCount() const { return instances.size(); }
  // The loader's own text for the last failure to load ("" when none).
  AnsiString LastError() const { return lastError; }
  // Whether the package's code stays mapped after it is unloaded (packages
  // built on Qt do; see LoadPackage).
  bool KeptMapped() const { return keptMapped; }

 private:
  AnsiString fileName;
  void* handle = nullptr;
  std::vector<CBasePlugin*> instances;
  AnsiString className;
  const CPluginClass* classReference = nullptr;
  AnsiString lastError;
  bool keptMapped = false;
};

class CPluginsManager {
 public:
  // Scans `directory` for "*.so" packages.
  explicit CPluginsManager(const char* directory);
  ~CPluginsManager();
  CPluginsManager(const CPluginsManager&) = delete;
  CPluginsManager& operator=(const CPluginsManager&) = delete;

  // 0, -10 when no package offers the class, -1 when its package could not
  // create the instance.
  int CreatePluginInstance(CBasePlugin*& plugin, const char* className, const char* name);
  // 0, or -6 when no package owns the instance.
  int DestroyPluginInstance(CBasePlugin* plugin);
  CPluginManager* GetPlugin(unsigned index) const;
  unsigned GetPluginCount() const { return static_cast<unsigned>(plugins.size()); }
  AnsiString GetDirectory() const { return directory; }
  // One line per file of the folder that is not a usable package:
  // "<path>: <reason>".
  const std::vector<AnsiString>& ScanErrors() const { return scanErrors; }

 private:
  AnsiString directory;
  std::vector<CPluginManager*> plugins;
  std::vector<AnsiString> scanErrors;
};
