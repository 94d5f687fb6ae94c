#pragma once
// Small plug-in classes for the tests of packages, schemes and the launcher.
// Each package source includes this header and exports one class.
#include <atomic>
#include <chrono>
#include <stdexcept>

#include "Plugin.h"
#include "DevCommand.h"
#include "PluginClass.h"
#include "VKXml.h"

inline double NowMicroseconds() {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
}

// Sends CDoublePacket values 1, 2, 3 ... on "out", one per cycle while the
// queue takes them. Parameters: "count" (how many, 0 = no limit), "throw"
// ("process": Process() throws once after the first value; "always": on
// every call; "initialize": Initialize throws), "stamp" (true: each value is instead the sending time in
// microseconds of the steady clock, and every cycle fills the queue),
// "period" (milliseconds between two values; 0 = every cycle), "initial"
// (how many values Initialize sends at once, before the scheme runs).
class TTestSource : public CBasePlugin {
 public:
  int Register() override {
    RegisterOutLinkPoint("out", {MetaClassOf<CDoublePacket>()}, lptDefault);
    return 0;
  }
  int Initialize(QWidget*, xmlNode* node) override {
    count = VKCore::GetNodeIntValue(node, "@count", 0);
    stamp = VKCore::GetNodeBoolValue(node, "@stamp", false);
    period = VKCore::GetNodeDoubleValue(node, "@period", 0) * 1000.0;
    const AnsiString mode = VKCore::GetNodeStringValue(node, "@throw", "");
    throwInProcess = mode == "process";
    throwAlways = mode == "always";
    if (mode == "initialize") throw std::runtime_error("test failure in Initialize");
    for (int i = VKCore::GetNodeIntValue(node, "@initial", 0); i > 0; --i) {
      auto* p = new CDoublePacket(next.load());
      if (GetOutLinkPoint(0u)->AddPacket(p) == 0) ++next;
      else delete p;
    }
    return 0;
  }
  int Finalize() override { return 0; }
  void Process() override {
    if (throwAlways) throw std::runtime_error("always failing");
    if (throwInProcess && next == 2 && !thrown) {
      thrown = true;
      throw std::runtime_error("test failure in Process");
    }
    if (count > 0 && next > count) return;
    if (period > 0) {
      const double now = NowMicroseconds();
      if (now - lastSent < period) return;
      lastSent = now;
    }
    if (stamp) {
      for (;;) {
        auto* p = new CDoublePacket(NowMicroseconds());
        if (GetOutLinkPoint(0u)->AddPacket(p) != 0) {
          delete p;
          return;
        }
        ++next;
      }
    }
    auto* p = new CDoublePacket(next.load());
    if (GetOutLinkPoint(0u)->AddPacket(p) == 0) ++next;
    else delete p;
  }
  int Serialize(xmlNode* element, const char* section) override {
    VKCore::AddAttribute(element, "next", next.load());
    VKCore::AddAttribute(element, "count", count.load());
    return 0;
  }
  int Deserialize(xmlNode* element, const char* section) override {
    next = VKCore::GetNodeIntValue(element, "@next", next.load());
    count = VKCore::GetNodeIntValue(element, "@count", count.load());
    return 0;
  }

 private:
  // Serialize runs in the GUI thread while Process runs in the worker.
  std::atomic<int> next{1};
  std::atomic<int> count{0};
  bool stamp = false;
  double period = 0;  // microseconds
  double lastSent = 0;
  bool throwInProcess = false;
  bool throwAlways = false;
  bool thrown = false;
};

// Passes every packet of "in" on to "out", polling in Process(). Its input
// "text" takes strings (and nothing else here produces them).
class TTestPass : public CBasePlugin {
 public:
  int Register() override {
    RegisterInLinkPoint("in", {MetaClassOf<CDoublePacket>()}, lptDefault);
    RegisterInLinkPoint("text", {MetaClassOf<CStringPacket>()}, lptDefault);
    RegisterOutLinkPoint("out", {MetaClassOf<CDoublePacket>()}, lptDefault);
    return 0;
  }
  int Initialize(QWidget*, xmlNode*) override { return 0; }
  int Finalize() override { return 0; }
  void Process() override {
    if (!pending) pending = GetInLinkPoint(0u)->GetPacketCopyAndRelease();
    if (pending && GetOutLinkPoint(0u)->AddPacket(pending) == 0) pending = nullptr;
  }
  ~TTestPass() override { delete pending; }

 private:
  CBasePacket* pending = nullptr;
};

// A package whose Register() fails.
class TTestBadRegister : public CBasePlugin {
 public:
  int Register() override { throw std::runtime_error("cannot register"); }
  int Initialize(QWidget*, xmlNode*) override { return 0; }
  int Finalize() override { return 0; }
};
