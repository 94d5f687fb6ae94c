// Delivery when modules misbehave or the scheme changes under it: handlers
// that throw (in either thread), packets sent before the receiving input
// had its handler, inputs destroyed while wired, and a stop or close asked
// for while a windowed handler runs a nested event loop.
#include <gtest/gtest.h>

#include <QTimer>

#include "SchemeTestSupport.h"
#include "platform/Report.h"

using namespace schemetest;

namespace {

std::string SourceToSink(const std::string& name, const std::string& source, const std::string& sink,
                         int queue = 1) {
  return WriteScheme(name, "<scheme name=\"f\"><node name=\"src\" class=\"TTestSource\"><parameters " +
                               source + "/><output name=\"out\"><link node=\"sink\" linkpoint=\"in\" queue=\"" +
                               std::to_string(queue) +
                               "\"/></output></node><node name=\"sink\" class=\"TTestSink\"><parameters " +
                               sink + "/></node></scheme>");
}

class DeliveryFaults : public ::testing::TestWithParam<bool> {
 protected:
  std::string Window() const { return GetParam() ? " window=\"true\"" : ""; }
};

}  // namespace

// A handler that throws: the exception is shown, its packet is let go and
// the following packets keep coming, whichever thread runs the handler. (In
// the GUI thread it used to end the program; in the worker the input stayed
// captured and the wire went dead.)
TEST_P(DeliveryFaults, AThrowingHandlerLosesOnlyItsPacket) {
  App();
  vkplatform::ReportCapture cap;
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(SourceToSink("throwing_sink.vms", "count=\"10\"", "throw=\"3\"" + Window())), VKT_OK);
  std::filesystem::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), VKT_OK);
  EXPECT_TRUE(runner.RunUntil([&] { return runner.ModuleValue("sink", "received") >= 9; }, 10000));
  runner.RunFor(20);
  EXPECT_EQ(runner.ModuleValue("sink", "received"), 9);
  EXPECT_EQ(runner.ModuleValue("sink", "sum"), 55 - 3);
  runner.Stop();
  ASSERT_EQ(cap.Count(), 1u);
  EXPECT_EQ(cap.Reports()[0].text, "Исключение при обработке подписок\r\nsink failure");
  EXPECT_EQ(cap.Reports()[0].caption, "Ошибка");
}

// The source sends from its Initialize, before the sink (later in the
// scheme) has set its handler; the queue of one is then full, so a wire
// left without notification would carry nothing at all.
TEST_P(DeliveryFaults, PacketsSentWhileTheSchemeStartsAreDelivered) {
  App();
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(SourceToSink("early.vms", "initial=\"1\" count=\"5\"", Window().c_str())), VKT_OK);
  std::filesystem::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), VKT_OK);
  EXPECT_TRUE(runner.RunUntil([&] { return runner.ModuleValue("sink", "received") >= 5; }, 5000));
  EXPECT_EQ(runner.ModuleValue("sink", "sum"), 15);
}

INSTANTIATE_TEST_SUITE_P(BothThreads, DeliveryFaults, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "GuiThread" : "WorkerThread"; });

// Deleting a wired module takes its inputs off their queues: the queue
// keeps serving the other input and never touches the freed one (the ASan
// build would see it).
TEST(DeliveryFaultsScheme, ADeletedModuleLeavesItsQueues) {
  App();
  CSchemeRunner runner(PluginsDir());
  const std::string file = WriteScheme("deleted.vms", R"(<scheme name="d">
    <node name="src" class="TTestSource"><parameters count="20"/><output name="out">
      <link node="sink" linkpoint="in" queue="4"/><link node="other" linkpoint="in"/></output></node>
    <node name="sink" class="TTestSink"/><node name="other" class="TTestSink"/></scheme>)");
  ASSERT_EQ(runner.Open(file), VKT_OK);
  std::filesystem::remove(runner.Scheme().DefaultProfileFileName());
  CPacketQueue* queue = runner.Scheme().GetQueue(0);
  ASSERT_EQ(queue->SubscribersCount(), 2u);
  ASSERT_EQ(runner.Scheme().DeletePluginInstance("sink"), VKT_OK);
  EXPECT_EQ(queue->SubscribersCount(), 1u);
  vkplatform::ReportCapture cap;  // the scheme file still names the deleted node
  ASSERT_EQ(runner.Start(), VKT_OK);
  EXPECT_EQ(cap.CountExpression("GetPlugin( Plugin, LPName ) == 0"), 1u);
  EXPECT_TRUE(runner.RunUntil([&] { return runner.ModuleValue("other", "received") >= 20; }, 5000));
  runner.Stop();

  // A queue that goes first leaves its inputs nothing to call back.
  {
    CInLinkPoint input("in", {MetaClassOf<CDoublePacket>()}, lptDefault);
    {
      CPacketQueue early(2);
      input.AddSubscription(&early);
      EXPECT_EQ(input.SubscriptionsCount(), 1u);
    }
    EXPECT_EQ(input.SubscriptionsCount(), 0u);
    EXPECT_EQ(input.GetPacketCopyAndRelease(), nullptr);
  }
}

// Stop and Close asked for while a windowed handler runs its own event
// loop are refused (its module must not be finalised or freed under it);
// once it has returned they go through.
TEST(DeliveryFaultsScheme, StopAndCloseWaitForARunningWindowedHandler) {
  App();
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(SourceToSink("nested.vms", "count=\"1\"", "window=\"true\" nested=\"300\"")), VKT_OK);
  std::filesystem::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), VKT_OK);
  int stopResult = 1, closeResult = 1, deleteResult = 1;
  bool busy = false;
  double nested = -1;
  // As soon as the handler is inside its own event loop, the operator asks.
  QTimer asker;
  QObject::connect(&asker, &QTimer::timeout, [&] {
    if (runner.ModuleValue("sink", "nestedRunning") != 1) return;
    asker.stop();
    busy = runner.Scheme().Busy();
    nested = runner.ModuleValue("sink", "nestedRunning");
    stopResult = runner.Scheme().Stop();
    closeResult = runner.Scheme().Close();
    deleteResult = runner.Scheme().DeletePluginInstance("sink");
  });
  asker.start(5);
  EXPECT_TRUE(runner.RunUntil([&] { return runner.ModuleValue("sink", "received") >= 1; }, 5000));
  EXPECT_TRUE(busy);
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(stopResult, VKT_ERROR);
  EXPECT_EQ(closeResult, VKT_ERROR);
  EXPECT_EQ(deleteResult, VKT_ERROR);
  EXPECT_TRUE(runner.Scheme().Started());
  EXPECT_EQ(runner.Scheme().DeletePluginInstance("sink"), VKT_ERROR);  // running: modules stay
  EXPECT_FALSE(runner.Scheme().Busy());
  EXPECT_EQ(runner.Scheme().Close(), VKT_OK);
  EXPECT_EQ(runner.Scheme().GetPluginCount(), 0u);
}
