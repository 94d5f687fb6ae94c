#include "SchemeManager.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>
#include <QSettings>
#include <QWidget>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "../platform/LongOperation.h"
#include "../platform/Report.h"
#include "../platform/ThreadAnnotations.h"
#include "Diagnostics.h"
#include "VKPaths.h"

namespace {

// Queue sizes a scheme may ask for; larger ones would let one wire hold an
// unbounded amount of memory.
constexpr int kMaxQueueSize = 65536;

void ErrorBox(const AnsiString& text) {
  vkplatform::MessageBox(text, "Ошибка", vkplatform::MsgIcon::Error);
}

// The event that carries one subscriber to the GUI thread.
class TDeliveryEvent : public QEvent {
 public:
  explicit TDeliveryEvent(CSubscriber* s)
      : QEvent(static_cast<QEvent::Type>(vkscheme::kDeliveryEvent)), subscriber(s) {}
  CSubscriber* subscriber;
};

std::vector<xmlNode*> Select(xmlNode* node, const char* path) {
  std::vector<xmlNode*> nodes;
  VKCore::SelectNodes(node, path, nodes);
  return nodes;
}

AnsiString ClassNameOf(const CBasePlugin* plugin) {
  return vkcore::BareTypeName(typeid(*plugin));
}

bool FileExists(const AnsiString& name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void MakeDirectories(const AnsiString& dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos)
    if (pos == dir.size() || dir[pos] == '/') ::mkdir(dir.substr(0, pos).c_str(), 0777);
}

}  // namespace

namespace vkscheme {

bool TDeliveryFilter::eventFilter(QObject*, QEvent* event) {
  VK_HANDOFF_ACQUIRE(event);
  if (event->type() != kDeliveryEvent) return false;
  auto* delivery = static_cast<TDeliveryEvent*>(event);
  VK_ASSERT_TEXT(delivery->subscriber != nullptr, "Subscriber != NULL");
  if (delivery->subscriber) scheme_->Deliver(delivery->subscriber);
  return true;
}

}  // namespace vkscheme

CSchemeManager::CSchemeManager(CPluginsManager* pluginsManager) : pPluginsManager(pluginsManager) {}

CSchemeManager::~CSchemeManager() {
  // The owner waits while a windowed handler runs (Busy); freeing its module
  // under it cannot be made safe here.
  VK_ASSERT_TEXT(!Busy(), "!Busy()");
  deliveryDepth = 0;
  Close();
}

// ---- opening and wiring -------------------------------------------------------

