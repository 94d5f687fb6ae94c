#include "Plugin.h"

#include "Diagnostics.h"

AnsiString GetErrorDescription(int code) {
  switch (code) {
    case VKT_OK: return "Нет ошибок";
    case VKT_QUEUE_FULL: return "Очередь заполнена";
    case VKT_NOT_CONNECTED: return "К входу/выходу ничего не подключено";
    case VKT_WRONG_TYPE: return "Неверный тип данных на входе";
    case VKT_STOP: return "Поступил сигнал остановки процесса";
    case VKT_NO_PLUGIN: return "Плагина с таким именем нет";
    case VKT_NO_INPUT: return "Входа с таким именем нет";
    case VKT_NO_OUTPUT: return "Выхода с таким именем нет";
    case VKT_INCOMPATIBLE: return "Несовместимые типы данных";
    case VKT_NO_CLASS: return "Класс плагина не определён";
    default: return "Неизвестная ошибка";
  }
}

// ---- COutLinkPoint ----------------------------------------------------------

COutLinkPoint::COutLinkPoint(const AnsiString& name, const CSimpleSet<CMetaClass>& types,
                             ELinkPointType type)
    : Name(name), AcceptedTypes(types), LinkType(type) {}

void COutLinkPoint::SetDispatcher(CDispatcher* newDispatcher) {
  VK_ASSERT_TEXT(newDispatcher != nullptr, "dispatcher != NULL");
  dispatcher = newDispatcher;
}

int COutLinkPoint::AddPacket(CBasePacket* packet) {
  if (!dispatcher) return VKT_NOT_CONNECTED;
  return dispatcher->AddPacket(packet);
}

// ---- CInLinkPoint -----------------------------------------------------------

CInLinkPoint::CInLinkPoint(const AnsiString& name, const CSimpleSet<CMetaClass>& types,
                           ELinkPointType type, TPacketEvent onPacket, QWidget* window)
    : Name(name), AcceptedTypes(types), LinkType(type), OnPacket(std::move(onPacket)),
      NotifyWindow(window) {}

CInLinkPoint::~CInLinkPoint() {
  // From the last subscription to the first: a queue's UnregisterSubscriber
  // removes this input's last subscriber there, which is the one at hand.
  std::vector<CSubscribersManager*> left;
  {
    CSafeLock lock(*this);
    left.swap(sources);
    subscribtions.clear();
  }
  for (auto it = left.rbegin(); it != left.rend(); ++it) (*it)->UnregisterSubscriber(this);
}

int CInLinkPoint::AddSubscription(CSubscribersManager* source) {
  VK_ASSERT_TEXT(source != nullptr, "source != NULL");
  if (!source) return VKT_ERROR;
  CSubscriber* subscriber = source->RegisterSubscriber(this);
  VK_ASSERT_TEXT(subscriber != nullptr, "subscriber != NULL");
  if (!subscriber) return VKT_ERROR;
  CSafeLock lock(*this);
  subscribtions.push_back(subscriber);
  sources.push_back(source);
  return VKT_OK;
}

int CInLinkPoint::RemoveSubscription(CSubscribersManager* source) {
  VK_ASSERT_TEXT(source != nullptr, "source != NULL");
  if (!source) return VKT_ERROR;
  CSafeLock lock(*this);
  CSubscriber* subscriber = source->Subscriber(this);
  VK_ASSERT_TEXT(subscriber != nullptr, "subscriber!=NULL");
  int index = static_cast<int>(subscribtions.size()) - 1;
  while (index >= 0 && subscribtions[static_cast<size_t>(index)] != subscriber) --index;
  VK_ASSERT_TEXT(index >= 0, "Index>=0");
  if (index < 0) return VKT_ERROR;  // not subscribed there: nothing to leave
  subscribtions.erase(subscribtions.begin() + index);
  sources.erase(sources.begin() + index);
  int rc = source->UnregisterSubscriber(this);
  VK_ASSERT_TEXT(rc == 0, "PS->UnregisterSubscriber(this)==0");
  return VKT_OK;
}

void CInLinkPoint::SubscriptionGone(CSubscribersManager* source) {
  CSafeLock lock(*this);
  for (size_t i = sources.size(); i-- > 0;)
    if (sources[i] == source) {
      sources.erase(sources.begin() + static_cast<long>(i));
      subscribtions.erase(subscribtions.begin() + static_cast<long>(i));
    }
}

