// Applying a profile to an open scheme whose modules are initialised: the
// profile's checks, and every module's Deserialize on what it is given.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "FuzzSupport.h"
#include "PluginManager.h"
#include "SchemeManager.h"

namespace {

CSchemeManager& Scheme() {
  static CPluginsManager plugins(VK_TEST_PLUGINS_DIR);
  static CSchemeManager* scheme = [] {
    // A profile names its scheme by the file's name: "fz".
    const std::string dir = "/tmp/vk-fuzz-profile-" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    const std::string file = dir + "/fz.vms";
    std::ofstream(file) << "<scheme name=\"fz\"><node name=\"src\" class=\"TTestSource\">"
                           "<output name=\"out\"><link node=\"sink\" linkpoint=\"in\" queue=\"4\"/>"
                           "<link node=\"pass\" linkpoint=\"in\"/></output></node>"
                           "<node name=\"pass\" class=\"TTestPass\"/><node name=\"sink\" class=\"TTestSink\"/>"
                           "<node name=\"probe\" class=\"TTestProbe\"/></scheme>";
    auto* s = new CSchemeManager(&plugins);
    AnsiString name;
    s->Open(file, name);
    ::unlink(file.c_str());
    ::rmdir(dir.c_str());
    for (unsigned i = 0; i < s->GetPluginCount(); ++i) {
      CBasePlugin* plugin = nullptr;
      if (s->GetPlugin(plugin, i) == 0) plugin->DoInitialize(nullptr, nullptr);
    }
    return s;
  }();
  return *scheme;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vkfuzz::SilenceReports();
  CSchemeManager& scheme = Scheme();
  vkfuzz::TMemoryFile file(data, size);
  scheme.OpenProfile(file.Path().c_str());
  return 0;
}