int CSchemeManager::Open(const AnsiString& name, AnsiString& schemeName) {
  if (Close() != VKT_OK) return VKT_ERROR;  // a windowed handler is running
  fileName = name;
  LogMessage("Открытие схемы \"" + name + "\"", false);
  // A large scheme is read aside; the window goes on answering meanwhile.
  vkplatform::CLongOperation operation("Открытие схемы...");
  int opened = VKT_ERROR;
  operation.RunAside([&] { opened = schemeDoc.Open(name.c_str()); });
  if (opened != 0) {
    ErrorBox("Невозможно открыть XML документ.");
    return VKT_ERROR;
  }
  xmlNode* root = schemeDoc.Root();
  schemeName = VKCore::GetNodeStringValue(root, "/scheme/@name", "");

  LogMessage("Загрузка узлов", false);
  const std::vector<xmlNode*> nodes = Select(root, "/scheme/node");
  for (size_t i = 0; i < nodes.size(); ++i) {
    xmlNode* node = nodes[i];
    operation.Step(static_cast<int>(i), static_cast<int>(nodes.size()));
    const AnsiString nodeName = VKCore::GetNodeStringValue(node, "@name", "");
    const AnsiString nodeClass = VKCore::GetNodeStringValue(node, "@class", "");
    if (nodeName.empty() || nodeClass.empty()) {
      ErrorBox("Не задано имя или класс узла схемы.");
      return VKT_ERROR;
    }
    CBasePlugin* plugin = nullptr;
    int rc = CreatePluginInstance(plugin, nodeClass, nodeName);
    if (rc != VKT_OK) {
      ErrorBox("Ошибка при создании узла " + nodeName + " класса " + nodeClass);
      return rc;
    }
  }

  LogMessage("Загрузка связей", false);
  for (xmlNode* node : nodes) {
    const AnsiString nodeName = VKCore::GetNodeStringValue(node, "@name", "");
    // A wire is written under its output or under its input; `underOutput`
    // says which, and the other end is named by the link.
    for (const bool underOutput : {true, false}) {
      for (xmlNode* point : Select(node, underOutput ? "output" : "input")) {
        const AnsiString pointName = VKCore::GetNodeStringValue(point, "@name", "");
        for (xmlNode* link : Select(point, "link")) {
          const AnsiString other = VKCore::GetNodeStringValue(link, "@node", "");
          const AnsiString otherPoint = VKCore::GetNodeStringValue(link, "@linkpoint", "");
          const int queueSize = VKCore::GetNodeIntValue(link, "@queue", 1);
          const int rc = underOutput
                             ? AddWire(nodeName, pointName, other, otherPoint, queueSize)
                             : AddWire(other, otherPoint, nodeName, pointName, queueSize);
          if (rc == VKT_OK) continue;
          ErrorBox(underOutput
                       ? "Ошибка привязки входа \"" + otherPoint + "\" объекта \"" + other +
                             "\"\r\n к выходу \"" + pointName + "\" объекта \"" + nodeName +
                             "\":\r\n" + GetErrorDescription(rc)
                       : "Ошибка привязки выхода \"" + otherPoint + "\" объекта \"" + other +
                             "\"\r\nк входу \"" + pointName + "\" объекта \"" + nodeName +
                             "\":\r\n" + GetErrorDescription(rc));
          return rc;
        }
      }
    }
  }
  return VKT_OK;
}

int CSchemeManager::AddWire(const AnsiString& outNode, const AnsiString& outLinkPoint,
                            const AnsiString& inNode, const AnsiString& inLinkPoint,
                            int queueSize) {
  COutLinkPoint* output = nullptr;
  CInLinkPoint* input = nullptr;
  int rc = GetOutput(output, outNode, outLinkPoint);
  if (rc != VKT_OK) return rc;
  rc = GetInput(input, inNode, inLinkPoint);
  if (rc != VKT_OK) return rc;

  bool compatible = false;
  for (const CMetaClass& produced : output->AcceptedTypes) {
    for (const CMetaClass& accepted : input->AcceptedTypes)
      if (produced == accepted) compatible = true;
    if (compatible) break;
  }
  if (!compatible) return VKT_INCOMPATIBLE;

  CPacketQueue* queue = nullptr;
  if (output->Dispatcher()) {
    // The output is wired already: this scheme's queue serves this wire too,
    // and this wire's queue size has no effect.
    const auto known = queueOf.find(output->Dispatcher());
    if (known != queueOf.end()) queue = known->second;
    VK_ASSERT_TEXT(queue != nullptr, "PS");
    if (!queue) return VKT_ERROR;
  } else {
    // A size no queue can have is an error of the scheme file.
    if (queueSize < 0 || queueSize > kMaxQueueSize) return VKT_ERROR;
    queue = new CPacketQueue(static_cast<unsigned>(queueSize));
    queues.push_back(queue);
    queueOf[queue] = queue;
    output->SetDispatcher(queue);
  }
  input->AddSubscription(queue);
  return VKT_OK;
}

int CSchemeManager::Close() {
  if (Busy()) {
    LogMessage("Схема не закрыта: модуль ещё обрабатывает пакет в окне", false);
    return VKT_ERROR;
  }
  schemeDoc.Close();
  Stop();
  fileName.clear();
  windowControl = nullptr;
  for (CPacketQueue* queue : queues) queue->DetachSubscribers();
  while (!modules.empty()) {
    CBasePlugin* module = modules.back();
    modules.pop_back();
    moduleByName.erase(module->Name());
    int rc = pPluginsManager->DestroyPluginInstance(module);
    VK_ASSERT_TEXT(rc == 0, "pPluginsManager->DestroyPluginInstance(module)==0");
  }
  queueOf.clear();
  while (!queues.empty()) {
    delete queues.back();
    queues.pop_back();
  }
  return VKT_OK;
}

