#include "PluginManager.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "Diagnostics.h"
#include "ElfFile.h"
#include "ProgramInfo.h"

namespace {

AnsiString DlError() {
  const char* e = dlerror();
  return e ? e : "unknown loader error";
}

// Whether the module itself uses Qt: its dynamic string table then names
// Qt's symbol versions. Qt keeps pointers into such a module (its
// meta-objects, registered meta-types, queued events and timers of its
// objects) that cannot all be withdrawn, so its code must stay mapped after
// the package is unloaded.
bool UsesQt(const AnsiString& fileName) {
  std::vector<char> dynstr;
  if (!vkelf::ReadSection(fileName, ".dynstr", dynstr)) return false;
  static const char kQtVersion[] = "Qt_6";
  const std::string table(dynstr.data(), dynstr.size());
  for (size_t pos = 0; pos < table.size();) {
    size_t zero = table.find('\0', pos);
    if (zero == std::string::npos) zero = table.size();
    if (table.compare(pos, sizeof kQtVersion - 1, kQtVersion) == 0) return true;
    pos = zero + 1;
  }
  return false;
}

}  // namespace

// ---- CPluginManager -----------------------------------------------------------

CPluginManager::CPluginManager(const AnsiString& path) {
  if (!path.empty()) SetPluginPackage(path);
}

CPluginManager::~CPluginManager() { DestroyPluginInstances(); }

int CPluginManager::SetPluginPackage(const AnsiString& path) {
  DestroyPluginInstances();
  LogMessage("Loading package " + path + "...", false);
  fileName = path;
  if (LoadPackage() != 0) {
    fileName.clear();
    className.clear();
    LogMessage("\t\tFailed", true);
    return -1;
  }
  UnloadPackage();
  LogMessage("\t\tDone", true);
  return 0;
}

int CPluginManager::LoadPackage() {
  if (!instances.empty() || handle || fileName.empty()) return -1;
  lastError.clear();
  dlerror();
  void* h = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    lastError = DlError();
    LogMessage("\t\t" + lastError, true);
    return -1;
  }
  auto getClass = reinterpret_cast<TGetClassFunction>(dlsym(h, "GetClass"));
  VK_ASSERT_TEXT(getClass != nullptr, "MyGetClass!=NULL");
  const CPluginClass* reference = getClass ? getClass() : nullptr;
  if (!reference) {
    lastError = getClass ? "GetClass returned no class" : "no GetClass export";
    LogMessage("\t\t" + lastError, true);
    dlclose(h);
    return -1;
  }
  if (!keptMapped && UsesQt(fileName)) {
    // Promote the module to "never unmapped"; this handle is balanced below.
    if (void* pin = dlopen(fileName.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) {
      dlclose(pin);
      keptMapped = true;
    }
  }
  handle = h;
  classReference = reference;
  className = reference->ClassName();
  return 0;
}

int CPluginManager::UnloadPackage() {
  if (!instances.empty()) return -1;
  if (handle) {
    classReference = nullptr;
    dlclose(handle);
    handle = nullptr;
  }
  return 0;
}

CBasePlugin* CPluginManager::CreatePluginInstance(const AnsiString& name) {
  if ((!handle || !classReference) && LoadPackage() != 0) return nullptr;
  CBasePlugin* plugin = classReference->CreateInstance();
  VK_ASSERT_TEXT(plugin != nullptr, "plugin != NULL");
  if (!plugin) {
    if (instances.empty()) UnloadPackage();
    return nullptr;
  }
  plugin->SetName(name);
  try {
    plugin->Register();
  } catch (...) {
    // A plug-in whose link points cannot be built is no usable instance.
    delete plugin;
    AssertFunction(__FILE__, __DATE__, __LINE__, "plugin->Register()");
    if (instances.empty()) UnloadPackage();
    return nullptr;
  }
  instances.push_back(plugin);
  return plugin;
}

int CPluginManager::DestroyPluginInstance(CBasePlugin* plugin) {
  auto it = std::find(instances.begin(), instances.end(), plugin);
  if (!plugin || it == instances.end()) return VKT_NO_PLUGIN;
  instances.erase(it);
  delete plugin;
  if (instances.empty()) UnloadPackage();
  return VKT_OK;
}

int CPluginManager::DestroyPluginInstances() {
  while (!instances.empty()) {
    CBasePlugin* plugin = instances.back();
    instances.pop_back();
    delete plugin;
  }
  UnloadPackage();
  fileName.clear();
  return VKT_OK;
}

AnsiString CPluginManager::GetVersion() const {
  CProgramInfo info;
  info.OpenInfo(fileName);
  return info.GetVersion();
}

AnsiString CPluginManager::GetDescription() const {
  CProgramInfo info;
  info.OpenInfo(fileName);
  return info.GetDescription();
}

// ---- CPluginsManager ----------------------------------------------------------

CPluginsManager::CPluginsManager(const char* dir) : directory(dir ? dir : "") {
  std::vector<AnsiString> names;
  if (DIR* d = opendir(directory.c_str())) {
    while (dirent* e = readdir(d)) {
      const size_t len = std::strlen(e->d_name);
      if (len > 3 && std::strcmp(e->d_name + len - 3, ".so") == 0) names.emplace_back(e->d_name);
    }
    closedir(d);
  }
  // The folder's listing order depends on the file system; a sorted order
  // makes "the first package wins" the same everywhere.
  std::sort(names.begin(), names.end());
  for (const AnsiString& name : names) {
    const AnsiString path = directory + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    auto* manager = new CPluginManager();
    if (manager->SetPluginPackage(path) != 0) {
      // Not a usable package: logged by the manager, remembered here with
      // the loader's own words, and skipped.
      const AnsiString reason = manager->LastError();
      scanErrors.push_back(path + ": " + (reason.empty() ? "not a plug-in package" : reason));
      delete manager;
      continue;
    }
    plugins.push_back(manager);
  }
}

CPluginsManager::~CPluginsManager() {
  while (!plugins.empty()) {
    delete plugins.back();
    plugins.pop_back();
  }
}

int CPluginsManager::CreatePluginInstance(CBasePlugin*& plugin, const char* className,
                                          const char* name) {
  plugin = nullptr;
  for (CPluginManager* manager : plugins) {
    if (!className || manager->GetPluginClass() != className) continue;
    CBasePlugin* BP = manager->CreatePluginInstance(name ? name : "");
    VK_ASSERT(BP != NULL);
    if (!BP) return VKT_ERROR;
    plugin = BP;
    return VKT_OK;
  }
  return VKT_NO_CLASS;
}

int CPluginsManager::DestroyPluginInstance(CBasePlugin* plugin) {
  for (auto it = plugins.rbegin(); it != plugins.rend(); ++it)
    if ((*it)->DestroyPluginInstance(plugin) == VKT_OK) return VKT_OK;
  return VKT_NO_PLUGIN;
}

CPluginManager* CPluginsManager::GetPlugin(unsigned index) const {
  return index < plugins.size() ? plugins[index] : nullptr;
}
