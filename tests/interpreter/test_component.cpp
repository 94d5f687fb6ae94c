// The interpreter component: identifiers and binary layout, registration and
// creation through the component registry, the interface's results for UTF-16
// text, reference counting, aggregation and unloading.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <bit>
#include <cstring>
#include <filesystem>

#include "TestHome.h"
#include "interpreter/InterpreterClient.h"
#include "platform/ComRegistry.h"

namespace {

using vkplatform::ComRegistry;
using vkplatform::GuidToString;

const std::string kLibrary = VK_INTERPRETER_LIBRARY;
const std::string kClassKey = "CLSID/" + GuidToString(CLSID_Interpreter);

bool IsAllBitsNaN(double v) { return std::bit_cast<std::uint64_t>(v) == ~std::uint64_t{0}; }

template <class Fn>
Fn Export(const char* name) {
  static void* library = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
  return reinterpret_cast<Fn>(dlsym(library, name));
}

HRESULT CanUnloadNow() { return Export<DllCanUnloadNowFn>("DllCanUnloadNow")(); }

template <class T>
HRESULT CreateObject(T** out, const IID& iid = IID_IInterpreter, IUnknown* outer = nullptr) {
  return CoCreateInstance(CLSID_Interpreter, outer, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(out));
}

class Component : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(vkplatform::ComRegisterServer(kLibrary), S_OK); }
  static IInterpreter* Create() {
    IInterpreter* p = nullptr;
    EXPECT_EQ(CreateObject(&p), S_OK);
    return p;
  }
};