int CSchemeManager::CreatePluginInstance(CBasePlugin*& plugin, const AnsiString& className,
                                         const AnsiString& name) {
  plugin = nullptr;
  CBasePlugin* existing = nullptr;
  if (GetPlugin(existing, name) == VKT_OK) return VKT_NAME_EXISTS;
  int rc = pPluginsManager->CreatePluginInstance(plugin, className.c_str(), name.c_str());
  if (rc == VKT_OK && plugin) {
    modules.push_back(plugin);
    moduleByName[name] = plugin;
  }
  return rc;
}

int CSchemeManager::DeletePluginInstance(const AnsiString& name) {
  // The worker reads the module list without a lock and a handler may be
  // running in the module: modules go only while the scheme is stopped.
  if (started || Busy()) return VKT_ERROR;
  for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
    if ((*it)->Name() != name) continue;
    CBasePlugin* module = *it;
    modules.erase(std::next(it).base());
    moduleByName.erase(name);
    // Its inputs leave their queues as the module goes.
    int rc = pPluginsManager->DestroyPluginInstance(module);
    VK_ASSERT_TEXT(rc == 0, "pPluginsManager->DestroyPluginInstance(module)==0");
    return VKT_OK;
  }
  return VKT_NO_PLUGIN;
}

int CSchemeManager::GetPlugin(CBasePlugin*& plugin, const AnsiString& name) const {
  const auto found = moduleByName.find(name);
  if (found == moduleByName.end()) return VKT_NO_PLUGIN;
  plugin = found->second;
  return VKT_OK;
}

int CSchemeManager::GetPlugin(CBasePlugin*& plugin, unsigned index) const {
  VK_ASSERT_TEXT(index < modules.size(), "Index < modules.size()");
  if (index >= modules.size()) return VKT_NO_PLUGIN;
  plugin = modules[index];
  return VKT_OK;
}

int CSchemeManager::GetOutput(COutLinkPoint*& output, const AnsiString& node,
                              const AnsiString& linkPoint) const {
  CBasePlugin* plugin = nullptr;
  int rc = GetPlugin(plugin, node);
  if (rc != VKT_OK) return rc;
  output = plugin->GetOutLinkPoint(linkPoint);
  return output ? VKT_OK : VKT_NO_OUTPUT;
}

int CSchemeManager::GetInput(CInLinkPoint*& input, const AnsiString& node,
                             const AnsiString& linkPoint) const {
  CBasePlugin* plugin = nullptr;
  int rc = GetPlugin(plugin, node);
  if (rc != VKT_OK) return rc;
  input = plugin->GetInLinkPoint(linkPoint);
  return input ? VKT_OK : VKT_NO_INPUT;
}

// ---- run control --------------------------------------------------------------

int CSchemeManager::Start(QWidget* window) {
  if (started) return VKT_OK;
  const bool profileExists = FileExists(DefaultProfileFileName());
  windowControl = window;
  if (window) {
    deliveryFilter = std::make_unique<vkscheme::TDeliveryFilter>(this);
    window->installEventFilter(deliveryFilter.get());
  }
  LogMessage("Инициализация узлов", false);
  for (xmlNode* node : Select(schemeDoc.Root(), "/scheme/node")) {
    const AnsiString name = VKCore::GetNodeStringValue(node, "@name", "");
    VK_ASSERT_TEXT(!name.empty(), "LPName != \"\"");
    CBasePlugin* plugin = nullptr;
    if (GetPlugin(plugin, name) != VKT_OK) {
      AssertFunction(__FILE__, __DATE__, __LINE__, "GetPlugin( Plugin, LPName ) == 0");
      continue;
    }
    xmlNode* parameters = VKCore::GetElement(node, "parameters");
    plugin->DoInitialize(window, parameters);
    if (parameters && !profileExists) plugin->DoDeserialize(parameters, nullptr);
  }
  if (profileExists) OpenProfile(DefaultProfileFileName().c_str());
  // Packets sent while the modules were being initialised (from Initialize,
  // or by a module's own thread) may have reached inputs that had no handler
  // yet; they are due now. From here on every packet wakes the worker.
  for (CPacketQueue* q : queues) {
    q->RefreshNotifications();
    q->SetWakeEvent(&wake);
  }
  CollectLiveSubscribers();
  LogMessage("Запуск рабочего потока", false);
  ThreadStart();
  started = true;
  RestoreToolsState();
  return VKT_OK;
}

