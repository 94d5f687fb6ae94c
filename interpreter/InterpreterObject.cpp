// The component: class Interpreter with IInterpreter (and ISupportErrorInfo)
// over one engine, its class factory, the module's life count and the four
// exports. Everything but the exports is hidden in the library.
#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <new>
#include <string>

#include "Interpreter.h"
#include "interpreter/KorvanInterpreter.h"
#include "platform/ComRegistry.h"
#include "platform/TextCodec.h"

namespace {

// Live objects plus LockServer locks: the library may be unloaded at zero.
std::atomic<long> g_moduleLocks{0};

// BSTR -> code page 1251. ASCII and the Cyrillic letters А..я map directly;
// anything else goes through the converter, whose default character is '?'.
std::string ToCp1251(BSTR text) {
  std::string out;
  if (!text) return out;
  for (const char16_t* p = text; *p; ++p) {
    const char16_t c = *p;
    if (c < 0x80) out += static_cast<char>(c);
    else if (c >= 0x0410 && c <= 0x044F) out += static_cast<char>(c - 0x0410 + 0xC0);
    else return vkplatform::Utf16ToCp1251(std::u16string(text), '?');
  }
  return out;
}

class CInterpreterObject final : public IInterpreter, public ISupportErrorInfo {
 public:
  // `outer`: the aggregating object, or null.
  explicit CInterpreterObject(IUnknown* outer) : inner_(this), outer_(outer ? outer : &inner_) {
    ++g_moduleLocks;
  }
  ~CInterpreterObject() { --g_moduleLocks; }

  IUnknown* Inner() { return &inner_; }

  // IUnknown of the interfaces handed out: the controlling unknown's.
  HRESULT QueryInterface(const IID& iid, void** out) override { return outer_->QueryInterface(iid, out); }
  std::uint32_t AddRef() override { return outer_->AddRef(); }
  std::uint32_t Release() override { return outer_->Release(); }

