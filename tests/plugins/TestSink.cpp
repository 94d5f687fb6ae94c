// Counts the CDoublePacket values arriving at "in" through its handler, in
// the worker thread or, with parameter window="true", in the GUI thread. Its
// state (count, sum, last value, thread) is what Serialize writes. With
// latency="true" the values are sending times (see TTestSource's "stamp")
// and Serialize also writes the median and 99th percentile of the delays in
// microseconds.
#include <QObject>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "TestPlugins.h"

class TTestSink : public CBasePlugin {
 public:
  int Register() override {
    RegisterInLinkPoint("in", {MetaClassOf<CDoublePacket>()}, lptDefault);
    return 0;
  }
  int Initialize(QWidget* parent, xmlNode* node) override {
    CInLinkPoint* in = GetInLinkPoint(0u);
    in->OnPacket = [this](CSubscriber*, CBasePacket* packet, bool&) { OnPacket(packet); };
    if (VKCore::GetNodeBoolValue(node, "@window", false)) in->NotifyWindow = parent;
    latency = VKCore::GetNodeBoolValue(node, "@latency", false);
    guiThread = parent ? parent->thread() : nullptr;
    return 0;
  }
  int Finalize() override { return 0; }
  int Serialize(xmlNode* element, const char* section) override {
    VKCore::AddAttribute(element, "received", static_cast<int>(received.load()));
    VKCore::AddAttribute(element, "sum", sum.load());
    VKCore::AddAttribute(element, "last", last.load());
    VKCore::AddAttribute(element, "guiThreadCalls", static_cast<int>(guiThreadCalls.load()));
    if (latency) {
      std::vector<double> d;
      {
        std::lock_guard<std::mutex> lock(delaysMutex);
        d = delays;
      }
      if (!d.empty()) {
        std::sort(d.begin(), d.end());
        VKCore::AddAttribute(element, "p50", d[d.size() / 2]);
        VKCore::AddAttribute(element, "p99", d[d.size() * 99 / 100]);
      }
    }
    return 0;
  }

 private:
  void OnPacket(CBasePacket* packet) {
    auto* d = dynamic_cast<CDoublePacket*>(packet);
    if (!d) return;
    if (guiThread && QThread::currentThread() == guiThread) ++guiThreadCalls;
    if (latency) {
      std::lock_guard<std::mutex> lock(delaysMutex);
      delays.push_back(NowMicroseconds() - d->GetValue());
    }
    sum = sum + d->GetValue();
    last = d->GetValue();
    ++received;
  }
  std::atomic<int> received{0};
  std::atomic<int> guiThreadCalls{0};
  std::atomic<double> sum{0};
  std::atomic<double> last{0};
  QThread* guiThread = nullptr;
  bool latency = false;
  std::mutex delaysMutex;
  std::vector<double> delays;
};

VK_DECLARE_PLUGIN_PACKAGE(TTestSink)
