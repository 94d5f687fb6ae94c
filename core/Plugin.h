#pragma once
// The plug-in base class, its link points, and the interfaces through which
// link points meet the packet queues.
#include <libxml/tree.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <vector>

#include "Object.h"
#include "PacketTypes.h"
#include "ThreadObject.h"
#include "VKTypes.h"
#include "WakeEvent.h"

class QWidget;
class CInLinkPoint;

// Result codes of link and scheme operations.
enum : int {
  VKT_OK = 0,
  VKT_ERROR = -1,
  VKT_QUEUE_FULL = -2,
  VKT_NOT_CONNECTED = -3,
  VKT_WRONG_TYPE = -4,
  VKT_STOP = -5,
  VKT_NO_PLUGIN = -6,
  VKT_NO_INPUT = -7,
  VKT_NO_OUTPUT = -8,
  VKT_INCOMPATIBLE = -9,
  VKT_NO_CLASS = -10,
  VKT_NAME_EXISTS = -12,
  VKT_NOT_SUPPORTED = -13
};

// The text of a result code ("Неизвестная ошибка" for any code without one).
AnsiString GetErrorDescription(int code);

// A growable array whose constructor takes its initial members.
template <class T>
class CSimpleSet : public std::vector<T> {
 public:
  CSimpleSet() = default;
  CSimpleSet(std::initializer_list<T> members) : std::vector<T>(members) {}
};

// Stored as given; every link point of the system uses 1.
enum ELinkPointType : unsigned char { lptDefault = 1 };

// What an output hands its packets to (the packet queue).
class CDispatcher {
 public:
  virtual void Reset() = 0;
  // 0 when the dispatcher took the packet, else a negative result code and
  // the packet stays with the caller.
  virtual int AddPacket(CBasePacket* packet) = 0;
  virtual bool QueueFull() = 0;

 protected:
  ~CDispatcher() = default;
};

class CSubscriber;

// What an input subscribes to.
class CSubscribersManager {
 public:
  virtual CSubscriber* Subscriber(CInLinkPoint* input) = 0;
  virtual CSubscriber* RegisterSubscriber(CInLinkPoint* input) = 0;
  virtual int UnregisterSubscriber(CInLinkPoint* input) = 0;

 protected:
  ~CSubscribersManager() = default;
};

// What an input reads through: one per queue it is subscribed to.
class CSubscriber {
 public:
  // The next packet for this input, still owned by the queue; null when none.
  virtual CBasePacket* GetPacketRef() = 0;
  virtual bool GetPacketReady() = 0;
  // The next packet, now owned by the caller; null when none.
  virtual CBasePacket* GetPacketCopyAndRelease() = 0;
  // The packet last referenced through GetPacketRef has been used.
  virtual int ReleasePacket() = 0;
  virtual void NotifySubscriber() = 0;

 protected:
  ~CSubscriber() = default;
};

// Handler of an input: (subscriber, packet, handled). A handler that sets
// `handled` keeps the packet and releases it later through the input.
using TPacketEvent = std::function<void(CSubscriber* subscriber, CBasePacket* packet, bool& handled)>;

// An input's handler as the input keeps it. Whether one is set may be asked
// from any thread (a queue asks when a packet arrives, from the sender's
// thread, while the receiving module may be setting its handler in its
// Initialize); the handler itself is called only by the thread that serves
// the input.
class TPacketHandler {
 public:
  TPacketHandler() = default;
  TPacketHandler(TPacketEvent handler) : handler_(std::move(handler)), set_(static_cast<bool>(handler_)) {}
  TPacketHandler(const TPacketHandler&) = delete;
  TPacketHandler& operator=(const TPacketHandler&) = delete;
  TPacketHandler& operator=(TPacketEvent handler) {
    handler_ = std::move(handler);
    set_.store(static_cast<bool>(handler_), std::memory_order_release);
    return *this;
  }
  explicit operator bool() const { return set_.load(std::memory_order_acquire); }
  void operator()(CSubscriber* subscriber, CBasePacket* packet, bool& handled) const {
    handler_(subscriber, packet, handled);
  }

 private:
  TPacketEvent handler_;
  std::atomic<bool> set_{false};
};

class COutLinkPoint {
 public:
  COutLinkPoint(const AnsiString& name, const CSimpleSet<CMetaClass>& types, ELinkPointType type);

  AnsiString Name;
  CSimpleSet<CMetaClass> AcceptedTypes;
  ELinkPointType LinkType;