int CSchemeManager::Stop() {
  if (!started) return VKT_OK;
  if (Busy()) {
    LogMessage("Схема не остановлена: модуль ещё обрабатывает пакет в окне", false);
    return VKT_ERROR;
  }
  SaveProfile(DefaultProfileFileName().c_str());
  ThreadStop();
  if (windowControl) {
    SaveToolsState();
    windowControl->removeEventFilter(deliveryFilter.get());
  }
  // Deliveries still on their way refer to subscribers of this run.
  if (windowControl && QCoreApplication::instance())
    QCoreApplication::removePostedEvents(windowControl.data(), vkscheme::kDeliveryEvent);
  deliveryFilter.reset();
  liveSubscribers.clear();
  for (CPacketQueue* q : queues) {
    q->SetWakeEvent(nullptr);
    for (unsigned i = 0; i < q->SubscribersCount(); ++i) q->Subscriber(i)->DeliveryPosted = false;
  }
  for (auto it = modules.rbegin(); it != modules.rend(); ++it) (*it)->DoFinalize();
  for (auto it = queues.rbegin(); it != queues.rend(); ++it) (*it)->Reset();
  started = false;
  return VKT_OK;
}

void CSchemeManager::CollectLiveSubscribers() {
  liveSubscribers.clear();
  for (CPacketQueue* q : queues)
    for (unsigned i = 0; i < q->SubscribersCount(); ++i)
      liveSubscribers.emplace(q->Subscriber(i), q->Subscriber(i));
}

void CSchemeManager::Deliver(CSubscriber* subscriber) {
  // Only subscribers of this run are served.
  const auto found = liveSubscribers.find(subscriber);
  if (found == liveSubscribers.end()) return;
  CQueueSubscriber* s = found->second;
  // While the handler runs (perhaps in a nested event loop) the scheme may
  // not be stopped or closed under it; and no second delivery of this
  // subscriber is posted until this one is over (a handler that keeps
  // failing would otherwise nest one error box in the next).
  ++deliveryDepth;
  try {
    unsigned budget = std::max(1u, s->Queue()->QueueLen());
    do {
      s->NotifySubscriber();
    } while (budget-- > 1 && s->NeedNotify());
  } catch (const std::exception& e) {
    ErrorBox(AnsiString("Исключение при обработке подписок\r\n") + e.what());
  } catch (...) {
    // Nothing may escape into the event loop: it would end the program.
    ErrorBox("Исключение при обработке подписок\r\nНеизвестное исключение");
  }
  s->DeliveryPosted = false;
  --deliveryDepth;
}

void CSchemeManager::DeliverAll(QWidget* target) {
  for (CPacketQueue* queue : queues) {
    if (ThreadShouldStop()) break;
    try {
      for (unsigned i = 0; i < queue->SubscribersCount(); ++i) {
        if (ThreadShouldStop()) break;
        CQueueSubscriber* subscriber = queue->Subscriber(i);
        if (!subscriber->GetPacketReady()) continue;
        switch (subscriber->GetNotificationType()) {
          case 2:
            if (target && !subscriber->DeliveryPosted.exchange(true)) {
              auto* event = new TDeliveryEvent(subscriber);
              VK_HANDOFF_RELEASE(event);
              QCoreApplication::postEvent(target, event);
            }
            break;
          case 1: {
            // Everything that waits is delivered in this pass (bounded by
            // what the queue holds now, so that a producer feeding it from
            // another thread cannot keep the pass going for ever).
            unsigned budget = std::max(1u, queue->QueueLen());
            do {
              subscriber->NotifySubscriber();
            } while (--budget > 0 && !ThreadShouldStop() && subscriber->NeedNotify());
            break;
          }
          default:
            break;
        }
      }
    } catch (const std::exception& e) {
      ErrorBox(AnsiString("Исключение при обработке подписок\r\n") + e.what());
    } catch (...) {
      // A handler's failure of any kind must not end the scheme's thread.
      ErrorBox("Исключение при обработке подписок\r\nНеизвестное исключение");
    }
  }
}

