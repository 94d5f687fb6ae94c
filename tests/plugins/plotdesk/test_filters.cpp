// The trace filters against sequences computed here from their definitions:
// accumulation (holds and averaging, restarts), unit conversion (the table
// and the default by source unit), smoothing (one-sided ends, parts of a
// sweep), statistics (deviation over sweeps, the empty first sweep), the
// marker filter, the filter column, and re-filtering when a setting changes.
#include <gtest/gtest.h>

#include <QMenu>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "PacketTypes.h"
#include "PluginFeed.h"
#include "TestHome.h"
#include "filters/FilterAccumulation.h"
#include "filters/FilterMarker.h"
#include "filters/FilterQuantity.h"
#include "filters/FilterSmoothing.h"
#include "filters/FilterStat.h"
#include "platform/Report.h"
#include "qcustomplot.h"
#include "model/TraceMath.h"
#include "ui/DiagramArea.h"

using namespace plotdesk;

namespace {

// A sweep of n points through a filter in parts of `part` points from
// `from` on (wrapping round): what comes out, by index.
struct TRun {
  std::vector<double> x, y;      // out, by the offsets the filter gives
  std::vector<bool> given;
  size_t updates = 0, emptied = 0;
};

TRun Feed(CFilterBase& f, const std::vector<double>& values, size_t part, size_t from = 0, bool changed = false) {
  const size_t n = values.size();
  TRun r;
  r.x.assign(n, NAN);
  r.y.assign(n, NAN);
  r.given.assign(n, false);
  std::vector<double> xs(n);
  std::iota(xs.begin(), xs.end(), 100.0);
  for (size_t done = 0; done < n;) {
    const size_t offset = (from + done) % n;
    const size_t count = std::min(part, n - offset);
    TTraceUpdate u{changed && done == 0, n, offset, count, xs.data() + offset, values.data() + offset};
    f.Apply(u);
    ++r.updates;
    if (u.count == 0) ++r.emptied;
    for (size_t i = 0; i < u.count && u.offset + i < n; ++i) {
      r.x[u.offset + i] = u.x[i];
      r.y[u.offset + i] = u.y[i];
      r.given[u.offset + i] = true;
    }
    done += count;
  }
  return r;
}

std::vector<double> Sweep(size_t n, double seed) {
  std::vector<double> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = std::sin(seed * 1.7 + i * 0.3) * 10 + seed;
  return v;
}

}  // namespace

TEST(FilterAccumulation, HoldsAverageAndStartAgainWhereTheRestartBegan) {
  const size_t n = 12;
  CFilterAccumulation f(nullptr);
  EXPECT_EQ(f.Tag(), "");
  f.SetMode(CFilterAccumulation::Minimum);
  EXPECT_EQ(f.Tag(), "Мин");
  // The first sweep passes unchanged and seeds; then minimum holding.
  const auto a = Sweep(n, 1), b = Sweep(n, 2), c = Sweep(n, 3);
  EXPECT_EQ(Feed(f, a, 5).y, a);
  TRun r = Feed(f, b, 5);
  for (size_t i = 0; i < n; ++i) EXPECT_DOUBLE_EQ(r.y[i], std::min(a[i], b[i])) << i;
  r = Feed(f, c, 7);
  for (size_t i = 0; i < n; ++i) EXPECT_DOUBLE_EQ(r.y[i], std::min({a[i], b[i], c[i]})) << i;
  // A sweep that starts again at 4: unchanged until the data are back at 4.
  r = Feed(f, b, 4, 4, true);
  EXPECT_EQ(r.y, b);
  r = Feed(f, a, 4, 4);
  for (size_t i = 0; i < n; ++i) EXPECT_DOUBLE_EQ(r.y[i], std::min(a[i], b[i])) << i;

  f.SetMode(CFilterAccumulation::Maximum);
  EXPECT_EQ(f.Tag(), "Мкс");
  Feed(f, a, 3);  // buffers of another mode's sweeps are held on: max of a and what was held
  // Averaging: K = 2^(n-1); v = ((K-1) b + y) / K from the first sweep's seed.
  ASSERT_TRUE(f.SetDegree(3));
  EXPECT_EQ(f.Tag(), "Ср3");
  EXPECT_DOUBLE_EQ(f.Factor(), 4);
  Feed(f, a, n, 0, true);  // restart: seeds with a
  std::vector<double> avg = a;
  for (const auto& s : {b, c, a}) {
    r = Feed(f, s, 5);
    for (size_t i = 0; i < n; ++i) {
      avg[i] = (3 * avg[i] + s[i]) / 4;
      EXPECT_NEAR(r.y[i], avg[i], 1e-12) << i;
    }
  }
  // Degree 1 is no averaging at all; degrees outside 1..32 change nothing.
  ASSERT_TRUE(f.SetDegree(1));
  EXPECT_EQ(Feed(f, b, 5).y, b);
  EXPECT_FALSE(f.SetDegree(0));
  EXPECT_FALSE(f.SetDegree(33));
  EXPECT_EQ(f.Degree(), 1);
  ASSERT_TRUE(f.SetDegree(32));
  EXPECT_DOUBLE_EQ(f.Factor(), 2147483648.0);
  // Another sweep size restarts (and passes unchanged).
  const auto longer = Sweep(20, 4);
  EXPECT_EQ(Feed(f, longer, 6).y, longer);
  f.SetMode(CFilterAccumulation::Off);
  EXPECT_EQ(Feed(f, c, 5).y, c);
}

