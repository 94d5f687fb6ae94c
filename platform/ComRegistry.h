#pragma once
// The per-user component registry: what DllRegisterServer writes and
// CoCreateInstance reads. It mirrors the Windows class registry as an INI
// file, $XDG_CONFIG_HOME/Korvan/ComponentRegistry.ini (QSettings, organisation
// "Korvan", application "ComponentRegistry"). Key paths are the Windows paths
// below HKEY_CLASSES_ROOT with '/' separators ("CLSID/{...}/InprocServer32");
// a named value is stored as "<key>/<name>", the unnamed default value of a
// key as "<key>/Default".
#include <memory>
#include <string>

class QSettings;

namespace vkplatform {

// One session with the registry; changes are written when it is destroyed
// (or at Flush). Sessions in several processes may meet: the file is locked
// while it is written.
class ComRegistry {
 public:
  ComRegistry();
  ~ComRegistry();
  ComRegistry(const ComRegistry&) = delete;
  ComRegistry& operator=(const ComRegistry&) = delete;

  // `name` empty: the key's default value.
  void SetValue(const std::string& key, const std::string& name, const std::string& value);
  // Empty when the value is missing.
  std::string Value(const std::string& key, const std::string& name = std::string()) const;
  bool HasKey(const std::string& key) const;
  // Removes the key with all its values and subkeys.
  void RemoveKey(const std::string& key);
  // Writes the changes; false when the file cannot be written.
  bool Flush();

  static std::string FilePath();

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace vkplatform