template <class Take>
CBasePacket* CInLinkPoint::TakeRoundRobin(Take take) {
  CSafeLock lock(*this);
  const size_t n = subscribtions.size();
  if (n == 0) return nullptr;
  if (CurrentSubscriber >= n) CurrentSubscriber = 0;
  const size_t start = CurrentSubscriber;
  size_t i = start;
  do {
    i = (i + 1) % n;
    if (CBasePacket* packet = take(subscribtions[i])) {
      CurrentSubscriber = static_cast<unsigned>(i);
      return packet;
    }
  } while (i != start);
  return nullptr;
}

CBasePacket* CInLinkPoint::GetPacketRef() {
  return TakeRoundRobin([](CSubscriber* s) { return s->GetPacketRef(); });
}

CBasePacket* CInLinkPoint::GetPacketCopyAndRelease() {
  return TakeRoundRobin([](CSubscriber* s) { return s->GetPacketCopyAndRelease(); });
}

bool CInLinkPoint::GetPacketReady() {
  CSafeLock lock(*this);
  for (CSubscriber* s : subscribtions)
    if (s->GetPacketReady()) return true;
  return false;
}

void CInLinkPoint::ReleasePacket() {
  CSafeLock lock(*this);
  if (CurrentSubscriber < subscribtions.size()) subscribtions[CurrentSubscriber]->ReleasePacket();
}

size_t CInLinkPoint::SubscriptionsCount() {
  CSafeLock lock(*this);
  return subscribtions.size();
}

// ---- CBasePlugin ------------------------------------------------------------

CBasePlugin::~CBasePlugin() {
  while (!inLinkPoints.empty()) {
    delete inLinkPoints.back();
    inLinkPoints.pop_back();
  }
  while (!outLinkPoints.empty()) {
    delete outLinkPoints.back();
    outLinkPoints.pop_back();
  }
}

int CBasePlugin::RegisterInLinkPoint(const AnsiString& linkName,
                                     const CSimpleSet<CMetaClass>& types, ELinkPointType type) {
  inLinkPoints.push_back(new CInLinkPoint(linkName, types, type));
  return VKT_OK;
}

int CBasePlugin::RegisterOutLinkPoint(const AnsiString& linkName,
                                      const CSimpleSet<CMetaClass>& types, ELinkPointType type) {
  outLinkPoints.push_back(new COutLinkPoint(linkName, types, type));
  return VKT_OK;
}

CInLinkPoint* CBasePlugin::GetInLinkPoint(const AnsiString& linkName) const {
  for (CInLinkPoint* lp : inLinkPoints)
    if (lp->Name == linkName) return lp;
  return nullptr;
}

COutLinkPoint* CBasePlugin::GetOutLinkPoint(const AnsiString& linkName) const {
  for (COutLinkPoint* lp : outLinkPoints)
    if (lp->Name == linkName) return lp;
  return nullptr;
}

CInLinkPoint* CBasePlugin::GetInLinkPoint(unsigned index) const {
  VK_ASSERT_TEXT(index < inLinkPoints.size(), "Index>=0 && Index<inLinkPoints.size()");
  return index < inLinkPoints.size() ? inLinkPoints[index] : nullptr;
}

COutLinkPoint* CBasePlugin::GetOutLinkPoint(unsigned index) const {
  VK_ASSERT_TEXT(index < outLinkPoints.size(), "Index>=0 && Index<outLinkPoints.size()");
  return index < outLinkPoints.size() ? outLinkPoints[index] : nullptr;
}

int CBasePlugin::DoInitialize(QWidget* parent, xmlNode* node) {
  int rc = Initialize(parent, node);
  Initialized = true;
  return rc;
}

int CBasePlugin::DoFinalize() {
  Initialized = false;
  return Finalize();
}

int CBasePlugin::DoSerialize(xmlNode* element, const char* section) {
  VK_ASSERT_TEXT(element != nullptr, "ANode");
  if (!element || !Initialized) return VKT_ERROR;
  return Serialize(element, section);
}

int CBasePlugin::DoDeserialize(xmlNode* element, const char* section) {
  VK_ASSERT_TEXT(element != nullptr, "ANode");
  if (!element || !Initialized) return VKT_ERROR;
  return Deserialize(element, section);
}
