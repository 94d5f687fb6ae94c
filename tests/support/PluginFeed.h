#pragma once
// A plug-in with a window, on a host window with a "MainPanel", its inputs
// (by number) wired to queues that the test feeds, initialised with the
// parameters given and finalised when the feed goes.
#include <QMainWindow>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "PacketQueue.h"
#include "TestApp.h"
#include "VKXml.h"

struct TAppFirst {
  TAppFirst() { TestApp(); }
};

// Runs the event loop until `done` or the time is up; the last answer.
inline bool RunEventsUntil(const std::function<bool()>& done, int ms = 3000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    QApplication::processEvents();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

template <class Plugin, size_t Inputs>
struct TPluginFeed : TAppFirst {
  TPluginFeed(const std::set<int>& wired, const std::string& parameters, const std::string& name, QSize size) {
    host.resize(size);
    auto* panel = new QWidget(&host);
    panel->setObjectName("MainPanel");
    host.setCentralWidget(panel);
    plugin.SetName(name);
    plugin.Register();
    for (int i : wired) {
      queues[static_cast<size_t>(i)].SetQueueSize(64);
      plugin.GetInLinkPoint(static_cast<unsigned>(i))->AddSubscription(&queues[static_cast<size_t>(i)]);
    }
    doc.OpenFromText(parameters);
    host.show();
    EXPECT_EQ(plugin.DoInitialize(&host, doc.Root()), 0);
  }
  ~TPluginFeed() {
    plugin.DoFinalize();
    for (auto& q : queues) q.Reset();
  }
  void Send(int input, CBasePacket* packet) {
    EXPECT_EQ(queues[static_cast<size_t>(input)].AddPacket(packet), 0);
    queues[static_cast<size_t>(input)].NotifySubscribers();
  }
  bool RunUntil(const std::function<bool()>& done, int ms = 3000) { return RunEventsUntil(done, ms); }
  bool Drained() {
    for (auto& q : queues)
      if (q.QueueLen() > 0) return false;
    return true;
  }

  QMainWindow host;
  Plugin plugin;
  std::array<CPacketQueue, Inputs> queues;
  VKCore::CXMLDocument doc;
};

// The packages `packages` of the build's plug-in folder `from`, laid out as
// an installation in the test's home (the packages find the libraries
// `libraries` one folder up); the folder, made once per test program.
inline std::string InstalledPackages(const std::string& from, std::initializer_list<const char*> packages,
                                     std::initializer_list<const char*> libraries, const std::string& home) {
  namespace fs = std::filesystem;
  const fs::path d = fs::path(home) / "bin" / "Plugins";
  fs::create_directories(d);
  for (const char* lib : libraries)
    if (!fs::exists(d.parent_path() / lib)) fs::create_symlink(fs::path(from).parent_path() / lib, d.parent_path() / lib);
  for (const char* p : packages) fs::copy_file(fs::path(from) / p, d / p, fs::copy_options::overwrite_existing);
  return d.string();
}
