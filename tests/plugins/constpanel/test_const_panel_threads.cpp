// The parameter panel across threads: the hand-off of pending blocks
// between the GUI thread and the worker, and the panel in a running scheme
// with the instrument link and its simulated instrument.
#include <QComboBox>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "KorSpinEdit.h"
#include "PanelTestSupport.h"
#include "SchemeRunner.h"
#include "TestHome.h"
#include "platform/Report.h"

using namespace paneltest;
namespace fs = std::filesystem;

// The GUI thread edits as fast as it can while the worker sends: every
// block that leaves is newer than the one before (nothing sent twice, no
// deleted block sent), and the last edit always gets out.
TEST(ConstPanelThreads, PendingBlocksPassWithoutRepeatOrLoss) {
  THost host;
  TPanel p(host, R"(<parameters type="parameter" control="true" parameter="P_AVERAGING" base="4">
      <element/></parameters>)");
  p.Receive(new CDevCommand(MI_RESET));
  p.panel.Process();
  ASSERT_TRUE(p.command.Next<CDevCommand>());
  auto* edit = p.command.queue.QueueLen() == 0 ? p.Widget<TKorSpinEdit>("Edit1") : nullptr;
  ASSERT_NE(edit, nullptr);

  std::vector<double> seen;
  auto drain = [&] {
    while (auto block = p.command.Next<CDevCommand>()) seen.push_back(CDevParameter(block.get()).Value(0));
  };
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop.load()) p.panel.Process();
  });
  for (int i = 1; i <= 3000; ++i) {
    edit->SetValue(i);
    p.panel.Validate(edit);
    if (i % 7 == 0) drain();
  }
  stop = true;
  worker.join();
  p.panel.Process();
  drain();
  ASSERT_FALSE(seen.empty());
  for (size_t i = 1; i < seen.size(); ++i) ASSERT_LT(seen[i - 1], seen[i]) << i;
  EXPECT_EQ(seen.back(), 3000);
}

namespace {

std::string PluginsDir() {
  static const std::string dir = [] {
    const fs::path d = fs::path(TestHome()) / "plugins";
    fs::create_directories(d);
    for (const char* p : {"ConstPanel.so", "InstrumentLink.so"})
      fs::copy_file(fs::path(VK_PLUGINS_DIR) / p, d / p, fs::copy_options::overwrite_existing);
    return d.string();
  }();
  return dir;
}

std::string PanelScheme(const std::string& panels) {
  std::string text = "<scheme name=\"panels\"><node name=\"link\" class=\"TInstrumentLink\">"
                     "<parameters address=\"sim\" simrate=\"5\"/><output name=\"command\">";
  for (const char* name : {"avg", "power", "sync"})
    text += std::string("<link node=\"") + name + "\" linkpoint=\"command\" queue=\"16\"/>";
  text += "</output></node>" + panels + "</scheme>";
  const std::string file = TestHome() + "/panels.vms";
  std::ofstream(file) << text;
  return file;
}

std::string Panel(const char* name, const char* parameter, const char* format, const char* value) {
  return std::string("<node name=\"") + name + "\" class=\"TConstPanel\"><parameters type=\"parameter\" "
         "control=\"true\" parameter=\"" + parameter + "\" " + format + "><element value=\"" + value +
         "\"/></parameters><output name=\"command\"><link node=\"link\" linkpoint=\"command\" queue=\"16\"/>"
         "</output></node>";
}

}  // namespace

// With the simulated instrument: after its greeting the panels send their
// values; an out-of-range value comes back corrected and is shown as taken;
// a parameter the instrument does not know gives the device-error status.
TEST(ConstPanelScheme, PanelsAreConfirmedByTheSimulatedInstrument) {
  TestApp();
  vkplatform::ReportCapture cap;
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(PanelScheme(Panel("avg", "P_AVERAGING", "base=\"4\"", "5000") +
                                    Panel("power", "P_RF_OUT", "base=\"2\" fract=\"1\"", "-12.5") +
                                    Panel("sync", "P_SYNC_IN", "base=\"1\"", "1"))),
            0);
  fs::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), 0);
  auto edit = [&](const char* panel) {
    QWidget* tool = FindWinControl(runner.Host(), panel);
    return tool ? tool->findChild<TKorSpinEdit*>("Edit1") : nullptr;
  };
  ASSERT_TRUE(edit("avg") && edit("power") && edit("sync"));
  const QColor yellow(255, 255, 153);
  auto status = [&](const char* panel) {
    QWidget* button = FindWinControl(runner.Host(), panel)->findChild<QWidget*>("StatusButton");
    return button && !button->isHidden() ? button->toolTip().toStdString() : std::string();
  };
  auto confirmed = [&](const char* panel) {
    return edit(panel)->palette().color(QPalette::Base) != yellow && status(panel).empty();
  };
  EXPECT_TRUE(runner.RunUntil(
      [&] { return confirmed("avg") && confirmed("power") && !status("sync").empty(); }, 10000));
  EXPECT_EQ(edit("avg")->GetValue(), 1000);  // 5000 was beyond the instrument's range
  EXPECT_EQ(edit("power")->GetValue(), -12.5);
  EXPECT_TRUE(edit("avg")->isEnabled());
  EXPECT_EQ(status("sync"), "прибор вернул ошибку:\r\nНеизвестный параметр (параметр не поддерживается прибором)");
  EXPECT_FALSE(edit("sync")->isEnabled());
  runner.Stop();
  EXPECT_EQ(cap.Count(), 0u);
}
