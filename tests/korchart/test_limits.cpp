// Limit lines: verdicts and margins of sweeps (ascending, descending and
// unordered arguments, sloped and overlapping segments, points without a
// value), readings with a minimum and a maximum, and the CSV and state files.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "VKXml.h"
#include "limits/LimitLines.h"

using namespace korchart;

namespace {

// A pass band: at most -40 from 100 to 190 and from 800 (upper), at least
// -3 between 550 and 650 (lower), and an upper line sloping from 0 at 400
// to -10 at 200 (written backwards: its start after its stop).
TLimitLines Mask() {
  TLimitLines l;
  l.enabled = true;
  l.upper = {{100, 190, -40, -40}, {800, 1000, -40, -40}, {400, 200, 0, -10}};
  l.lower = {{550, 650, -3, -3}};
  return l;
}

}  // namespace

TEST(LimitLines, VerdictWorstMarginAndWhereItIs) {
  std::vector<double> x, y;
  for (int i = 0; i <= 900; ++i) {
    x.push_back(100 + i);
    const double d = (x.back() - 600) / 100;
    y.push_back(-60 * (1 - std::exp(-d * d)) - 1);  // -1 at 600, about -60 far off
  }
  std::vector<uint8_t> mask;
  TLimitVerdict v = JudgeTrace(x.data(), y.data(), x.size(), Mask(), &mask);
  EXPECT_TRUE(v.judged);
  // The band's edges at 550 and 650 are -1 - 60 (1 - e^-0.25) = -14.3: below -3.
  EXPECT_FALSE(v.pass);
  EXPECT_GT(v.failing, 0u);
  EXPECT_EQ(mask.size(), x.size());
  EXPECT_EQ(static_cast<size_t>(std::count(mask.begin(), mask.end(), 1)), v.failing);
  EXPECT_NEAR(v.worstMargin, y[450] + 3, 1e-9);  // at 550 (and 650): the band's edge
  EXPECT_TRUE(v.argument == 550 || v.argument == 650) << v.argument;
  EXPECT_EQ(mask[500], 0);  // 600: inside the band
  EXPECT_EQ(mask[450], 1);

  // The same sweep backwards, and shuffled, gives the same verdict.
  for (int order = 0; order < 2; ++order) {
    std::vector<size_t> idx(x.size());
    for (size_t i = 0; i < idx.size(); ++i) idx[i] = order == 0 ? idx.size() - 1 - i : i;
    if (order == 1) std::shuffle(idx.begin(), idx.end(), std::mt19937(7));
    std::vector<double> xs, ys;
    for (size_t i : idx) {
      xs.push_back(x[i]);
      ys.push_back(y[i]);
    }
    TLimitVerdict w = JudgeTrace(xs.data(), ys.data(), xs.size(), Mask());
    EXPECT_EQ(w.failing, v.failing);
    EXPECT_EQ(w.worstMargin, v.worstMargin);
  }

  // On the line passes; the sloped line is read at the point's argument.
  const double onLine[] = {300}, level[] = {-5};
  TLimitVerdict s = JudgeTrace(onLine, level, 1, Mask());
  EXPECT_TRUE(s.pass);
  EXPECT_EQ(s.worstMargin, 0);
  const double above[] = {-4.5};
  EXPECT_FALSE(JudgeTrace(onLine, above, 1, Mask()).pass);
}

TEST(LimitLines, PointsOutsideEveryRangeAndPointsWithoutAValue) {
  TLimitLines l = Mask();
  const double x[] = {50, 1100}, y[] = {100, 100};
  TLimitVerdict v = JudgeTrace(x, y, 2, l);
  EXPECT_FALSE(v.judged);
  EXPECT_TRUE(v.pass);
  const double x2[] = {600, 601}, y2[] = {NAN, 0};
  v = JudgeTrace(x2, y2, 2, l);
  EXPECT_FALSE(v.pass);
  EXPECT_EQ(v.failing, 1u);
  EXPECT_EQ(v.argument, 600);
  EXPECT_TRUE(std::isinf(v.worstMargin) && v.worstMargin < 0);
  // No points, no arrays: nothing judged, nothing read.
  EXPECT_FALSE(JudgeTrace(nullptr, nullptr, 0, l).judged);
}

