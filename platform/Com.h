#pragma once
// The in-process component layer: binary-compatible GUIDs, HRESULTs, the
// IUnknown / IClassFactory / ISupportErrorInfo interfaces with the Windows
// slot order and identifiers, and CoCreateInstance, which finds a class
// through the per-user component registry (ComRegistry.h), loads the
// component library and asks its class factory.
//
// A component library exports, unmangled:
//   HRESULT DllGetClassObject(const GUID& clsid, const GUID& iid, void** out);
//   HRESULT DllCanUnloadNow();
//   HRESULT DllRegisterServer();
//   HRESULT DllUnregisterServer();
#include <cstdint>
#include <string>

// 16 bytes, laid out as on Windows.
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

using IID = GUID;
using CLSID = GUID;
using HRESULT = std::int32_t;
// A string argument: zero-terminated UTF-16; a null pointer is the empty text.
using BSTR = const char16_t*;

constexpr HRESULT MakeHResult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT SELFREG_E_CLASS = MakeHResult(0x80040201);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9);
// The registered library file cannot be loaded (missing, unreadable, broken).
inline constexpr HRESULT HRESULT_MOD_NOT_FOUND = MakeHResult(0x8007007E);

// Class contexts; only in-process servers exist here.
inline constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xF1, 0xE9}};

// The interfaces have no virtual destructor: their slots are exactly the
// listed methods, in order. Objects are destroyed by their last Release.
class IUnknown {
 public:
  virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) = 0;
  virtual HRESULT LockServer(std::int32_t lock) = 0;

 protected:
  ~IClassFactory() = default;
};

class ISupportErrorInfo : public IUnknown {
 public:
  virtual HRESULT InterfaceSupportsErrorInfo(const IID& iid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

using DllGetClassObjectFn = HRESULT (*)(const CLSID& clsid, const IID& iid, void** out);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

// Marks the exports of a component library (which hides everything else).
#define VK_COM_EXPORT extern "C" __attribute__((visibility("default")))

namespace vkplatform {

// "{0EFD62D7-161E-4787-B0AA-20E4BD0A3C61}": upper case, with braces.
std::string GuidToString(const GUID& guid);
// Reads the form above, braces optional, any letter case; false when `text`
// is not a GUID.
bool GuidFromString(const std::string& text, GUID& guid);

// Loads `library` and calls its DllRegisterServer (or DllUnregisterServer).
// HRESULT_MOD_NOT_FOUND when it cannot be loaded, CO_E_ERRORINDLL when the
// entry is missing, else what the entry returns.
HRESULT ComRegisterServer(const std::string& library);
HRESULT ComUnregisterServer(const std::string& library);

}  // namespace vkplatform

// Creates an object of a registered class: looks up
// "CLSID/{clsid}/InprocServer32" in the component registry, loads that
// library (it stays loaded for the life of the process), gets its class
// factory and calls CreateInstance(outer, iid, out).
// REGDB_E_CLASSNOTREG when the class is not registered (or no in-process
// context is asked for), HRESULT_MOD_NOT_FOUND when the registered file
// cannot be loaded, CO_E_ERRORINDLL when it lacks DllGetClassObject;
// otherwise the factory's result.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, const IID& iid,
                         void** out);
// The class factory of a registered class, found as above.
HRESULT CoGetClassObject(const CLSID& clsid, std::uint32_t context, const IID& iid, void** out);
