// Opening schemes: modules, wires, queues, and every way a scheme file can
// be wrong.
#include <gtest/gtest.h>

#include "SchemeTestSupport.h"
#include "platform/Report.h"

using namespace schemetest;

TEST(SchemeOpen, ChainCreatesModulesAndQueuesAndCloseTearsDown) {
  App();
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(SchemeFile("chain.vms")), VKT_OK);
  EXPECT_EQ(runner.SchemeName(), "Цепочка");
  CSchemeManager& s = runner.Scheme();
  ASSERT_EQ(s.GetPluginCount(), 3u);
  CBasePlugin* p = nullptr;
  ASSERT_EQ(s.GetPlugin(p, 2u), VKT_OK);
  EXPECT_EQ(p->Name(), "sink");
  ASSERT_EQ(s.GetQueueCount(), 2u);
  EXPECT_EQ(s.GetQueue(0)->QueueSize(), 4u);
  EXPECT_EQ(s.GetQueue(1)->QueueSize(), 1u);  // no @queue: one packet
  EXPECT_EQ(s.DeletePluginInstance("nobody"), VKT_NO_PLUGIN);
  EXPECT_EQ(s.GetPluginCount(), 3u);
  runner.Close();
  EXPECT_EQ(s.GetPluginCount(), 0u);
  EXPECT_EQ(s.GetQueueCount(), 0u);
  EXPECT_EQ(s.FileName(), "");
  for (unsigned i = 0; i < runner.Plugins().GetPluginCount(); ++i)
    EXPECT_FALSE(runner.Plugins().GetPlugin(i)->IsLoaded() && !runner.Plugins().GetPlugin(i)->KeptMapped());
}

TEST(SchemeOpen, WireFormsShareQueuesAndSubscribe) {
  App();
  CSchemeRunner runner(PluginsDir());
  // The fan-out scheme (declared windows-1251) writes one wire under the
  // output and one under the input; both use the output's single queue.
  ASSERT_EQ(runner.Open(SchemeFile("fanout.vms")), VKT_OK);
  EXPECT_EQ(runner.SchemeName(), "Веер");
  ASSERT_EQ(runner.Scheme().GetQueueCount(), 1u);
  EXPECT_EQ(runner.Scheme().GetQueue(0)->QueueSize(), 8u);  // the second @queue has no effect
  EXPECT_EQ(runner.Scheme().GetQueue(0)->SubscribersCount(), 2u);

  // The same wire written twice subscribes the input twice.
  const std::string twice = WriteScheme("twice.vms", R"(<scheme name="t">
    <node name="a" class="TTestSource"><output name="out"><link node="b" linkpoint="in"/></output></node>
    <node name="b" class="TTestSink"><input name="in"><link node="a" linkpoint="out"/></input></node>
  </scheme>)");
  ASSERT_EQ(runner.Open(twice), VKT_OK);
  ASSERT_EQ(runner.Scheme().GetQueueCount(), 1u);
  EXPECT_EQ(runner.Scheme().GetQueue(0)->SubscribersCount(), 2u);

  const std::string empty = WriteScheme("empty.vms", "<scheme name=\"e\"/>");
  EXPECT_EQ(runner.Open(empty), VKT_OK);
  EXPECT_EQ(runner.Scheme().GetPluginCount(), 0u);
}

// A scheme of 200,000 wires (one output to 2,000 sinks, a hundred wires
// each) opens, names its modules and closes: wiring costs each wire the
// same, however many there are already (it used to scan every subscriber
// and every module per wire, minutes for this scheme).
TEST(SchemeOpen, TwoHundredThousandWiresOpenAndClose) {
  App();
  std::string text = "<scheme name=\"w\"><node name=\"src\" class=\"TTestSource\"><output name=\"out\">";
  for (int i = 0; i < 200000; ++i) text += "<link node=\"sink" + std::to_string(i % 2000) + "\" linkpoint=\"in\"/>";
  text += "</output></node>";
  for (int i = 0; i < 2000; ++i) text += "<node name=\"sink" + std::to_string(i) + "\" class=\"TTestSink\"/>";
  text += "</scheme>";
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(WriteScheme("wires.vms", text)), VKT_OK);
  CSchemeManager& s = runner.Scheme();
  ASSERT_EQ(s.GetQueueCount(), 1u);
  EXPECT_EQ(s.GetQueue(0)->SubscribersCount(), 200000u);
  CBasePlugin* p = nullptr;
  ASSERT_EQ(s.GetPlugin(p, "sink1999"), VKT_OK);
  EXPECT_EQ(p->GetInLinkPoint("in")->SubscriptionsCount(), 100u);
  EXPECT_EQ(s.DeletePluginInstance("sink1999"), VKT_OK);
  EXPECT_EQ(s.GetPlugin(p, "sink1999"), VKT_NO_PLUGIN);
  EXPECT_EQ(s.GetQueue(0)->SubscribersCount(), 199900u);
  runner.Close();
  EXPECT_EQ(s.GetPlugin(p, "sink0"), VKT_NO_PLUGIN);
  EXPECT_EQ(s.GetQueueCount(), 0u);
}

