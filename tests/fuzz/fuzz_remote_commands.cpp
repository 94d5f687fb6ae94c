// The remote command language: lines as a client sends them, split into
// header and arguments and run against a scheme of the test packages (the
// host stands where the launcher's window does). The run keeps to a folder
// of its own: it works there and is the home of the run's configuration
// and default profiles, commands that write a file of the client's naming
// are skipped, and a waiting command is answered at once. Stopping the
// scheme's worker is slow: an input gets one command that does.
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

#include "FuzzSupport.h"
#include "PluginManager.h"
#include "SchemeManager.h"
#include "remote/RemoteCommands.h"

namespace {

constexpr const char* kSchemeFile = "fz.vms";
constexpr size_t kMaxLines = 64;

// A scheme manager with the test packages, and a run control that takes
// turns: Start while stopped, Stop while running.
class CFuzzHost : public vkremote::IRemoteHost {
 public:
  CSchemeManager* Scheme() const override { return scheme_.get(); }
  int OpenScheme(const std::string& fileName) override {
    CloseScheme();
    scheme_ = std::make_unique<CSchemeManager>(&plugins_);
    AnsiString name;
    if (scheme_->Open(fileName, name) != 0) {
      scheme_.reset();
      return -1;
    }
    scheme_->Start(nullptr);
    return 0;
  }
  void CloseScheme() override {
    scheme_.reset();
    measuring_ = false;
  }
  int StartScheme() override { return scheme_ ? scheme_->Start(nullptr) : -1; }
  std::string Title() const override { return scheme_ ? scheme_->FileName() + " - Vektra" : "Vektra"; }
  // The test scheme open (as a client finds the launcher), running or as
  // the input before left it: stopping the worker takes milliseconds, so
  // a stopped scheme stays stopped until a command starts it.
  void Reset() {
    measuring_ = false;
    if (!scheme_ || scheme_->FileName() != kSchemeFile) OpenScheme(kSchemeFile);
  }
  TControl RunControl(bool start) const override { return start == measuring_ ? TControl::disabled : TControl::enabled; }
  void TriggerRun(bool start) override { measuring_ = start; }

 private:
  CPluginsManager plugins_{VK_TEST_PLUGINS_DIR};
  std::unique_ptr<CSchemeManager> scheme_;
  bool measuring_ = false;
};

struct TSandbox {
  std::filesystem::path root, home, work;
};

// A fresh folder under the system's temporary one, made the working folder
// and the home (configuration, caches, default profiles); removed at exit,
// after the host has closed its scheme.
const TSandbox& Sandbox() {
  static const TSandbox& box = *[] {
    std::string pattern = (std::filesystem::temp_directory_path() / "vk-fuzz-remote-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    auto* b = new TSandbox{pattern, std::filesystem::path(pattern) / "home", std::filesystem::path(pattern) / "work"};
    std::filesystem::create_directories(b->home);
    std::filesystem::create_directories(b->work);
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
      ::setenv(variable, b->home.c_str(), 1);
    ::setenv("TMPDIR", b->work.c_str(), 1);
    if (::chdir(b->work.c_str()) != 0) std::abort();
    std::ofstream(b->work / kSchemeFile) << "<scheme name=\"fz\"><node name=\"src\" class=\"TTestSource\">"
                                            "<parameters count=\"3\"/>"
                                            "<output name=\"out\"><link node=\"sink\" linkpoint=\"in\" queue=\"4\"/>"
                                            "<link node=\"pass\" linkpoint=\"in\"/></output></node>"
                                            "<node name=\"pass\" class=\"TTestPass\"/><node name=\"sink\" class=\"TTestSink\"/>"
                                            "<node name=\"probe\" class=\"TTestProbe\"/></scheme>";
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(Sandbox().root, ignored);
    });
    return b;
  }();
  return box;
}

// What the commands left behind (a default profile, a file of the working
// folder) goes, so that each input starts alike.
void Tidy(const TSandbox& box) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(box.home, ignored))
    std::filesystem::remove_all(entry.path(), ignored);
  for (const auto& entry : std::filesystem::directory_iterator(box.work, ignored))
    if (entry.path().filename() != kSchemeFile) std::filesystem::remove_all(entry.path(), ignored);
}

// Commands that write to a file the client names.
bool Writes(const std::string& header) { return header == "PROF:SAVE" || header == "REP:HTML" || header == "REP:PDF"; }

// Commands that stop the scheme's worker (milliseconds each): one an input.
bool Stops(const std::string& header) { return header == "SCH:STOP" || header == "SCH:CLOS" || header == "SCH:OPEN"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vkfuzz::SilenceReports();
  const TSandbox& box = Sandbox();
  static CFuzzHost host;
  // Each input is a new client's, against the scheme the inputs before left.
  host.Reset();
  vkremote::CRemoteCommands commands(&host);
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t lines = 0;
  bool stopped = false;
  for (size_t start = 0; start <= text.size() && lines < kMaxLines; ++lines) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string header = vkremote::CanonicalHeader(line);
    if (Writes(header) || (Stops(header) && std::exchange(stopped, true))) continue;
    vkremote::TReply reply = commands.Run(1, line);
    if (reply.ready) {
      reply.ready();
      reply.late();
    }
  }
  commands.Forget(1);
  Tidy(box);
  return 0;
}