  HRESULT SetExpression(BSTR expression) override {
    try {
      const int code = engine_.Compile(ToCp1251(expression));
      return code == ieOk ? S_OK : -code;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT DeclareVariable(BSTR name) override {
    try {
      engine_.Declare(ToCp1251(name));
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT SetVariableValue(BSTR name, double value) override {
    try {
      return engine_.SetValue(ToCp1251(name), value) ? S_OK : -1;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT Calculate(double* result) override {
    if (!result) return E_POINTER;
    *result = engine_.Evaluate();
    return S_OK;
  }

  HRESULT InterfaceSupportsErrorInfo(const IID& iid) override {
    return iid == IID_IInterpreter ? S_OK : S_FALSE;
  }

 private:
  // The object's own IUnknown: it alone counts references and answers
  // queries; when the object is aggregated only the outer object holds it.
  class CInner final : public IUnknown {
   public:
    explicit CInner(CInterpreterObject* owner) : owner_(owner) {}
    HRESULT QueryInterface(const IID& iid, void** out) override {
      if (!out) return E_POINTER;
      *out = nullptr;
      IUnknown* found = nullptr;
      if (iid == IID_IUnknown) found = this;
      else if (iid == IID_IInterpreter) found = static_cast<IInterpreter*>(owner_);
      else if (iid == IID_ISupportErrorInfo) found = static_cast<ISupportErrorInfo*>(owner_);
      else return E_NOINTERFACE;
      found->AddRef();
      *out = found;
      return S_OK;
    }
    std::uint32_t AddRef() override { return ++owner_->references_; }
    std::uint32_t Release() override {
      const std::uint32_t left = --owner_->references_;
      if (left == 0) delete owner_;
      return left;
    }

   private:
    CInterpreterObject* owner_;
  };

  CInner inner_;
  IUnknown* outer_;
  std::atomic<std::uint32_t> references_{0};
  CInterpreter engine_;
};

class CInterpreterFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(const IID& iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!(iid == IID_IUnknown) && !(iid == IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // The factory is a static object of the library.
  std::uint32_t AddRef() override { return 2; }
  std::uint32_t Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    // An aggregating object must ask for the inner object's own IUnknown.
    if (outer && !(iid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    CInterpreterObject* object = nullptr;
    try {
      object = new CInterpreterObject(outer);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    IUnknown* inner = object->Inner();
    inner->AddRef();
    const HRESULT hr = inner->QueryInterface(iid, out);
    inner->Release();  // destroys the object when the query failed
    return hr;
  }

  HRESULT LockServer(std::int32_t lock) override {
    if (lock) ++g_moduleLocks;
    else --g_moduleLocks;
    return S_OK;
  }
};

CInterpreterFactory g_factory;

// The absolute path of this library.
std::string ModulePath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return std::string();
  std::error_code ec;
  const auto canonical = std::filesystem::canonical(info.dli_fname, ec);
  return ec ? std::filesystem::absolute(info.dli_fname).string() : canonical.string();
}

struct CRegistryKeys {
  std::string clsid = vkplatform::GuidToString(CLSID_Interpreter);
  std::string appId = vkplatform::GuidToString(APPID_KorvanInterpreter);
  std::string libId = vkplatform::GuidToString(LIBID_KorvanInterpreterLib);
  std::string iid = vkplatform::GuidToString(IID_IInterpreter);
  std::string moduleName;  // the library's file name, under AppID

  explicit CRegistryKeys(const std::string& path)
      : moduleName(std::filesystem::path(path).filename().string()) {}

  void Remove(vkplatform::ComRegistry& registry) const {
    registry.RemoveKey("CLSID/" + clsid);
    registry.RemoveKey(kInterpreterProgID);
    registry.RemoveKey(kInterpreterVersionIndependentProgID);
    registry.RemoveKey("AppID/" + appId);
    registry.RemoveKey("AppID/" + moduleName);
    registry.RemoveKey("TypeLib/" + libId);
    registry.RemoveKey("Interface/" + iid);
  }
};

}  // namespace

VK_COM_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!(clsid == CLSID_Interpreter)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

VK_COM_EXPORT HRESULT DllCanUnloadNow() { return g_moduleLocks.load() == 0 ? S_OK : S_FALSE; }

VK_COM_EXPORT HRESULT DllRegisterServer() {
  const std::string path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  const CRegistryKeys keys(path);
  vkplatform::ComRegistry registry;
  keys.Remove(registry);  // the class key is replaced whole

  registry.SetValue("AppID/" + keys.appId, "", "KorvanInterpreter");
  registry.SetValue("AppID/" + keys.moduleName, "AppID", keys.appId);

  const std::string progId = kInterpreterProgID, viProgId = kInterpreterVersionIndependentProgID;
  registry.SetValue(progId, "", "Interpreter Class");
  registry.SetValue(progId + "/CLSID", "", keys.clsid);
  registry.SetValue(viProgId, "", "Interpreter Class");
  registry.SetValue(viProgId + "/CLSID", "", keys.clsid);
  registry.SetValue(viProgId + "/CurVer", "", progId);

  const std::string cls = "CLSID/" + keys.clsid;
  registry.SetValue(cls, "", "Interpreter Class");
  registry.SetValue(cls, "AppID", keys.appId);
  registry.SetValue(cls + "/ProgID", "", progId);
  registry.SetValue(cls + "/VersionIndependentProgID", "", viProgId);
  registry.SetValue(cls + "/InprocServer32", "", path);
  registry.SetValue(cls + "/InprocServer32", "ThreadingModel", "Both");
  registry.SetValue(cls + "/TypeLib", "", keys.libId);

  // The type library and the interface, described for tools that list them;
  // objects are only used in-process, so nothing is marshalled.
  registry.SetValue("TypeLib/" + keys.libId + "/1.0", "", "KorvanInterpreter 1.0 Type Library");
  registry.SetValue("TypeLib/" + keys.libId + "/1.0/0/linux64", "", path);
  registry.SetValue("Interface/" + keys.iid, "", "IInterpreter Interface");
  registry.SetValue("Interface/" + keys.iid + "/TypeLib", "", keys.libId);
  registry.SetValue("Interface/" + keys.iid + "/TypeLib", "Version", "1.0");
  return registry.Flush() ? S_OK : SELFREG_E_CLASS;
}

VK_COM_EXPORT HRESULT DllUnregisterServer() {
  const std::string path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  const CRegistryKeys keys(path);
  vkplatform::ComRegistry registry;
  keys.Remove(registry);
  return registry.Flush() ? S_OK : SELFREG_E_CLASS;
}
