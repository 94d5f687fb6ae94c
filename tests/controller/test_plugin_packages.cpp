// Plug-in packages in a folder: scan, class look-up, instance life and the
// files that are no usable package.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Diagnostics.h"
#include "PluginManager.h"
#include "platform/Report.h"

namespace fs = std::filesystem;

namespace {

const std::string kPlugins = VK_TEST_PLUGINS_DIR;

bool Mapped(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

// A scratch folder holding copies of chosen packages.
struct ScratchPlugins {
  explicit ScratchPlugins(const std::vector<std::string>& packages) {
    dir = fs::temp_directory_path() / ("vk-plugins-" + std::to_string(::getpid()) + "-" +
                                       std::to_string(counter++));
    fs::create_directories(dir);
    for (const auto& p : packages) fs::copy_file(kPlugins + "/" + p, dir / p);
  }
  ~ScratchPlugins() { fs::remove_all(dir); }
  fs::path dir;
  static inline int counter = 0;
};

}  // namespace

TEST(PluginPackages, ScanKeepsPackagesAndSkipsEverythingElseWithReasons) {
  vkplatform::ReportCapture cap;
  std::vector<std::string> log;
  LogHook previous = SetLogHook([&](const AnsiString& m, bool) { log.push_back(m); });
  CPluginsManager pm(kPlugins.c_str());
  SetLogHook(previous);

  std::vector<std::string> classes;
  for (unsigned i = 0; i < pm.GetPluginCount(); ++i) classes.push_back(pm.GetPlugin(i)->GetPluginClass());
  // Sorted file order: TestBadRegister, TestPass, TestProbe, TestSink, TestSource,
  // TestSourceCopy.
  EXPECT_EQ(classes, (std::vector<std::string>{"TTestBadRegister", "TTestPass", "TTestProbe",
                                               "TTestSink", "TTestSource", "TTestSource"}));
  // Every kept package is unloaded after the scan.
  for (unsigned i = 0; i < pm.GetPluginCount(); ++i) EXPECT_FALSE(pm.GetPlugin(i)->IsLoaded());

  // The three bad files: each logged as failed with the loader's reason, and
  // the missing GetClass reported as a contract violation.
  ASSERT_EQ(pm.ScanErrors().size(), 3u);
  EXPECT_NE(pm.ScanErrors()[0].find("NotAPackage.so: "), std::string::npos);
  EXPECT_NE(pm.ScanErrors()[1].find("libVkTestStub.so"), std::string::npos);
  EXPECT_NE(pm.ScanErrors()[2].find("TestNoGetClass.so: no GetClass export"), std::string::npos);
  EXPECT_EQ(cap.CountExpression("MyGetClass!=NULL"), 1u);
  int failed = 0, done = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] == "\t\tFailed") ++failed;
    if (log[i] == "\t\tDone") ++done;
  }
  EXPECT_EQ(failed, 3);
  EXPECT_EQ(done, 6);
  EXPECT_EQ(log.front(), "Loading package " + kPlugins + "/NotAPackage.so...");
}

TEST(PluginPackages, InstancesLoadAndUnloadTheirPackage) {
  vkplatform::ReportCapture cap;
  ScratchPlugins scratch({"TestSource.so", "TestSourceCopy.so", "TestPass.so", "TestSink.so",
                          "TestBadRegister.so"});
  CPluginsManager pm(scratch.dir.c_str());
  ASSERT_EQ(pm.GetPluginCount(), 5u);
  CPluginManager* source = pm.GetPlugin(3);
  ASSERT_EQ(source->GetFileName(), (scratch.dir / "TestSource.so").string());
  EXPECT_FALSE(Mapped(source->GetFileName()));

  CBasePlugin* a = nullptr;
  CBasePlugin* b = nullptr;
  EXPECT_EQ(pm.CreatePluginInstance(a, "ttestsource", "a"), VKT_NO_CLASS);  // exact names
  EXPECT_EQ(a, nullptr);
  ASSERT_EQ(pm.CreatePluginInstance(a, "TTestSource", "a"), VKT_OK);
  ASSERT_EQ(pm.CreatePluginInstance(b, "TTestSource", "b"), VKT_OK);
  // The first package found wins; the copy stays unused.
  EXPECT_EQ(source->InstanceCount(), 2u);
  EXPECT_EQ(pm.GetPlugin(4)->InstanceCount(), 0u);
  EXPECT_EQ(a->Name(), "a");
  EXPECT_EQ(a->GetOutLinkPointsCount(), 1);  // registered on creation
  EXPECT_TRUE(source->IsLoaded());
  EXPECT_TRUE(Mapped(source->GetFileName()));

  CPluginManager stranger;
  EXPECT_EQ(stranger.DestroyPluginInstance(a), VKT_NO_PLUGIN);
  EXPECT_EQ(pm.DestroyPluginInstance(a), VKT_OK);
  EXPECT_TRUE(source->IsLoaded());
  EXPECT_EQ(pm.DestroyPluginInstance(a), VKT_NO_PLUGIN);  // already gone
  EXPECT_EQ(pm.DestroyPluginInstance(b), VKT_OK);
  EXPECT_FALSE(source->IsLoaded());
  // A package without Qt is really unmapped; one built on Qt stays mapped.
  EXPECT_FALSE(source->KeptMapped());
  EXPECT_FALSE(Mapped(source->GetFileName()));
  CPluginManager* sink = pm.GetPlugin(2);
  EXPECT_TRUE(sink->KeptMapped());
  EXPECT_TRUE(Mapped(sink->GetFileName()));

  // Reloaded on demand.
  ASSERT_EQ(pm.CreatePluginInstance(a, "TTestSource", "again"), VKT_OK);
  EXPECT_TRUE(source->IsLoaded());
  EXPECT_EQ(source->UnloadPackage(), -1);  // not while instances live

  // A plug-in whose Register fails gives no instance.
  CBasePlugin* bad = nullptr;
  EXPECT_EQ(pm.CreatePluginInstance(bad, "TTestBadRegister", "bad"), VKT_ERROR);
  EXPECT_EQ(bad, nullptr);
  EXPECT_EQ(cap.CountExpression("BP != NULL"), 1u);
  EXPECT_FALSE(pm.GetPlugin(0)->IsLoaded());
  // The manager's destruction destroys what is left.
}

TEST(PluginPackages, EmptyFolderAndForeignArchitecture) {
  vkplatform::ReportCapture cap;
  ScratchPlugins empty({});
  CPluginsManager none(empty.dir.c_str());
  EXPECT_EQ(none.GetPluginCount(), 0u);
  CBasePlugin* p = nullptr;
  EXPECT_EQ(none.CreatePluginInstance(p, "TTestSource", "x"), VKT_NO_CLASS);

  // A package built for another processor: its machine field says ARM.
  ScratchPlugins foreign({"TestPass.so"});
  {
    std::fstream f(foreign.dir / "TestPass.so", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(18);
    const char arm[2] = {0x28, 0x00};
    f.write(arm, 2);
  }
  CPluginsManager pm(foreign.dir.c_str());
  EXPECT_EQ(pm.GetPluginCount(), 0u);
  ASSERT_EQ(pm.ScanErrors().size(), 1u);
  EXPECT_EQ(cap.Count(), 0u);  // a loader failure is logged, not a contract violation
}