void CSchemeManager::ProcessAll() {
  for (unsigned i = 0; i < GetPluginCount(); ++i) {
    if (ThreadShouldStop()) break;
    CBasePlugin* plugin = nullptr;
    int rc = GetPlugin(plugin, i);
    VK_ASSERT_TEXT(rc == 0, "GetPlugin(BP, i) == 0");
    if (rc != 0) continue;
    try {
      plugin->Process();
    } catch (const std::exception& e) {
      ErrorBox("Исключение в модуле \"" + plugin->Name() + "\" класса \"" + ClassNameOf(plugin) +
               "\":\r\n" + e.what());
    } catch (...) {
      ErrorBox("Неизвестное исключение в модуле \"" + plugin->Name() + "\" класса \"" +
               ClassNameOf(plugin) + "\"");
    }
  }
}

void CSchemeManager::ThreadCycle() {
  QWidget* target = windowControl.data();
  // Every pass delivers what waits and calls every module's Process; then
  // the worker waits up to 1 ms, or less when a packet arrives. Packets that
  // Process sends are delivered in the same pass without waking the worker
  // again (a module that sends on every call would otherwise keep it
  // spinning), so Process runs about once a millisecond when nothing comes
  // from elsewhere, and at once when something does.
  while (!ThreadShouldStop()) {
    wake.Clear();
    DeliverAll(target);
    ProcessAll();
    if (wake.Signalled()) {
      // Something was sent meanwhile (by Process, or from elsewhere).
      wake.Clear();
      DeliverAll(target);
    }
    if (ThreadShouldStop()) break;
    wake.Wait(1);
  }
}

// ---- tool layout --------------------------------------------------------------

AnsiString CSchemeManager::ToolsStateKey() const {
  return "ToolsState/" + ExExtractFileName(fileName.c_str());
}

namespace {
QMainWindow* MainWindowOf(QWidget* w) {
  if (!w) return nullptr;
  if (auto* main = qobject_cast<QMainWindow*>(w)) return main;
  return qobject_cast<QMainWindow*>(w->window());
}
}  // namespace

void CSchemeManager::SaveToolsState() {
  QMainWindow* main = MainWindowOf(windowControl.data());
  if (!main) return;
  QSettings settings("Korvan", "Vektra");
  settings.setValue(QString::fromStdString(ToolsStateKey()), main->saveState());
}

void CSchemeManager::RestoreToolsState() {
  QMainWindow* main = MainWindowOf(windowControl.data());
  if (!main) return;
  QSettings settings("Korvan", "Vektra");
  const QByteArray state = settings.value(QString::fromStdString(ToolsStateKey())).toByteArray();
  if (!state.isEmpty()) main->restoreState(state);
}

// ---- profiles -----------------------------------------------------------------

AnsiString CSchemeManager::DefaultProfileFileName() const {
  return GetVKDir(dirDefProfiles) + "/" + ExExtractFileName(fileName.c_str()) + ".vpr";
}

