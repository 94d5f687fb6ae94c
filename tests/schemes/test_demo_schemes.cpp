// The schemes the system ships, as an operator opens them after a first
// start (the configuration and the formula library in place, the
// interpreter registered): each opens, starts, runs against the simulated
// instrument, stops and closes, and nothing is said on the way. The bench
// takes sweeps into its chart and its diagram.
#include <gtest/gtest.h>

#include <QVariant>
#include <QWidget>

#include <filesystem>
#include <set>

#include "Installation.h"
#include "PluginFeed.h"
#include "SchemeRunner.h"
#include "VKXml.h"
#include "platform/Report.h"

namespace fs = std::filesystem;

TEST(DemoSchemes, EachOpensRunsAndClosesQuietly) {
  TAppFirst app;
  const std::string plugins = Installation();
  std::set<std::string> seen;
  for (const auto& entry : fs::directory_iterator(fs::path(VK_BIN_DIR) / "schemes")) {
    if (entry.path().extension() != ".vms") continue;
    const std::string name = entry.path().filename().string();
    seen.insert(name);
    SCOPED_TRACE(name);
    vkplatform::ReportCapture reports;
    {
      CSchemeRunner runner(plugins);
      ASSERT_EQ(runner.Open(entry.path().string()), 0) << (reports.Count() ? reports.Reports().back().text : "");
      fs::remove(runner.Scheme().DefaultProfileFileName());
      ASSERT_EQ(runner.Start(), 0);
      if (name == "bench.vms") {
        // Connected through the dialog's auto-connect, started by the run
        // wizard: sweeps reach the chart and the diagram.
        auto* chart = runner.Host()->findChild<QWidget*>("chart");
        auto* diagram = runner.Host()->findChild<QWidget*>("Chart");
        ASSERT_NE(chart, nullptr);
        ASSERT_NE(diagram, nullptr);
        EXPECT_TRUE(runner.RunUntil(
            [&] {
              return chart->property("sweepsTaken").toULongLong() >= 2 &&
                     diagram->property("framesTaken").toULongLong() >= 8;
            },
            20000));
      } else {
        runner.RunFor(1500);
      }
      EXPECT_EQ(runner.Stop(), 0);
      EXPECT_EQ(runner.Close(), 0);
    }
    EXPECT_EQ(reports.Count(), 0) << (reports.Count() ? reports.Reports().front().text : "");
  }
  EXPECT_EQ(seen, (std::set<std::string>{"bench.vms", "calibration.vms", "demo.vms", "logging.vms", "matrix.vms",
                                         "production.vms"}));
}

// The bench's sweep range changed ten times from its panel while it sweeps,
// after one to four of the sweep's parts, back and forth: nothing is said
// (no box from the displays or their markers), and the sweeps go on.
TEST(DemoSchemes, BenchTakesRangeChangesWhileItSweeps) {
  TAppFirst app;
  vkplatform::ReportCapture reports;
  {
    CSchemeRunner runner(Installation());
    ASSERT_EQ(runner.Open((fs::path(VK_BIN_DIR) / "schemes" / "bench.vms").string()), 0);
    fs::remove(runner.Scheme().DefaultProfileFileName());
    ASSERT_EQ(runner.Start(), 0);
    auto* diagram = runner.Host()->findChild<QWidget*>("Chart");
    CBasePlugin* sweep = nullptr;
    CBasePlugin* desk = nullptr;
    ASSERT_EQ(runner.Scheme().GetPlugin(sweep, "sweep"), 0);
    ASSERT_EQ(runner.Scheme().GetPlugin(desk, "diagram"), 0);
    ASSERT_TRUE(diagram && sweep && desk);
    auto frames = [&] { return diagram->property("framesTaken").toULongLong(); };
    auto sweeps = [&] {
      AnsiString answer;
      return desk->Query("sweeps", answer) == VKT_OK ? std::stoull(answer) : 0ull;
    };
    ASSERT_TRUE(runner.RunUntil([&] { return frames() >= 8; }, 20000));
    // A wide range and a narrow one in turn (both hold the markers' places),
    // each when a sweep has ended or after one to three of its parts.
    const double ranges[][2] = {{100, 800}, {500, 700}, {150, 850}, {480, 720}, {100, 800},
                                {500, 700}, {120, 820}, {520, 740}, {100, 800}, {500, 700}};
    for (int change = 0; change < 10; ++change) {
      SCOPED_TRACE(change);
      const auto sweep0 = sweeps();
      ASSERT_TRUE(runner.RunUntil([&] { return sweeps() > sweep0; }, 10000));
      const auto until = frames() + static_cast<unsigned>(3 - change % 4);
      ASSERT_TRUE(runner.RunUntil([&] { return frames() >= until; }, 10000));
      const double* r = ranges[change];
      VKCore::CXMLDocument state;
      ASSERT_EQ(state.OpenFromText("<parameters><element value=\"" + std::to_string(r[0]) + "\"/><element value=\"" +
                                   std::to_string(r[1]) + "\"/><element value=\"1601\"/></parameters>"),
                0);
      ASSERT_EQ(sweep->DoDeserialize(state.Root(), nullptr), 0);
      AnsiString busy;
      ASSERT_TRUE(runner.RunUntil([&] { return sweep->Query("busy", busy) == VKT_OK && busy == "0"; }, 5000));
    }
    const auto until = frames() + 12;
    EXPECT_TRUE(runner.RunUntil([&] { return frames() >= until; }, 10000));
    EXPECT_EQ(runner.Stop(), 0);
    EXPECT_EQ(runner.Close(), 0);
  }
  EXPECT_EQ(reports.Count(), 0u) << (reports.Count() ? reports.Reports().front().text : "");
}
