// Counts the CDoublePacket values arriving at "in" through its handler, in
// the worker thread or, with parameter window="true", in the GUI thread. Its
// state (count, sum, last value, thread) is what Serialize writes.
#include <QObject>
#include <QThread>
#include <QWidget>

#include <atomic>

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
    guiThread = parent ? parent->thread() : nullptr;
    return 0;
  }
  int Finalize() override { return 0; }
  int Serialize(xmlNode* element, const char* section) override {
    VKCore::AddAttribute(element, "received", static_cast<int>(received.load()));
    VKCore::AddAttribute(element, "sum", sum.load());
    VKCore::AddAttribute(element, "last", last.load());
    VKCore::AddAttribute(element, "guiThreadCalls", static_cast<int>(guiThreadCalls.load()));
    return 0;
  }

 private:
  void OnPacket(CBasePacket* packet) {
    auto* d = dynamic_cast<CDoublePacket*>(packet);
    if (!d) return;
    if (guiThread && QThread::currentThread() == guiThread) ++guiThreadCalls;
    sum = sum + d->GetValue();
    last = d->GetValue();
    ++received;
  }
  std::atomic<int> received{0};
  std::atomic<int> guiThreadCalls{0};
  std::atomic<double> sum{0};
  std::atomic<double> last{0};
  QThread* guiThread = nullptr;
};

VK_DECLARE_PLUGIN_PACKAGE(TTestSink)
