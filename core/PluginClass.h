#pragma once
// The contract of a plug-in package: a shared module Plugins/<Name>.so that
// exports `extern "C" const CPluginClass* GetClass()`, the class reference of
// the one plug-in class it offers.
#include <new>
#include <string>
#include <typeinfo>

#include "Object.h"
#include "Plugin.h"

// A class reference: names the plug-in class and creates default instances.
class CPluginClass {
 public:
  // The class name a scheme file uses in its "class" attribute.
  virtual const char* ClassName() const = 0;
  // A new default instance (no set-up beyond default member initialisation;
  // set-up belongs in Register()); null when creation fails.
  virtual CBasePlugin* CreateInstance() const = 0;

 protected:
  ~CPluginClass() = default;
};

template <class T>
class CPluginClassTemplate final : public CPluginClass {
 public:
  const char* ClassName() const override { return name_.c_str(); }
  CBasePlugin* CreateInstance() const override {
    try {
      return new T();
    } catch (...) {
      return nullptr;
    }
  }

 private:
  // A member, not a static of this inline function: statics of inline
  // functions are unique symbols, and a module holding one is never unloaded.
  const std::string name_ = vkcore::BareTypeName(typeid(T));
};

using TGetClassFunction = const CPluginClass* (*)();

// Exports the package entry for plug-in class T; one per package.
#define VK_DECLARE_PLUGIN_PACKAGE(T)                                          \
  extern "C" __attribute__((visibility("default"))) const CPluginClass* GetClass() { \
    static const CPluginClassTemplate<T> pluginClass;                         \
    return &pluginClass;                                                      \
  }
