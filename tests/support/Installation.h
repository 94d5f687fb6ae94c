#pragma once
// What a first start of the launcher puts in place (the configuration and
// the formula library, the interpreter registered, the demo schemes beside
// the program), with the build's plug-in packages laid out as an
// installation in the test's home, together with the test modules the small
// demo scheme uses. Returns the packages' folder; made once per program.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "PluginFeed.h"
#include "TestHome.h"
#include "VKPaths.h"
#include "platform/Com.h"

inline std::string Installation() {
  namespace fs = std::filesystem;
  static const std::string plugins = [] {
    const fs::path bin = VK_BIN_DIR;
    const fs::path config = GetVKDir(dirConfig);
    fs::create_directories(config);
    for (const char* file : {"config.xml", "RelationPreset.xml"})
      fs::copy_file(bin / "data" / file, config / file, fs::copy_options::overwrite_existing);
    EXPECT_TRUE(SUCCEEDED(vkplatform::ComRegisterServer((bin / "KorvanInterpreter.so").string())));
    // The schemes' "[schemes]" and the report template are beside the program.
    for (const char* folder : {"schemes", "data"}) {
      const fs::path beside = fs::path(GetVKDir(dirApplication)) / folder;
      if (!fs::exists(beside)) fs::create_directory_symlink(bin / folder, beside);
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(VK_PLUGINS_DIR))
      if (entry.path().extension() == ".so") names.push_back(entry.path().filename().string());
    const std::string dir = InstalledPackages(VK_PLUGINS_DIR, {}, {"libKorvanComponents.so", "libKorChartLib.so"},
                                              TestHome());
    for (const auto& n : names)
      fs::copy_file(fs::path(VK_PLUGINS_DIR) / n, fs::path(dir) / n, fs::copy_options::overwrite_existing);
    for (const char* test : {"TestSource.so", "TestSink.so"})
      fs::copy_file(fs::path(VK_TEST_PLUGINS_DIR) / test, fs::path(dir) / test, fs::copy_options::overwrite_existing);
    return dir;
  }();
  return plugins;
}