int CSchemeManager::SaveProfile(const char* name, const char*) {
  // Each module writes its part in the GUI thread; the file is formatted
  // and written aside.
  vkplatform::CLongOperation operation("Сохранение профиля...");
  VKCore::CXMLDocument doc(false);
  int rc = doc.New("profile", "windows-1251");
  VK_ASSERT_TEXT(rc == 0, "xmlDoc.CoCreateInstance(__uuidof(::DOMDocument))==0");
  if (rc != 0) return VKT_ERROR;
  xmlNode* root = doc.Root();
  VKCore::AddAttribute(root, "scheme", ExExtractFileName(fileName.c_str()));
  for (size_t i = 0; i < modules.size(); ++i) {
    CBasePlugin* module = modules[i];
    operation.Step(static_cast<int>(i), static_cast<int>(modules.size()));
    xmlNode* element = xmlNewDocNode(doc.Doc(), nullptr, BAD_CAST "parameters", nullptr);
    VKCore::AddAttribute(element, "nodeName", module->Name());
    int result = -1;
    try {
      result = module->DoSerialize(element, nullptr);
    } catch (...) {
      const AnsiString text =
          "NULL\r\n(Исключение при сериализации узла " + module->Name() + ")";
      AssertFunction(__FILE__, __DATE__, __LINE__, text.c_str());
    }
    if (result == 0) xmlAddChild(root, element);
    else xmlFreeNode(element);
  }
  const AnsiString target = name ? name : "";
  int saved = VKT_ERROR;
  operation.RunAside([&] {
    VKCore::FormatNode(root, "", "\t");
    const AnsiString::size_type slash = target.rfind('/');
    if (slash != AnsiString::npos && slash > 0) MakeDirectories(target.substr(0, slash));
    saved = doc.SaveAs(target.c_str());
  });
  if (saved != 0) {
    // The profile is the operator's data: say that it was not written.
    ErrorBox("Невозможно сохранить профиль \"" + target + "\".");
    return VKT_ERROR;
  }
  return VKT_OK;
}

int CSchemeManager::OpenProfile(const char* name, const char*) {
  // The file is read aside; each module then takes its part in the GUI
  // thread, with the events let through between modules.
  vkplatform::CLongOperation operation("Открытие профиля...");
  VKCore::CXMLDocument doc(false);
  int opened = VKT_ERROR;
  operation.RunAside([&] { opened = doc.Open(name); });
  if (opened != 0) {
    AssertFunction(__FILE__, __DATE__, __LINE__, "success\r\n(Ошибка при открытии XML)");
    return VKT_ERROR;
  }
  xmlNode* root = doc.Root();
  // The root must be the profile of this scheme; anything else changes nothing.
  if (!root || xmlStrcmp(root->name, BAD_CAST "profile") != 0 ||
      VKCore::GetNodeStringValue(root, "@scheme", "") != ExExtractFileName(fileName.c_str()))
    return VKT_ERROR;
  const std::vector<xmlNode*> entries = Select(root, "parameters");
  for (size_t i = 0; i < entries.size(); ++i) {
    ApplyParameters(VKCore::GetNodeStringValue(entries[i], "@nodeName", ""), entries[i]);
    operation.Step(static_cast<int>(i + 1), static_cast<int>(entries.size()));
  }
  return VKT_OK;
}

void CSchemeManager::ApplyParameters(const AnsiString& nodeName, xmlNode* parameters) {
  if (nodeName.empty()) {
    AssertFunction(__FILE__, __DATE__, __LINE__,
                   "sNodeName != \"\"\r\n(Не определено имя модуля в профиле)");
    return;
  }
  if (!parameters) return;
  CBasePlugin* plugin = nullptr;
  if (GetPlugin(plugin, nodeName) != VKT_OK) {
    AssertFunction(__FILE__, __DATE__, __LINE__,
                   "GetPlugin(pPlugin, sNodeName.c_str())==VKT_OK\r\n(Модуль профиля "
                   "отсутствует в схеме)");
    return;
  }
  plugin->DoDeserialize(parameters, nullptr);
}

int CSchemeManager::RestoreProfile() {
  vkplatform::CLongOperation operation("Восстановление начальных параметров...");
  const std::vector<xmlNode*> nodes = Select(schemeDoc.Root(), "/scheme/node");
  for (size_t i = 0; i < nodes.size(); ++i) {
    ApplyParameters(VKCore::GetNodeStringValue(nodes[i], "@name", ""), VKCore::GetElement(nodes[i], "parameters"));
    operation.Step(static_cast<int>(i + 1), static_cast<int>(nodes.size()));
  }
  return VKT_OK;
}
