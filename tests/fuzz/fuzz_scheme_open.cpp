// Opening a scheme file: parsing, creating the modules by class name (the
// test packages), wiring with queue sizes, and closing again.
#include "FuzzSupport.h"
#include "PluginManager.h"
#include "SchemeManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vkfuzz::SilenceReports();
  static CPluginsManager plugins(VK_TEST_PLUGINS_DIR);
  vkfuzz::TMemoryFile file(data, size);
  CSchemeManager scheme(&plugins);
  AnsiString name;
  scheme.Open(file.Path(), name);
  scheme.Close();
  return 0;
}