TEST(FilterQuantity, TheConversionsAsWritten) {
  const double k = 1.0 / 290;
  struct {
    int number;
    const char* from;
    const char* to;
    double in, out;
  } rows[] = {
      {1, "дБ", "раз", 3, std::pow(10, 0.3)},
      {2, "дБ", "К", 3, (std::pow(10, 0.3) - 1) * 290},
      {3, "раз", "дБ", -100, 20},
      {3, "раз", "дБ", 0, -1000},
      {4, "раз", "К", 2, 290},
      {5, "К", "раз", 580, 3},
      {6, "К", "дБ", 290, 10 * std::log10(2.0)},
      {6, "К", "дБ", -290, -110},
      {7, "дБм", "мВт", 20, 100},
      {8, "мВт", "дБм", 100, 20},
      {9, "мВт", "дБВт", 100, -10},
      {10, "мВт", "дБмВ", 10, 20 * std::log10(0.1 * std::sqrt(0.01)) + 60},
      {11, "мВт", "дБВ", 10, 20 * std::log10(0.1 * std::sqrt(0.01))},
      {12, "мВт", "Вт", 1500, 1.5},
      {13, "мВт", "В", 10, 0.1 * std::sqrt(0.01)},
      {14, "мВт", "мВ", 10, 100 * std::sqrt(0.01)},
      {13, "мВт", "В", -5, 0.1 * std::sqrt(1e-100)},
  };
  (void)k;
  CFilterQuantity f(nullptr);
  for (const auto& r : rows) {
    EXPECT_STREQ(Conversion(r.number).from, r.from);
    EXPECT_STREQ(Conversion(r.number).to, r.to);
    f.SetConversion(r.number);
    double x = 0, y = r.in;
    TTraceUpdate u{false, 1, 0, 1, &x, &y};
    f.Apply(u);
    EXPECT_NEAR(u.y[0], r.out, 1e-9 * std::max(1.0, std::fabs(r.out))) << r.number << " " << r.in;
    EXPECT_EQ(u.x, &x);  // arguments untouched
  }
  EXPECT_EQ(ConversionsFrom("мВт"), (std::vector<int>{8, 9, 10, 11, 12, 13, 14}));
  EXPECT_TRUE(ConversionsFrom("Гц").empty());
  EXPECT_EQ(f.Tag(), "");
}

