#pragma once
// Shared by the results store's tests: the Qt application the SQL drivers
// need, results to store, helper processes, and the test server's facts.
#include <gtest/gtest.h>

#include "Result.h"
#include "ResultStore.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vkresults_test {

inline QCoreApplication* ResultsApp() {
  static int argc = 1;
  static char name[] = "vk_results_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  return app;
}

// A full result: two limits and three readings (one without a value), names
// in Russian.
inline vkresults::TResult MakeResult(const std::string& serial, bool pass, const std::string& timeUtc) {
  vkresults::TResult r;
  r.id = vkresults::NewResultId();
  r.serial = serial;
  r.operatorName = "Иванова А. П.";
  r.bench = "стенд-3";
  r.scheme = "Фильтр ФНЧ 10 МГц";
  r.timeUtc = timeUtc;
  r.pass = pass;
  r.seconds = 12.625;
  r.limits = {{"Затухание в полосе", true, 0.75, 9.5e6}, {"Подавление", pass, pass ? 3.5 : -1.25, 2.1e7}};
  r.readings = {{"Затухание", -0.42, true, "дБ"}, {"Частота среза", 10.03e6, true, "Гц"}, {"КСВН", 0, false, ""}};
  r.report = "/srv/отчёты/" + serial + ".pdf";
  return r;
}

#ifdef VK_RESULTS_HELPER
// Runs the helper program with the arguments, `count` copies at once; true
// when every copy exited 0.
inline bool RunHelpersAtOnce(int count, const QStringList& args, std::string* output) {
  std::vector<QProcess*> procs;
  for (int i = 0; i < count; ++i) {
    auto* p = new QProcess;
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->start(QStringLiteral(VK_RESULTS_HELPER), args);
    procs.push_back(p);
  }
  bool ok = true;
  for (QProcess* p : procs) {
    if (!p->waitForFinished(60000) || p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0) ok = false;
    *output += p->readAll().toStdString();
    delete p;
  }
  return ok;
}
#endif

// ids of the results whose serial contains `tag`, with how often each is there.
inline std::map<std::string, int> IdsWithTag(vkresults::IResultStore& store, const std::string& tag) {
  std::map<std::string, int> ids;
  for (const auto& r : store.Latest(100000, tag)) ids[r.id]++;
  return ids;
}

// Every field of `a` as `b` has it.
inline void ExpectSame(const vkresults::TResult& a, const vkresults::TResult& b) {
  EXPECT_EQ(a.id, b.id);
  EXPECT_EQ(a.serial, b.serial);
  EXPECT_EQ(a.operatorName, b.operatorName);
  EXPECT_EQ(a.bench, b.bench);
  EXPECT_EQ(a.scheme, b.scheme);
  EXPECT_EQ(a.timeUtc, b.timeUtc);
  EXPECT_EQ(a.pass, b.pass);
  EXPECT_DOUBLE_EQ(a.seconds, b.seconds);
  EXPECT_EQ(a.report, b.report);
  ASSERT_EQ(a.limits.size(), b.limits.size());
  for (size_t i = 0; i < a.limits.size(); ++i) {
    EXPECT_EQ(a.limits[i].name, b.limits[i].name);
    EXPECT_EQ(a.limits[i].pass, b.limits[i].pass);
    EXPECT_DOUBLE_EQ(a.limits[i].worstMargin, b.limits[i].worstMargin);
    EXPECT_DOUBLE_EQ(a.limits[i].argument, b.limits[i].argument);
  }
  ASSERT_EQ(a.readings.size(), b.readings.size());
  for (size_t i = 0; i < a.readings.size(); ++i) {
    EXPECT_EQ(a.readings[i].name, b.readings[i].name);
    EXPECT_EQ(a.readings[i].hasValue, b.readings[i].hasValue);
    EXPECT_DOUBLE_EQ(a.readings[i].value, b.readings[i].value);
    EXPECT_EQ(a.readings[i].unit, b.readings[i].unit);
  }
}

}  // namespace vkresults_test
