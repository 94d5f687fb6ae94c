// Counts the CDoublePacket values arriving at "in" through its handler, in
// the worker thread or, with parameter window="true", in the GUI thread. Its
// state (count, sum, last value, thread) is what Serialize writes. With
// latency="true" the values are sending times (see TTestSource's "stamp")
// and Serialize also writes the median and 99th percentile of the delays in
// microseconds. With dock="<name>" it shows a tool window in that dock of
// the host window. With throw="N" the handler throws for the N-th packet
// (before counting it); with nested="MS" every handler call runs a nested
// event loop for that long, as a handler showing a menu or a progress
// dialog does.
#include <QDockWidget>
#include <QEventLoop>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "GuiPlugin.h"
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
    throwAt = VKCore::GetNodeIntValue(node, "@throw", 0);
    nestedMs = VKCore::GetNodeIntValue(node, "@nested", 0);
    guiThread = parent ? parent->thread() : nullptr;
    const AnsiString dockName = VKCore::GetNodeStringValue(node, "@dock", "");
    if (parent && !dockName.empty()) CreateToolWindow(parent, dockName);
    return 0;
  }
  int Finalize() override {
    if (tool) {
      UnregisterToolWindow(tool);
      delete tool.data();
    }
    return 0;
  }
  int Serialize(xmlNode* element, const char* section) override {
    VKCore::AddAttribute(element, "received", static_cast<int>(received.load()));
    VKCore::AddAttribute(element, "sum", sum.load());
    VKCore::AddAttribute(element, "last", last.load());
    VKCore::AddAttribute(element, "guiThreadCalls", static_cast<int>(guiThreadCalls.load()));
    VKCore::AddAttribute(element, "nestedRunning", static_cast<int>(nestedRunning.load()));
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
  // A tool window that shows what arrived, in the named dock.
  void CreateToolWindow(QWidget* parent, const AnsiString& dockName) {
    tool = new QDockWidget(QString::fromStdString(Name()), parent);
    tool->setObjectName(QString::fromStdString("TestSinkTool_" + Name()));
    auto* label = new QLabel(tool);
    label->setObjectName("SinkLabel");
    label->setMargin(8);
    label->setMinimumWidth(180);
    tool->setWidget(label);
    PlaceToolWindow(tool, parent, dockName);
    RegisterToolWindow(tool);
    auto* timer = new QTimer(tool);
    QObject::connect(timer, &QTimer::timeout, label, [this, label] {
      label->setText(QString::fromUtf8("Принято пакетов: %1\nПоследнее значение: %2")
                         .arg(received.load())
                         .arg(last.load()));
    });
    timer->start(100);
  }

  void OnPacket(CBasePacket* packet) {
    auto* d = dynamic_cast<CDoublePacket*>(packet);
    if (!d) return;
    if (++calls == throwAt) throw std::runtime_error("sink failure");
    if (nestedMs > 0) {
      ++nestedRunning;
      QEventLoop loop;
      QTimer::singleShot(nestedMs, &loop, &QEventLoop::quit);
      loop.exec();
      --nestedRunning;
    }
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
  std::atomic<int> calls{0};
  std::atomic<int> nestedRunning{0};
  int throwAt = 0;
  int nestedMs = 0;
  std::atomic<int> guiThreadCalls{0};
  std::atomic<double> sum{0};
  std::atomic<double> last{0};
  QThread* guiThread = nullptr;
  QPointer<QDockWidget> tool;
  bool latency = false;
  std::mutex delaysMutex;
  std::vector<double> delays;
};

VK_DECLARE_PLUGIN_PACKAGE(TTestSink)