TEST(FilterSmoothing, CentredWindowsOneSidedEndsAndPartsOfASweep) {
  EXPECT_EQ(SmoothingWindow(101, 5), 5u);  // 5.05 -> 5
  EXPECT_EQ(SmoothingWindow(100, 4), 5u);  // 4 -> odd 5
  EXPECT_EQ(SmoothingWindow(101, 0), 1u);
  const size_t n = 101;
  const auto v = Sweep(n, 7);
  // Point i: the mean of the points within h of it that exist.
  const size_t h = 2;
  std::vector<double> expected(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t lo = i >= h ? i - h : 0, hi = std::min(n - 1, i + h);
    expected[i] = std::accumulate(v.begin() + lo, v.begin() + hi + 1, 0.0) / (hi - lo + 1);
  }
  CFilterSmoothing f(nullptr);
  EXPECT_EQ(Feed(f, v, n).y, v);  // off: nothing changes
  f.SetPercent(5);
  EXPECT_EQ(f.Tag(), "Сгл5");
  for (size_t part : {n, size_t{30}, size_t{7}, size_t{1}}) {
    const TRun r = Feed(f, v, part);
    for (size_t i = 0; i < n; ++i) {
      ASSERT_TRUE(r.given[i]) << part << " " << i;
      EXPECT_NEAR(r.y[i], expected[i], 1e-9) << part << " " << i;
      EXPECT_DOUBLE_EQ(r.x[i], 100.0 + i);
    }
  }
  // A sweep that starts again in the middle is smoothed from there.
  const TRun r = Feed(f, v, 20, 40, true);
  EXPECT_NEAR(r.y[40], (v[40] + v[41] + v[42]) / 3, 1e-9);
  EXPECT_NEAR(r.y[60], (v[58] + v[59] + v[60] + v[61] + v[62]) / 5, 1e-9);
  // A value that is no number spoils the windows it is in, and only those.
  std::vector<double> gap = v;
  gap[50] = NAN;
  const TRun g = Feed(f, gap, 13);
  for (size_t i = 46; i <= 54; ++i) {
    if (i >= 48 && i <= 52) EXPECT_TRUE(std::isnan(g.y[i])) << i;
    else EXPECT_NEAR(g.y[i], expected[i], 1e-9) << i;
  }
  f.SetPercent(2.5);
  EXPECT_EQ(f.Tag(), "Сгл2.5");
  // 0 % is a window of one point; more than 30 % is 30 %.
  f.SetPercent(0);
  EXPECT_EQ(Feed(f, v, 9).y, v);
  f.SetPercent(80);
  EXPECT_DOUBLE_EQ(f.Percent(), 30);
}

TEST(FilterStat, DeviationOverSweepsAfterAnEmptyFirstSweep) {
  const size_t n = 10;
  CFilterStat f(nullptr);
  f.SetMode(CFilterStat::Deviation);
  EXPECT_EQ(f.Tag(), "СКО");
  std::vector<std::vector<double>> sweeps;
  for (int s = 0; s < 5; ++s) sweeps.push_back(Sweep(n, s));
  TRun r = Feed(f, sweeps[0], 4);
  EXPECT_EQ(r.emptied, r.updates);  // nothing shown during the first sweep
  for (int s = 1; s < 5; ++s) {
    r = Feed(f, sweeps[static_cast<size_t>(s)], 4);
    EXPECT_EQ(f.Sweeps(), s + 1);
    for (size_t i = 0; i < n; ++i) {
      // The sample deviation of point i over sweeps 0..s, two passes.
      double mean = 0;
      for (int k = 0; k <= s; ++k) mean += sweeps[static_cast<size_t>(k)][i];
      mean /= s + 1;
      double ss = 0;
      for (int k = 0; k <= s; ++k) ss += std::pow(sweeps[static_cast<size_t>(k)][i] - mean, 2);
      EXPECT_NEAR(r.y[i], std::sqrt(ss / s), 1e-9) << s << " " << i;
    }
  }
  // Another size starts again: empty again.
  r = Feed(f, Sweep(6, 1), 6);
  EXPECT_EQ(r.emptied, r.updates);
  f.SetMode(CFilterStat::Off);
  EXPECT_EQ(Feed(f, sweeps[1], 4).y, sweeps[1]);
}

