// Plug-in base and link points over real queues.
#include <gtest/gtest.h>

#include "CountingPacket.h"
#include "PacketQueue.h"
#include "Plugin.h"
#include "platform/Report.h"

namespace {

class TProbe : public CBasePlugin {
 public:
  int Register() override {
    RegisterInLinkPoint("value", {MetaClassOf<CDoublePacket>()}, lptDefault);
    RegisterInLinkPoint("value", {MetaClassOf<CStringPacket>()}, lptDefault);
    RegisterOutLinkPoint("out", {MetaClassOf<CDoublePacket>()}, lptDefault);
    return 0;
  }
  int Initialize(QWidget*, xmlNode*) override { return 0; }
  int Finalize() override { return 0; }
  int Serialize(xmlNode*, const char*) override {
    ++serializeCalls;
    return 0;
  }
  int serializeCalls = 0;
};

CSimpleSet<CMetaClass> Doubles() { return {MetaClassOf<CDoublePacket>()}; }

long SeqOf(CBasePacket* p) { return static_cast<CountingPacket*>(p)->Seq(); }

}  // namespace

TEST(LinkPoints, LookupsAndLifecycleGates) {
  vkplatform::ReportCapture cap;
  TProbe plugin;
  plugin.Register();
  EXPECT_EQ(plugin.GetInLinkPointsCount(), 2);
  // Case-sensitive lookup; the first of two equal names wins.
  EXPECT_EQ(plugin.GetInLinkPoint(AnsiString("Value")), nullptr);
  EXPECT_EQ(plugin.GetInLinkPoint(AnsiString("value")), plugin.GetInLinkPoint(0u));
  EXPECT_EQ(plugin.GetInLinkPoint(5u), nullptr);
  EXPECT_EQ(cap.CountExpression("Index>=0 && Index<inLinkPoints.size()"), 1u);
  EXPECT_EQ(plugin.GetOutLinkPoint(1u), nullptr);
  EXPECT_EQ(cap.CountExpression("Index>=0 && Index<outLinkPoints.size()"), 1u);

  // Serialize is reachable only between DoInitialize and DoFinalize.
  xmlDoc* doc = xmlNewDoc(BAD_CAST "1.0");
  xmlNode* e = xmlNewDocNode(doc, nullptr, BAD_CAST "parameters", nullptr);
  xmlDocSetRootElement(doc, e);
  EXPECT_EQ(plugin.DoSerialize(e, nullptr), -1);
  EXPECT_EQ(plugin.serializeCalls, 0);
  plugin.DoInitialize(nullptr, nullptr);
  EXPECT_EQ(plugin.DoSerialize(e, nullptr), 0);
  EXPECT_EQ(plugin.DoSerialize(nullptr, nullptr), -1);
  EXPECT_EQ(cap.CountExpression("ANode"), 1u);
  plugin.DoFinalize();
  EXPECT_EQ(plugin.DoSerialize(e, nullptr), -1);
  EXPECT_EQ(plugin.serializeCalls, 1);
  xmlFreeDoc(doc);
}

TEST(LinkPoints, ErrorTextsAndUnwiredPoints) {
  EXPECT_EQ(GetErrorDescription(0), "Нет ошибок");
  EXPECT_EQ(GetErrorDescription(-2), "Очередь заполнена");
  EXPECT_EQ(GetErrorDescription(-3), "К входу/выходу ничего не подключено");
  EXPECT_EQ(GetErrorDescription(-9), "Несовместимые типы данных");
  EXPECT_EQ(GetErrorDescription(-10), "Класс плагина не определён");
  EXPECT_EQ(GetErrorDescription(-1), "Неизвестная ошибка");
  EXPECT_EQ(GetErrorDescription(-12), "Неизвестная ошибка");

  COutLinkPoint out("out", Doubles(), lptDefault);
  auto* packet = new CDoublePacket(1);
  EXPECT_EQ(out.AddPacket(packet), VKT_NOT_CONNECTED);
  delete packet;  // still the caller's

  CInLinkPoint in("in", Doubles(), lptDefault);
  EXPECT_EQ(in.GetPacketRef(), nullptr);
  EXPECT_EQ(in.GetPacketCopyAndRelease(), nullptr);
  EXPECT_FALSE(in.GetPacketReady());
  in.ReleasePacket();
}

TEST(LinkPoints, RoundRobinOverSeveralQueues) {
  CPacketQueue a(8), b(8), c(8);
  CInLinkPoint in("in", Doubles(), lptDefault);
  in.AddSubscription(&a);
  in.AddSubscription(&b);
  in.AddSubscription(&c);
  for (int i = 0; i < 3; ++i) {
    a.AddPacket(new CountingPacket(100 + i));
    b.AddPacket(new CountingPacket(200 + i));
    c.AddPacket(new CountingPacket(300 + i));
  }
  std::vector<long> order;
  for (int i = 0; i < 5; ++i) {
    CBasePacket* p = in.GetPacketCopyAndRelease();
    order.push_back(SeqOf(p));
    delete p;
  }
  EXPECT_EQ(order, (std::vector<long>{200, 300, 100, 201, 301}));

  // When only one queue holds packets, every call takes from it and the
  // input stays on it.
  CPacketQueue only(8), empty1(8), empty2(8);
  CInLinkPoint in2("in2", Doubles(), lptDefault);
  in2.AddSubscription(&empty1);
  in2.AddSubscription(&only);
  in2.AddSubscription(&empty2);
  only.AddPacket(new CountingPacket(1));
  only.AddPacket(new CountingPacket(2));
  for (long expected : {1L, 2L}) {
    CBasePacket* p = in2.GetPacketRef();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(SeqOf(p), expected);
    EXPECT_EQ(in2.CurrentSubscriber, 1u);
    in2.ReleasePacket();
  }
  EXPECT_FALSE(in2.GetPacketReady());
  in.RemoveSubscription(&a);
  in.RemoveSubscription(&b);
  in.RemoveSubscription(&c);
  EXPECT_EQ(in.SubscriptionsCount(), 0u);
  in2.RemoveSubscription(&empty1);
  in2.RemoveSubscription(&only);
  in2.RemoveSubscription(&empty2);
}
