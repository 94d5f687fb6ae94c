#pragma once
// Shared by the scheme tests: an offscreen application, a folder holding
// only the usable test packages, and scheme files written on the fly.
#include <QApplication>

#include <filesystem>
#include <fstream>
#include <string>

#include "SchemeRunner.h"
#include "TestApp.h"
#include "TestHome.h"

namespace schemetest {

inline QApplication* App() { return TestApp(); }

// A folder with copies of the good test packages, made once per program.
inline const std::string& PluginsDir() {
  static const std::string dir = [] {
    namespace fs = std::filesystem;
    const fs::path d = fs::path(TestHome()) / "plugins";
    fs::remove_all(d);
    fs::create_directories(d);
    for (const char* p : {"TestSource.so", "TestPass.so", "TestSink.so"})
      fs::copy_file(fs::path(VK_TEST_PLUGINS_DIR) / p, d / p);
    return d.string();
  }();
  return dir;
}

inline std::string SchemeFile(const std::string& name) {
  return std::string(VK_TEST_DATA_DIR) + "/schemes/" + name;
}

// Writes `text` to a scheme file in the scratch folder and returns its path.
inline std::string WriteScheme(const std::string& name, const std::string& text) {
  const std::string path = TestHome() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

}  // namespace schemetest