TEST(FilterChain, MarkerFilterTagsAndRefilterOnASetting) {
  CFilterMarker marker(nullptr);
  Feed(marker, Sweep(10, 1), 3);
  EXPECT_EQ(marker.Sweeps(), 1u);
  auto chain = MakeFilterChain(nullptr);
  static_cast<CFilterAccumulation*>(chain[0].get())->SetDegree(5);
  static_cast<CFilterSmoothing*>(chain[2].get())->SetPercent(5);
  EXPECT_EQ(FilterTags(chain), "  Сгл5  Ср5");

  // On a trace: a setting re-filters the stored sweep at once, and the
  // list's column shows the tags.
  TAppFirst app;
  QWidget host;
  CDiagramArea area(&host, true);
  CChannel channel("К", "дБ", "МГц");
  area.AddChannel(&channel);
  CTraceData* t = area.CreateDataTrace(&channel);
  const auto v = Sweep(21, 3);
  std::vector<double> x(21);
  std::iota(x.begin(), x.end(), 0.0);
  channel.SetArraySize(21);
  channel.Deliver(0, 21, x.data(), v.data());
  static_cast<CFilterSmoothing*>(t->Filter(2))->SetPercent(10);  // W = 3
  EXPECT_NEAR(t->PointValue(5), (v[4] + v[5] + v[6]) / 3, 1e-9);
  EXPECT_EQ(area.Row(0)->text(CDiagramArea::colFilters), "  Сгл10  ");
  static_cast<CFilterSmoothing*>(t->Filter(2))->SetOn(false);
  EXPECT_DOUBLE_EQ(t->PointValue(5), v[5]);
}

TEST(FilterQuantity, AMilliwattChannelIsShownInDecibels) {
  vkplatform::ReportCapture reports;
  TAppFirst app;
  QWidget host;
  CDiagramArea area(&host, true);
  CChannel mw("Мощность", "мВт", "МГц"), ratio("К", "раз", "МГц"), db("Д", "дБ", "МГц");
  area.AddChannel(&mw);
  area.AddChannel(&ratio);
  area.AddChannel(&db);
  CTraceData* t = area.CreateDataTrace(&mw);
  EXPECT_EQ(t->DisplayedUnit(), "дБм");
  EXPECT_TRUE(area.Row(0)->text(CDiagramArea::colReference).endsWith("дБм"));
  std::vector<double> x{1, 2}, y{100, 1};
  mw.SetArraySize(2);
  mw.Deliver(0, 2, x.data(), y.data());
  EXPECT_DOUBLE_EQ(t->PointValue(0), 20);
  // The memory copy keeps the shown values (no second conversion).
  CTraceStatic* m = area.Memorize();
  ASSERT_NE(m, nullptr);
  EXPECT_DOUBLE_EQ(m->PointValue(0), 20);
  EXPECT_EQ(m->DisplayedUnit(), "дБм");
  // Another channel: the conversion follows its unit.
  t->AttachToChannel(&ratio);
  EXPECT_EQ(t->DisplayedUnit(), "дБ");
  t->AttachToChannel(&db);
  EXPECT_EQ(t->DisplayedUnit(), "дБ");
  auto* q = static_cast<CFilterQuantity*>(t->Filter(1));
  EXPECT_EQ(q->Number(), 0);
  // The menu offers the source unit and what it converts to.
  QMenu menu;
  q->BuildMenu(&menu);
  QMenu* units = menu.findChild<QMenu*>("FilterQuantity");
  ASSERT_NE(units, nullptr);
  QStringList captions;
  for (QAction* a : units->actions()) captions << a->text();
  EXPECT_EQ(captions, (QStringList{"дБ", "раз", "К"}));
  units->actions().at(2)->trigger();
  EXPECT_EQ(t->DisplayedUnit(), "К");
  // The markers' labels read the unit the trace shows.
  EXPECT_EQ(t->Series()->property("units").toString(), "К");
  // A memory trace offers no accumulation and no statistics.
  QMenu memoryMenu;
  m->BuildMenu(&memoryMenu);
  EXPECT_EQ(memoryMenu.findChild<QMenu*>("FilterAccumulation"), nullptr);
  EXPECT_EQ(memoryMenu.findChild<QMenu*>("FilterStat"), nullptr);
  EXPECT_NE(memoryMenu.findChild<QMenu*>("FilterSmoothing"), nullptr);
}

