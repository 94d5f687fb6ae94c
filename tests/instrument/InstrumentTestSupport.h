#pragma once
// A scheme of the probe and the instrument link, run headless, with helpers
// that send through the probe's outputs and collect from its inputs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DevCommand.h"
#include "SchemeRunner.h"
#include "TestApp.h"
#include "TestHome.h"

namespace insttest {

inline std::string PluginsDir() {
  namespace fs = std::filesystem;
  static const std::string dir = [] {
    const fs::path d = fs::path(TestHome()) / "plugins";
    fs::create_directories(d);
    fs::copy_file(fs::path(VK_TEST_PLUGINS_DIR) / "TestProbe.so", d / "TestProbe.so",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(VK_PLUGINS_DIR) / "InstrumentLink.so", d / "InstrumentLink.so",
                  fs::copy_options::overwrite_existing);
    return d.string();
  }();
  return dir;
}

// The link's parameters go into its node.
inline std::string WriteScheme(const std::string& linkParameters) {
  std::string text = "<scheme name=\"link\">\n<node name=\"probe\" class=\"TTestProbe\"><output name=\"address\">"
                     "<link node=\"link\" linkpoint=\"address\" queue=\"4\"/></output>"
                     "<output name=\"command\"><link node=\"link\" linkpoint=\"command\" queue=\"64\"/></output>"
                     "<output name=\"index\"><link node=\"link\" linkpoint=\"index\" queue=\"64\"/></output></node>\n"
                     "<node name=\"link\" class=\"TInstrumentLink\"><parameters " +
                     linkParameters + "/>";
  for (const char* out : {"message", "command", "index", "F", "A", "B"})
    text += std::string("<output name=\"") + out + "\"><link node=\"probe\" linkpoint=\"" + out +
            "\" queue=\"256\"/></output>";
  text += "</node>\n</scheme>\n";
  const std::string file = TestHome() + "/link.vms";
  std::ofstream(file) << text;
  return file;
}

// The application exists before the runner builds its host window.
struct TAppFirst {
  TAppFirst() { TestApp(); }
};

class TLinkScheme : TAppFirst {
 public:
  explicit TLinkScheme(const std::string& linkParameters = "simrate=\"200\" simpart=\"256\"")
      : runner(PluginsDir()) {
    ok = runner.Open(WriteScheme(linkParameters)) == 0;
    std::filesystem::remove(runner.Scheme().DefaultProfileFileName());
    if (ok) ok = runner.Start() == 0;
  }
  ~TLinkScheme() { runner.Close(); }

  int Send(const char* output, CBasePacket* packet) {
    COutLinkPoint* out = nullptr;
    runner.Scheme().GetOutput(out, "probe", output);
    const int rc = out->AddPacket(packet);
    if (rc != 0) delete packet;
    return rc;
  }
  int SendAddress(const std::string& address) { return Send("address", new CStringPacket(address.c_str())); }
  CInLinkPoint* Input(const char* name) {
    CInLinkPoint* in = nullptr;
    runner.Scheme().GetInput(in, "probe", name);
    return in;
  }
  // The next packet at `input` within `timeoutMs`, or null.
  template <class T>
  std::unique_ptr<T> Next(const char* input, int timeoutMs = 5000) {
    CInLinkPoint* in = Input(input);
    std::unique_ptr<CBasePacket> p;
    runner.RunUntil([&] {
      p.reset(in->GetPacketCopyAndRelease());
      return p != nullptr;
    }, timeoutMs);
    return std::unique_ptr<T>(dynamic_cast<T*>(p.release()));
  }
  // The next message text, or "" when none came.
  std::string NextMessage(int timeoutMs = 5000) {
    auto m = Next<CStringPacket>("message", timeoutMs);
    return m ? m->GetString() : "";
  }

  CSchemeRunner runner;
  bool ok = false;
};

}  // namespace insttest