TEST(ComponentLayer, IdentifiersHaveTheirWindowsValuesAndLayout) {
  EXPECT_EQ(GuidToString(CLSID_Interpreter), "{0EFD62D7-161E-4787-B0AA-20E4BD0A3C61}");
  EXPECT_EQ(GuidToString(IID_IInterpreter), "{AB55DB7C-66FC-4558-9000-A7BD0CAABB55}");
  EXPECT_EQ(GuidToString(LIBID_KorvanInterpreterLib), "{12A73BA1-646A-41A2-BC58-C78F1B504B51}");
  EXPECT_EQ(GuidToString(APPID_KorvanInterpreter), "{82F3E172-573F-49CB-A1F4-71CEE93AA68F}");
  EXPECT_EQ(GuidToString(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidToString(IID_IClassFactory), "{00000001-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidToString(IID_ISupportErrorInfo), "{DF0B3D60-548F-101B-8E65-08002B2BF1E9}");
  const unsigned char bytes[16] = {0xD7, 0x62, 0xFD, 0x0E, 0x1E, 0x16, 0x87, 0x47,
                                   0xB0, 0xAA, 0x20, 0xE4, 0xBD, 0x0A, 0x3C, 0x61};
  EXPECT_EQ(std::memcmp(&CLSID_Interpreter, bytes, 16), 0);

  GUID g{};
  ASSERT_TRUE(vkplatform::GuidFromString("ab55db7c-66fc-4558-9000-a7bd0caabb55", g));
  EXPECT_TRUE(g == IID_IInterpreter);
  for (const char* bad : {"", "{AB55DB7C-66FC-4558-9000-A7BD0CAABB5}", "{AB55DB7C-66FC-4558-9000-A7BD0CAABB5X}",
                          "AB55DB7C+66FC-4558-9000-A7BD0CAABB55", "{AB55DB7C-66FC-4558-9000-A7BD0CAABB55"})
    EXPECT_FALSE(vkplatform::GuidFromString(bad, g)) << bad;
}

TEST_F(Component, RegistersCreatesAndUnregisters) {
  const std::string clsid = GuidToString(CLSID_Interpreter), appId = GuidToString(APPID_KorvanInterpreter);
  const std::string vi = kInterpreterVersionIndependentProgID, progId = kInterpreterProgID;
  const struct {
    std::string key, name, value;
  } written[] = {
      {kClassKey, "", "Interpreter Class"},
      {kClassKey, "AppID", appId},
      {kClassKey + "/ProgID", "", progId},
      {kClassKey + "/VersionIndependentProgID", "", vi},
      {kClassKey + "/InprocServer32", "", std::filesystem::canonical(kLibrary).string()},
      {kClassKey + "/InprocServer32", "ThreadingModel", "Both"},
      {kClassKey + "/TypeLib", "", GuidToString(LIBID_KorvanInterpreterLib)},
      {progId, "", "Interpreter Class"},
      {progId + "/CLSID", "", clsid},
      {vi, "", "Interpreter Class"},
      {vi + "/CLSID", "", clsid},
      {vi + "/CurVer", "", progId},
      {"AppID/" + appId, "", "KorvanInterpreter"},
      {"AppID/KorvanInterpreter.so", "AppID", appId},
  };
  {
    ComRegistry registry;
    EXPECT_EQ(ComRegistry::FilePath().rfind(TestHome(), 0), 0u);  // the private home's registry
    for (const auto& w : written) EXPECT_EQ(registry.Value(w.key, w.name), w.value) << w.key << " " << w.name;
    // Registering again replaces the class key whole; other classes stay.
    registry.SetValue(kClassKey, "Stray", "x");
    registry.SetValue("CLSID/{11111111-2222-3333-4444-555555555555}/InprocServer32", "", "/other.so");
  }
  ASSERT_EQ(vkplatform::ComRegisterServer(kLibrary), S_OK);
  EXPECT_EQ(ComRegistry().Value(kClassKey, "Stray"), "");

  IInterpreter* p = Create();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Release(), 0u);

  ASSERT_EQ(vkplatform::ComUnregisterServer(kLibrary), S_OK);
  ComRegistry registry;
  for (const auto& w : written) EXPECT_FALSE(registry.HasKey(w.key)) << w.key;
  EXPECT_EQ(registry.Value("CLSID/{11111111-2222-3333-4444-555555555555}/InprocServer32"), "/other.so");
  p = reinterpret_cast<IInterpreter*>(1);
  EXPECT_EQ(CreateObject(&p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
}

TEST_F(Component, CallersWarnWhenTheClassCannotBeCreated) {
  vkplatform::ReportCapture capture;
  ASSERT_EQ(vkplatform::ComUnregisterServer(kLibrary), S_OK);
  EXPECT_EQ(CreateInterpreter(), nullptr);
  ASSERT_EQ(capture.Count(), 1u);
  const vkplatform::Report report = capture.Reports()[0];
  EXPECT_EQ(report.text,
            "Класс \"KorvanInterpreter.Interpreter\" не зарегестрирован. \n Необходимо переустановить "
            "программное обеспечение.");
  EXPECT_EQ(report.caption, "Ошибка");
  EXPECT_EQ(report.icon, vkplatform::MsgIcon::Warning);

  // Registered, but the library file is gone.
  ComRegistry().SetValue(kClassKey + "/InprocServer32", "", TestHome() + "/gone/KorvanInterpreter.so");
  IInterpreter* p = nullptr;
  EXPECT_EQ(CreateObject(&p), HRESULT_MOD_NOT_FOUND);
  EXPECT_EQ(CreateInterpreter(), nullptr);
  EXPECT_EQ(capture.Count(), 2u);
  EXPECT_EQ(vkplatform::ComRegisterServer(TestHome() + "/gone.so"), HRESULT_MOD_NOT_FOUND);
}

TEST_F(Component, InterfaceResultsForUtf16Text) {
  IInterpreter* p = Create();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->DeclareVariable(u"а.арг"), S_OK);
  EXPECT_EQ(p->DeclareVariable(u"б.арг"), S_OK);
  EXPECT_EQ(p->SetExpression(u"(а.арг-б.арг)^2^0.5"), S_OK);
  EXPECT_EQ(p->SetVariableValue(u"а.арг", 1.5), S_OK);
  EXPECT_EQ(p->SetVariableValue(u"б.арг", -2.5), S_OK);
  double r = 0;
  EXPECT_EQ(p->Calculate(&r), S_OK);
  EXPECT_EQ(r, 4);

  const struct {
    BSTR text;
    HRESULT hr;
  } failures[] = {
      {nullptr, MakeHResult(0xFFFFFFFE)},
      {u"", -2},
      {u"а.арг+", -2},
      {u"☃", -2},                     // not in code page 1251
      {u"(а.арг-б.арг)☃", -5},        // converted by the slow path, Cyrillic intact
      {u"а.арг б.арг", MakeHResult(0xFFFFFFFB)},
      {u"(а.арг", MakeHResult(0xFFFFFFFA)},
      {u"А.арг", MakeHResult(0xFFFFFFF9)},  // names differ by case
  };
  for (const auto& f : failures) {
    EXPECT_EQ(p->SetExpression(f.text), f.hr);
    r = 0;
    EXPECT_EQ(p->Calculate(&r), S_OK);
    EXPECT_TRUE(IsAllBitsNaN(r));
  }

  EXPECT_EQ(p->SetVariableValue(u"нет", 1), -1);
  EXPECT_EQ(p->SetExpression(u"нет"), -7);  // and nothing was declared
  EXPECT_EQ(p->DeclareVariable(u"а.арг"), S_OK);  // again: the value stays
  EXPECT_EQ(p->SetExpression(u"а.арг"), S_OK);
  EXPECT_EQ(p->Calculate(&r), S_OK);
  EXPECT_EQ(r, 1.5);
  EXPECT_EQ(p->Calculate(nullptr), E_POINTER);
  p->Release();
}

TEST_F(Component, CountsReferencesAndLocks) {
  EXPECT_EQ(CanUnloadNow(), S_OK);
  IInterpreter* p = Create();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(p->AddRef(), 2u);

  ISupportErrorInfo* info = nullptr;
  ASSERT_EQ(p->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_IInterpreter), S_OK);
  EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
  IUnknown *u1 = nullptr, *u2 = nullptr;
  p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u1));
  info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u2));
  EXPECT_EQ(u1, u2);  // one identity
  void* none = p;
  EXPECT_EQ(p->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(u1->Release(), 4u);
  EXPECT_EQ(u2->Release(), 3u);
  EXPECT_EQ(info->Release(), 2u);
  EXPECT_EQ(p->Release(), 1u);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(p->Release(), 0u);
  EXPECT_EQ(CanUnloadNow(), S_OK);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_Interpreter, CLSCTX_INPROC_SERVER, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(CanUnloadNow(), S_OK);  // the refused object is gone
  factory->Release();
  const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(Export<DllGetClassObjectFn>("DllGetClassObject")(other, IID_IClassFactory, &none),
            CLASS_E_CLASSNOTAVAILABLE);
}

