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

#include "PluginFeed.h"
#include "SchemeRunner.h"
#include "TestHome.h"
#include "VKPaths.h"
#include "platform/Com.h"
#include "platform/Report.h"

namespace fs = std::filesystem;

namespace {

// What a first start of the launcher puts in place, and the packages of the
// installation with the test modules the small demo scheme uses.
std::string Installation() {
  static const std::string plugins = [] {
    const fs::path bin = VK_BIN_DIR;
    const fs::path config = GetVKDir(dirConfig);
    fs::create_directories(config);
    for (const char* file : {"config.xml", "RelationPreset.xml"})
      fs::copy_file(bin / "data" / file, config / file, fs::copy_options::overwrite_existing);
    EXPECT_TRUE(SUCCEEDED(vkplatform::ComRegisterServer((bin / "KorvanInterpreter.so").string())));
    // The schemes' "[schemes]" is the folder beside the program.
    const fs::path schemes = fs::path(GetVKDir(dirApplication)) / "schemes";
    if (!fs::exists(schemes)) fs::create_directory_symlink(bin / "schemes", schemes);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(VK_PLUGINS_DIR))
      if (entry.path().extension() == ".so") names.push_back(entry.path().filename().string());
    const std::string dir = InstalledPackages(VK_PLUGINS_DIR, {}, {"libKorvanComponents.so", "libKorChartLib.so"},
                                              TestHome());
    for (const auto& n : names) fs::copy_file(fs::path(VK_PLUGINS_DIR) / n, fs::path(dir) / n, fs::copy_options::overwrite_existing);
    for (const char* test : {"TestSource.so", "TestSink.so"})
      fs::copy_file(fs::path(VK_TEST_PLUGINS_DIR) / test, fs::path(dir) / test, fs::copy_options::overwrite_existing);
    return dir;
  }();
  return plugins;
}

}  // namespace

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
  EXPECT_EQ(seen, (std::set<std::string>{"bench.vms", "calibration.vms", "demo.vms", "matrix.vms"}));
}