struct BadScheme {
  const char* name;
  const char* text;  // null: no file at all
  int result;
  const char* message;
};

class SchemeOpenBad : public ::testing::TestWithParam<BadScheme> {};

TEST_P(SchemeOpenBad, ReportsAndLeavesNothingBehind) {
  App();
  const BadScheme& c = GetParam();
  vkplatform::ReportCapture cap;
  CSchemeRunner runner(PluginsDir());
  const std::string file = c.text ? WriteScheme(std::string(c.name) + ".vms", c.text)
                                  : TestHome() + "/missing.vms";
  EXPECT_EQ(runner.Open(file), c.result);
  ASSERT_EQ(cap.Count(), 1u);
  EXPECT_EQ(cap.Reports()[0].caption, "Ошибка");
  EXPECT_EQ(cap.Reports()[0].text, c.message);
  runner.Close();
  EXPECT_EQ(runner.Scheme().GetPluginCount(), 0u);
  EXPECT_EQ(runner.Scheme().GetQueueCount(), 0u);
}

#define NODE_A "<node name=\"a\" class=\"TTestSource\">"
#define WIRE_HEAD "Ошибка привязки входа "

INSTANTIATE_TEST_SUITE_P(
    Cases, SchemeOpenBad,
    ::testing::Values(
        BadScheme{"missing", nullptr, -1, "Невозможно открыть XML документ."},
        BadScheme{"notxml", "this is no XML", -1, "Невозможно открыть XML документ."},
        BadScheme{"empty", "", -1, "Невозможно открыть XML документ."},
        BadScheme{"truncated", "<scheme><node name=\"a\"", -1, "Невозможно открыть XML документ."},
        BadScheme{"noname", "<scheme><node class=\"TTestSource\"/></scheme>", -1,
                  "Не задано имя или класс узла схемы."},
        BadScheme{"noclass", "<scheme><node name=\"a\"/></scheme>", -1,
                  "Не задано имя или класс узла схемы."},
        BadScheme{"unknown", "<scheme><node name=\"x\" class=\"TNoSuch\"/></scheme>", -10,
                  "Ошибка при создании узла x класса TNoSuch"},
        BadScheme{"duplicate",
                  "<scheme><node name=\"a\" class=\"TTestSink\"/><node name=\"a\" class=\"TTestSink\"/></scheme>",
                  -12, "Ошибка при создании узла a класса TTestSink"},
        BadScheme{"nonode",
                  "<scheme>" NODE_A "<output name=\"out\"><link node=\"z\" linkpoint=\"in\"/></output></node></scheme>",
                  -6, WIRE_HEAD "\"in\" объекта \"z\"\r\n к выходу \"out\" объекта \"a\":\r\nПлагина с таким именем нет"},
        BadScheme{"noinput",
                  "<scheme>" NODE_A "<output name=\"out\"><link node=\"b\" linkpoint=\"zz\"/></output></node>"
                  "<node name=\"b\" class=\"TTestSink\"/></scheme>",
                  -7, WIRE_HEAD "\"zz\" объекта \"b\"\r\n к выходу \"out\" объекта \"a\":\r\nВхода с таким именем нет"},
        BadScheme{"nooutput",
                  "<scheme>" NODE_A "</node><node name=\"b\" class=\"TTestSink\">"
                  "<input name=\"in\"><link node=\"a\" linkpoint=\"zz\"/></input></node></scheme>",
                  -8, "Ошибка привязки выхода \"zz\" объекта \"a\"\r\nк входу \"in\" объекта \"b\":\r\nВыхода с таким именем нет"},
        BadScheme{"types",
                  "<scheme>" NODE_A "<output name=\"out\"><link node=\"b\" linkpoint=\"text\"/></output></node>"
                  "<node name=\"b\" class=\"TTestPass\"/></scheme>",
                  -9, WIRE_HEAD "\"text\" объекта \"b\"\r\n к выходу \"out\" объекта \"a\":\r\nНесовместимые типы данных"},
        BadScheme{"negativequeue",
                  "<scheme>" NODE_A "<output name=\"out\"><link node=\"b\" linkpoint=\"in\" queue=\"-5\"/></output></node>"
                  "<node name=\"b\" class=\"TTestSink\"/></scheme>",
                  -1, WIRE_HEAD "\"in\" объекта \"b\"\r\n к выходу \"out\" объекта \"a\":\r\nНеизвестная ошибка"},
        BadScheme{"hugequeue",
                  "<scheme>" NODE_A "<output name=\"out\"><link node=\"b\" linkpoint=\"in\" queue=\"2000000000\"/></output></node>"
                  "<node name=\"b\" class=\"TTestSink\"/></scheme>",
                  -1, WIRE_HEAD "\"in\" объекта \"b\"\r\n к выходу \"out\" объекта \"a\":\r\nНеизвестная ошибка"}),
    [](const ::testing::TestParamInfo<BadScheme>& info) { return std::string(info.param.name); });