// An outer object that aggregates an interpreter.
class COuter final : public IUnknown {
 public:
  HRESULT QueryInterface(const IID& iid, void** out) override {
    if (iid == IID_IUnknown) {
      *out = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(iid, out);
  }
  std::uint32_t AddRef() override { return ++references; }
  std::uint32_t Release() override { return --references; }
  std::uint32_t references = 1;
  IUnknown* inner = nullptr;
};

TEST_F(Component, CanBeAggregated) {
  COuter outer;
  IInterpreter* refused = reinterpret_cast<IInterpreter*>(1);
  EXPECT_EQ(CreateObject(&refused, IID_IInterpreter, &outer), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(refused, nullptr);
  ASSERT_EQ(CreateObject(&outer.inner, IID_IUnknown, &outer), S_OK);
  EXPECT_EQ(outer.references, 1u);  // the inner object holds no reference on the outer one

  IInterpreter* p = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IInterpreter, reinterpret_cast<void**>(&p)), S_OK);
  EXPECT_EQ(outer.references, 2u);  // counted by the outer object
  IUnknown* controlling = nullptr;
  p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&controlling));
  EXPECT_EQ(controlling, &outer);
  controlling->Release();
  EXPECT_EQ(p->SetExpression(u"2^10"), S_OK);
  double r = 0;
  EXPECT_EQ(p->Calculate(&r), S_OK);
  EXPECT_EQ(r, 1024);
  p->Release();
  EXPECT_EQ(outer.references, 1u);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// Callers reach the methods by slot number: 0-2 IUnknown, then SetExpression,
// DeclareVariable, SetVariableValue, Calculate.
TEST_F(Component, MethodsSitInTheirSlots) {
  IInterpreter* p = Create();
  ASSERT_NE(p, nullptr);
  void** slots = *reinterpret_cast<void***>(p);
  const auto addRef = reinterpret_cast<std::uint32_t (*)(void*)>(slots[1]);
  const auto release = reinterpret_cast<std::uint32_t (*)(void*)>(slots[2]);
  const auto setExpression = reinterpret_cast<HRESULT (*)(void*, BSTR)>(slots[3]);
  const auto declareVariable = reinterpret_cast<HRESULT (*)(void*, BSTR)>(slots[4]);
  const auto setVariableValue = reinterpret_cast<HRESULT (*)(void*, BSTR, double)>(slots[5]);
  const auto calculate = reinterpret_cast<HRESULT (*)(void*, double*)>(slots[6]);
  EXPECT_EQ(addRef(p), 2u);
  EXPECT_EQ(declareVariable(p, u"v"), S_OK);
  EXPECT_EQ(setExpression(p, u"v*3"), S_OK);
  EXPECT_EQ(setVariableValue(p, u"v", 5), S_OK);
  double r = 0;
  EXPECT_EQ(calculate(p, &r), S_OK);
  EXPECT_EQ(r, 15);
  EXPECT_EQ(release(p), 1u);
  EXPECT_EQ(release(p), 0u);
}

}  // namespace