// Copies, results and files of traces whose channel converts: the values
// are converted once, as shown, and a saved memory loads back as it was.
TEST(FilterQuantity, CopiesResultsAndFilesAreConvertedOnce) {
  vkplatform::ReportCapture reports;
  TAppFirst app;
  QWidget host;
  CDiagramArea area(&host, true);
  CChannel mw("Мощность", "мВт", "МГц");
  area.AddChannel(&mw);
  CTraceData* a = area.CreateDataTrace(&mw);
  CTraceData* b = area.CreateDataTrace(&mw);
  std::vector<double> x{1, 2}, y{100, 10};
  mw.SetArraySize(2);
  mw.Deliver(0, 2, x.data(), y.data());
  ASSERT_DOUBLE_EQ(a->PointValue(0), 20);
  // A difference of two dBm traces is in dB, their mean in dBm (neither
  // converted again).
  CTraceMath* diff = area.CreateMathTrace();
  diff->SetOperand(1, a);
  diff->SetOperand(2, b);
  EXPECT_EQ(diff->DisplayedUnit(), "дБ");
  EXPECT_TRUE(area.Row(area.IndexOf(diff))->text(CDiagramArea::colScale).endsWith(" дБ"));
  EXPECT_DOUBLE_EQ(diff->PointValue(1), 0);
  diff->SetOperation(2);
  EXPECT_EQ(diff->DisplayedUnit(), "дБм");
  EXPECT_DOUBLE_EQ(diff->PointValue(0), 20);
  diff->SetOperation(3);
  EXPECT_EQ(diff->DisplayedUnit(), "раз");
  EXPECT_DOUBLE_EQ(diff->PointValue(0), 1);
  // The operator shows a trace in its own unit: the copy shows the same.
  area.Select(area.IndexOf(a));
  static_cast<CFilterQuantity*>(a->Filter(1))->SetConversion(0);
  ASSERT_DOUBLE_EQ(a->PointValue(0), 100);
  CTraceStatic* copy = area.Memorize();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->DisplayedUnit(), "мВт");
  EXPECT_DOUBLE_EQ(copy->PointValue(0), 100);
  // A memory trace on the channel converts like it; saved and loaded again
  // it shows what it showed.
  CTraceStatic* m = area.CreateMemoryTrace(&mw);
  m->SetPoints({1, 2}, {1000, 1});
  ASSERT_DOUBLE_EQ(m->PointValue(0), 30);
  const std::string file = TestHome() + "/mw.trc";
  ASSERT_EQ(m->SaveToFile(file), 0);
  CTraceStatic* again = area.CreateMemoryTrace(&mw);
  ASSERT_EQ(again->LoadFromFile(file), 0);
  EXPECT_DOUBLE_EQ(again->PointValue(0), 30);
  EXPECT_DOUBLE_EQ(again->PointValue(1), 0);
}

// Values far larger than their neighbours: each window is the mean of what
// it holds, and the windows after a large value has left are as exact as
// if it had never come (a running sum kept the large value's rounding, or
// stayed infinite after two values whose sum no double holds).
TEST(FilterSmoothing, LargeValuesLeaveTheWindowsExact) {
  const size_t n = 101, h = 2;  // 5 %: W = 5
  std::vector<double> v = Sweep(n, 3);
  v[20] = 1e20;
  v[50] = v[51] = 1.7e308;
  v[75] = -1e300;
  std::vector<double> expected(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t lo = i >= h ? i - h : 0, hi = std::min(n - 1, i + h);
    long double sum = 0;
    for (size_t k = lo; k <= hi; ++k) sum += v[k];
    expected[i] = static_cast<double>(sum / (hi - lo + 1));
  }
  CFilterSmoothing f(nullptr);
  f.SetPercent(5);
  for (size_t part : {n, size_t{7}, size_t{1}}) {
    const TRun r = Feed(f, v, part);
    for (size_t i = 0; i < n; ++i) {
      ASSERT_TRUE(r.given[i]) << part << " " << i;
      EXPECT_NEAR(r.y[i], expected[i], 1e-12 * std::max(1.0, std::fabs(expected[i]))) << part << " " << i;
    }
  }
}