TEST(LimitLines, ReadingsAndTheDisplaysVerdict) {
  TValueLimits band{true, true, true, 95, 105};
  TLimitVerdict a = JudgeValue(99.7, true, band);
  EXPECT_TRUE(a.pass);
  EXPECT_NEAR(a.worstMargin, 4.7, 1e-12);
  TLimitVerdict b = JudgeValue(106, true, band);
  EXPECT_FALSE(b.pass);
  EXPECT_NEAR(b.worstMargin, -1, 1e-12);
  EXPECT_FALSE(JudgeValue(100, false, band).pass);  // a marker that found nothing
  TValueLimits onlyMin{true, true, false, -3, 0};
  EXPECT_TRUE(JudgeValue(1e9, true, onlyMin).pass);
  EXPECT_FALSE(JudgeValue(1, true, TValueLimits()).judged);

  TLimitVerdict whole;
  Combine(whole, TLimitVerdict());  // an unjudged part changes nothing
  EXPECT_FALSE(whole.judged);
  Combine(whole, a);
  EXPECT_TRUE(whole.pass);
  Combine(whole, b);
  EXPECT_FALSE(whole.pass);
  EXPECT_NEAR(whole.worstMargin, -1, 1e-12);
  EXPECT_EQ(whole.argument, 106);
}

TEST(LimitLines, CsvAndStateKeepEveryDigit) {
  TLimitLines l = Mask();
  l.upper.push_back({0.1, 1e9 / 3, -1.0 / 3, 2.5e-7});
  TLimitLines back;
  std::string error;
  ASSERT_TRUE(LimitsFromCsv(LimitsToCsv(l), back, error)) << error;
  EXPECT_EQ(back.upper, l.upper);
  EXPECT_EQ(back.lower, l.lower);

  // Semicolons with decimal commas, quotes, a byte-order mark, blank lines.
  ASSERT_TRUE(LimitsFromCsv("\xEF\xBB\xBFГраница;Начало;Конец;Ур1;Ур2\r\n\r\n\"нижняя\"; 1,5 ;2;-3,25;-3\n", back, error))
      << error;
  ASSERT_EQ(back.lower.size(), 1u);
  EXPECT_EQ(back.lower[0], (TLimitSegment{1.5, 2, -3.25, -3}));
  EXPECT_TRUE(back.upper.empty());

  // A bad file says the line and changes nothing.
  const TLimitLines before = back;
  for (const char* bad : {"верхняя,1,2,3\n", "верхняя,1,2,x,4\n", "h\nпоперечная,1,2,3,4\n", "верхняя,1,2,inf,4\n",
                          "средняя;1;2;3;4\n"}) {
    EXPECT_FALSE(LimitsFromCsv(bad, back, error)) << bad;
    EXPECT_NE(error.find("Строка"), std::string::npos) << error;
    EXPECT_EQ(back, before);
  }

  VKCore::CXMLDocument doc(false);
  doc.New("parameters");
  SaveLimits(doc.Root(), l);
  TValueLimits band{true, true, false, 95, 0};
  SaveValueLimits(doc.Root(), band);
  TLimitLines loaded;
  ASSERT_TRUE(LoadLimits(doc.Root(), loaded));
  EXPECT_EQ(loaded, l);
  TValueLimits loadedBand;
  LoadValueLimits(doc.Root(), loadedBand);
  EXPECT_EQ(loadedBand, band);
  // Garbage segments are left out; no element, nothing changes.
  VKCore::CXMLDocument garbage(false);
  ASSERT_EQ(garbage.OpenFromText("<p><limits><upper start=\"1\" stop=\"x\" startlevel=\"0\" stoplevel=\"0\"/>"
                            "<lower start=\"1\" stop=\"2\" startlevel=\"0\" stoplevel=\"0\"/></limits></p>"),
            0);
  ASSERT_TRUE(LoadLimits(garbage.Root(), loaded));
  EXPECT_TRUE(loaded.upper.empty());
  EXPECT_EQ(loaded.lower.size(), 1u);
  EXPECT_TRUE(loaded.enabled);
  EXPECT_FALSE(LoadLimits(nullptr, loaded));
}
