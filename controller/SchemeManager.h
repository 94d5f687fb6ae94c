#pragma once
// One open measurement scheme: its modules, the queues that wire them, its
// worker thread, and its profiles.
#include <QObject>
#include <QPointer>

#include <memory>
#include <unordered_map>
#include <vector>

#include "PacketQueue.h"
#include "Plugin.h"
#include "PluginManager.h"
#include "ThreadObject.h"
#include "VKXml.h"

class QWidget;
class CSchemeManager;

namespace vkscheme {
// The event that carries a subscriber into the GUI thread.
constexpr int kDeliveryEvent = 1148;
// Runs the notifications of windowed inputs in the GUI thread: an event
// filter on the window control given to Start.
class TDeliveryFilter : public QObject {
 public:
  explicit TDeliveryFilter(CSchemeManager* scheme) : scheme_(scheme) {}
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  CSchemeManager* scheme_;
};
}  // namespace vkscheme

class CSchemeManager : public CThreadObject {
 public:
  explicit CSchemeManager(CPluginsManager* pluginsManager);
  ~CSchemeManager() override;

  void ThreadCycle() override;
  // Joins output `outLinkPoint` of `outNode` to input `inLinkPoint` of
  // `inNode` through the output's queue. 0 or a negative result code.
  virtual int AddWire(const AnsiString& outNode, const AnsiString& outLinkPoint,
                      const AnsiString& inNode, const AnsiString& inLinkPoint, int queueSize);
  // 0; -1 while Busy (nothing is closed).
  virtual int Close();

  // Reads the scheme file, creates its modules and wires them. 0 or a
  // negative result code (a message box says what went wrong).
  int Open(const AnsiString& fileName, AnsiString& schemeName);
  int CreatePluginInstance(CBasePlugin*& plugin, const AnsiString& className, const AnsiString& name);
  // 0, -6 when no module has that name, -1 while the scheme runs.
  int DeletePluginInstance(const AnsiString& name);
  int GetPlugin(CBasePlugin*& plugin, const AnsiString& name) const;
  int GetPlugin(CBasePlugin*& plugin, unsigned index) const;
  unsigned GetPluginCount() const { return static_cast<unsigned>(modules.size()); }
  int GetOutput(COutLinkPoint*& output, const AnsiString& node, const AnsiString& linkPoint) const;
  int GetInput(CInLinkPoint*& input, const AnsiString& node, const AnsiString& linkPoint) const;
  AnsiString FileName() const { return fileName; }
  unsigned GetQueueCount() const { return static_cast<unsigned>(queues.size()); }
  CPacketQueue* GetQueue(unsigned index) const { return index < queues.size() ? queues[index] : nullptr; }

  // Run control. Start gives every module `windowControl` as its parent;
  // windowed inputs are served in that widget's (the GUI) thread.
  int Start(QWidget* windowControl);
  // 0; -1 while a windowed input's handler is running (Busy): the scheme is
  // left as it is, since stopping would finalise the handler's module.
  int Stop();
  bool Started() const { return started; }
  // True while the handler of a windowed input runs in the GUI thread. Such
  // a handler may run a nested event loop (a menu, a progress dialog), in
  // which the operator can ask to stop or close the scheme: the caller then
  // waits until Busy is false (Stop and Close refuse meanwhile).
  bool Busy() const { return deliveryDepth > 0; }

  // Profiles.
  AnsiString DefaultProfileFileName() const;
  // 0, or -1 when the file cannot be written (reported; an existing file is
  // then left as it was).
  int SaveProfile(const char* fileName, const char* unused = nullptr);
  // 0, or -1 when the profile belongs to another scheme or cannot be read.
  int OpenProfile(const char* fileName, const char* unused = nullptr);
  int RestoreProfile();

  // The layout key of the scheme's tool windows ("ToolsState/<scheme>").
  AnsiString ToolsStateKey() const;

 private:
  friend class vkscheme::TDeliveryFilter;
  void Deliver(CSubscriber* subscriber);
  // One delivery pass over every queue (see ThreadCycle).
  void DeliverAll(QWidget* target);
  void ProcessAll();
  void CollectLiveSubscribers();
  // Hands `parameters` to the module `nodeName` (reporting an empty name or
  // a module the scheme does not have); nothing happens without parameters.
  void ApplyParameters(const AnsiString& nodeName, xmlNode* parameters);
  void SaveToolsState();
  void RestoreToolsState();

  CPluginsManager* pPluginsManager;
  std::vector<CBasePlugin*> modules;
  std::vector<CPacketQueue*> queues;
  // Lookups while a scheme is wired, so that wiring is linear in its wires:
  // a module by its (unique) name, the scheme's queue behind an output.
  std::unordered_map<AnsiString, CBasePlugin*> moduleByName;
  std::unordered_map<const CDispatcher*, CPacketQueue*> queueOf;
  AnsiString fileName;
  QPointer<QWidget> windowControl;
  std::unique_ptr<vkscheme::TDeliveryFilter> deliveryFilter;
  VKCore::CXMLDocument schemeDoc{false};
  bool started = false;
  // The subscribers of this run, by the pointer a delivery event carries:
  // only they are served, and finding one does not cost a scan of the
  // scheme. Built by Start, emptied by Stop (GUI thread only).
  std::unordered_map<CSubscriber*, CQueueSubscriber*> liveSubscribers;
  // Windowed handlers running now (nested event loops make it more than 1).
  int deliveryDepth = 0;
  // Woken by every packet that arrives in one of the scheme's queues.
  CWakeEvent wake;
};