// The deviation of a point over sweeps whatever its mean: a small spread
// about a large level (the difference of two large sums took its digits),
// and levels whose squares no double holds, above and below.
TEST(FilterStat, DeviationsOfLargeAndTinyLevels) {
  const std::vector<double> levels{1e9, -3e12, 1e200, 1e-200, 5};
  const std::vector<double> spreads{1e-3, 0.25, 1e199, 1e-201, 0};
  const size_t n = levels.size();
  const int count = 7;
  std::vector<std::vector<double>> sweeps;
  for (int s = 0; s < count; ++s) {
    std::vector<double> y(n);
    for (size_t i = 0; i < n; ++i) y[i] = levels[i] + spreads[i] * ((s * 5) % 3);
    sweeps.push_back(y);
  }
  CFilterStat f(nullptr);
  f.SetMode(CFilterStat::Deviation);
  TRun r;
  for (const auto& y : sweeps) r = Feed(f, y, 2);
  for (size_t i = 0; i < n; ++i) {
    long double mean = 0, ss = 0;
    for (const auto& y : sweeps) mean += y[i];
    mean /= count;
    for (const auto& y : sweeps) ss += (y[i] - mean) * (y[i] - mean);
    const double expected = static_cast<double>(std::sqrt(ss / (count - 1)));
    // Within what the level's own rounding leaves of the spread.
    EXPECT_NEAR(r.y[i], expected, 1e-9 * expected + 1e-15 * std::fabs(levels[i])) << i;
  }
}

// A memory trace saves what it shows: its points after its filters, in its
// displayed unit; a memory trace that loads the file shows the same.
TEST(FilterQuantity, ASavedTraceHoldsWhatWasShown) {
  vkplatform::ReportCapture reports;
  TAppFirst app;
  QWidget host;
  CDiagramArea area(&host, true);
  CChannel mw("Мощность", "мВт", "МГц");
  area.AddChannel(&mw);
  CTraceStatic* m = area.CreateMemoryTrace(&mw);
  std::vector<double> x(21), y(21);
  for (size_t i = 0; i < x.size(); ++i) {
    x[i] = 100.0 + static_cast<double>(i);
    y[i] = 1 + static_cast<double>(i * i);
  }
  m->SetPoints(x, y);
  static_cast<CFilterSmoothing*>(m->Filter(2))->SetPercent(10);
  ASSERT_EQ(m->DisplayedUnit(), "дБм");
  const std::string file = TestHome() + "/shown.trc";
  ASSERT_EQ(m->SaveToFile(file), 0);
  CDoubleMatrix saved;
  ASSERT_EQ(saved.LoadFromFile(file), 0);
  ASSERT_EQ(saved.Column(1)->Size(), 21u);
  for (unsigned i = 0; i < 21; ++i) {
    EXPECT_DOUBLE_EQ(saved.Column(0)->Data()[i], x[i]);
    EXPECT_NEAR(saved.Column(1)->Data()[i], m->PointValue(i), 1e-9) << i;
  }
  CTraceStatic* again = area.CreateMemoryTrace(&mw);
  ASSERT_EQ(again->LoadFromFile(file), 0);
  EXPECT_EQ(again->DisplayedUnit(), "дБм");
  ASSERT_EQ(again->PointCount(), 21u);
  for (size_t i = 0; i < 21; ++i) EXPECT_NEAR(again->PointValue(i), m->PointValue(i), 1e-9) << i;
  EXPECT_EQ(reports.Count(), 0u);
}
