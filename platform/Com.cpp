#include "Com.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

#include "ComRegistry.h"

namespace vkplatform {
namespace {

// Component libraries stay loaded for the life of the process: objects and
// factories handed out point into them.
void* LoadComponent(const std::string& path) {
  static std::mutex mutex;
  static std::map<std::string, void*> loaded;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = loaded.find(path);
  if (it != loaded.end()) return it->second;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle) loaded.emplace(path, handle);
  return handle;
}

HRESULT CallRegistrationEntry(const std::string& library, const char* entry) {
  void* handle = LoadComponent(library);
  if (!handle) return HRESULT_MOD_NOT_FOUND;
  auto fn = reinterpret_cast<DllRegisterServerFn>(dlsym(handle, entry));
  return fn ? fn() : CO_E_ERRORINDLL;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string GuidToString(const GUID& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool GuidFromString(const std::string& text, GUID& guid) {
  std::string s = text;
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) return false;
  // 32 hex digits with dashes after the 8th, 12th, 16th and 20th.
  unsigned char bytes[16];
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (s[i] != '-') return false;
      continue;
    }
    const int hi = HexDigit(s[i]), lo = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
    if (hi < 0 || lo < 0) return false;
    bytes[n++] = static_cast<unsigned char>(hi * 16 + lo);
    ++i;
  }
  if (n != 16) return false;
  guid.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
               (std::uint32_t{bytes[2]} << 8) | bytes[3];
  guid.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  guid.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
  return true;
}

HRESULT ComRegisterServer(const std::string& library) {
  return CallRegistrationEntry(library, "DllRegisterServer");
}

HRESULT ComUnregisterServer(const std::string& library) {
  return CallRegistrationEntry(library, "DllUnregisterServer");
}

}  // namespace vkplatform

HRESULT CoGetClassObject(const CLSID& clsid, std::uint32_t context, const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  const std::string path = vkplatform::ComRegistry().Value(
      "CLSID/" + vkplatform::GuidToString(clsid) + "/InprocServer32");
  if (path.empty()) return REGDB_E_CLASSNOTREG;
  void* handle = vkplatform::LoadComponent(path);
  if (!handle) return HRESULT_MOD_NOT_FOUND;
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
  if (!getClassObject) return CO_E_ERRORINDLL;
  return getClassObject(clsid, iid, out);
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, const IID& iid,
                         void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  IClassFactory* factory = nullptr;
  const HRESULT hr = CoGetClassObject(clsid, context, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  const HRESULT created = factory->CreateInstance(outer, iid, out);
  factory->Release();
  return created;
}
