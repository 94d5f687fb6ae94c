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
  EXPECT_EQ(seen, (std::set<std::string>{"bench.vms", "calibration.vms", "demo.vms", "logging.vms", "matrix.vms"}));
}