  void SetDispatcher(CDispatcher* dispatcher);
  CDispatcher* Dispatcher() const { return dispatcher; }
  // -3 when not wired; otherwise the dispatcher's result. On 0 the packet
  // belongs to the dispatcher, on anything else it stays with the caller.
  int AddPacket(CBasePacket* packet);

 private:
  CDispatcher* dispatcher = nullptr;
};

class CInLinkPoint : public CSafeObject {
 public:
  CInLinkPoint(const AnsiString& name, const CSimpleSet<CMetaClass>& types, ELinkPointType type,
               TPacketEvent onPacket = TPacketEvent(), QWidget* window = nullptr);
  // Leaves every queue it is subscribed to: a destroyed input is never read
  // or notified again.
  ~CInLinkPoint() override;

  unsigned CurrentSubscriber = 0;
  AnsiString Name;
  CSimpleSet<CMetaClass> AcceptedTypes;
  ELinkPointType LinkType;
  TPacketHandler OnPacket;
  QWidget* NotifyWindow = nullptr;
  // Signalled by the queues whenever a packet arrives for this input: a
  // plug-in that polls its inputs from a thread of its own waits on it
  // instead of sleeping. Set and cleared while producers may be sending, so
  // it is read once per packet; not owned, and it outlives the producers.
  std::atomic<CWakeEvent*> WakeEvent{nullptr};

  int AddSubscription(CSubscribersManager* source);
  int RemoveSubscription(CSubscribersManager* source);
  // Called by a queue that is being destroyed: its subscriptions are gone
  // and are forgotten without calling back.
  void SubscriptionGone(CSubscribersManager* source);
  // Round robin over the subscribed queues: the one after the queue served
  // last is asked first.
  CBasePacket* GetPacketRef();
  CBasePacket* GetPacketCopyAndRelease();
  bool GetPacketReady();
  void ReleasePacket();
  size_t SubscriptionsCount();

 private:
  template <class Take>
  CBasePacket* TakeRoundRobin(Take take);

  std::vector<CSubscriber*> subscribtions;
  // The queue of each subscription, at the same index.
  std::vector<CSubscribersManager*> sources;
};

class CBasePlugin : public CThreadObject {
 public:
  CBasePlugin() = default;
  ~CBasePlugin() override;

  virtual void Process() {}
  virtual int Register() = 0;
  virtual int Deserialize(xmlNode* element, const char* section) { return -1; }
  virtual int Serialize(xmlNode* element, const char* section) { return -1; }
  virtual int Initialize(QWidget* parent, xmlNode* node) = 0;
  virtual int Finalize() = 0;
  // A question from automation (the remote interface), asked in the GUI
  // thread of a started scheme. Modules that show data answer "sweeps" (the
  // complete sweeps they have taken), "trace" (what they show, as CSV),
  // "marker N" and "link N" (a marker's and a link marker's reading),
  // "report html FILE" and "report pdf FILE"; modules that set the
  // instrument answer "busy" ("1" while a value waits for its
  // confirmation). 0 with the answer; a negative result code with the
  // reason in `answer`; VKT_NOT_SUPPORTED for a question it does not know.
  virtual int Query(const AnsiString& request, AnsiString& answer) { return VKT_NOT_SUPPORTED; }

  AnsiString Name() const { return name; }
  void SetName(const AnsiString& newName) { name = newName; }
  int Version() const { return version; }
  void SetVersion(int newVersion) { version = newVersion; }

  int RegisterInLinkPoint(const AnsiString& linkName, const CSimpleSet<CMetaClass>& types,
                          ELinkPointType type);
  int RegisterOutLinkPoint(const AnsiString& linkName, const CSimpleSet<CMetaClass>& types,
                           ELinkPointType type);
  CInLinkPoint* GetInLinkPoint(const AnsiString& linkName) const;
  COutLinkPoint* GetOutLinkPoint(const AnsiString& linkName) const;
  CInLinkPoint* GetInLinkPoint(unsigned index) const;
  COutLinkPoint* GetOutLinkPoint(unsigned index) const;
  int GetInLinkPointsCount() const { return static_cast<int>(inLinkPoints.size()); }
  int GetOutLinkPointsCount() const { return static_cast<int>(outLinkPoints.size()); }

  int DoInitialize(QWidget* parent, xmlNode* node);
  int DoFinalize();
  int DoSerialize(xmlNode* element, const char* section);
  int DoDeserialize(xmlNode* element, const char* section);
  bool IsInitialized() const { return Initialized; }

 protected:
  bool Initialized = false;

 private:
  AnsiString name;
  int version = 0;
  std::vector<CInLinkPoint*> inLinkPoints;
  std::vector<COutLinkPoint*> outLinkPoints;
};
