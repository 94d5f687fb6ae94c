// The markers' arithmetic on hand-computed traces: values between points,
// fixed levels, extrema with divergence, level differences, position
// limits, the auto search's candidates and statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "markers/Searches.h"

using namespace korchart;

namespace {

struct TTrace {
  std::vector<double> x, y;
  TSeriesView View() const { return {x.data(), y.data(), x.size(), 1}; }
  TLevelView Level(const TSeriesView* minus = nullptr) const { return {View(), minus}; }
};

// A peak at x = 4 (value 10), falling by 2 per unit on both sides.
const TTrace kPeak{{0, 1, 2, 3, 4, 5, 6, 7, 8}, {2, 4, 6, 8, 10, 8, 6, 4, 2}};

}  // namespace

TEST(Searches, ValuesBetweenPointsAndTheirErrors) {
  const TSeriesView s = kPeak.View();
  EXPECT_EQ(ValueAt(s, 4), 10);
  EXPECT_EQ(ValueAt(s, 4.5), 9);
  EXPECT_EQ(ValueAt(s, 0.5), 3);  // the first interval is interpolated too
  EXPECT_EQ(ValueAt(s, 8), 2);
  EXPECT_EQ(ValueAt(s, 8.5), kNoValue);
  EXPECT_EQ(ValueAt(s, -1), kNoValue);
  std::string error;
  const TTrace unordered{{0, 2, 1, 3}, {0, 0, 0, 0}};
  EXPECT_EQ(ValueAt(unordered.View(), 2.5, &error), kNoValue);
  EXPECT_EQ(error, "find_nearest_val_indexes: vector<T> не упорядочен");
  EXPECT_EQ(ValueAt(TSeriesView{}, 1, &error), kNoValue);
  EXPECT_EQ(error, "find_nearest_val_indexes: длинна vector'а равна нулю");
  // A sweep downwards reads the same values; one that turns back is not
  // ordered either way.
  const TTrace down{{8, 7, 6, 5, 4, 3, 2, 1, 0}, {2, 4, 6, 8, 10, 8, 6, 4, 2}};
  error.clear();
  EXPECT_EQ(ValueAt(down.View(), 4, &error), 10);
  EXPECT_EQ(ValueAt(down.View(), 7.5, &error), 3);
  EXPECT_EQ(ValueAt(down.View(), 0, &error), 2);
  EXPECT_EQ(ValueAt(down.View(), 8.5, &error), kNoValue);
  EXPECT_EQ(error, "");
  const TTrace turning{{3, 1, 2, 0}, {0, 0, 0, 0}};
  EXPECT_EQ(ValueAt(turning.View(), 0.5, &error), kNoValue);
  EXPECT_EQ(error, "find_nearest_val_indexes: vector<T> не упорядочен");
  // The chart's key/value pairs: every second double.
  const double pairs[] = {0, 5, 1, 7, 2, 9};
  EXPECT_EQ(ValueAt(TSeriesView{pairs, pairs + 1, 3, 2}, 1.5), 8);
}

TEST(Searches, LevelsAndExtremaWithDivergenceAndLimits) {
  const TLevelView v = kPeak.Level();
  const TSearchSpan all;
  EXPECT_EQ(SearchLevel(v, all, 7), 2.5);        // rising through 7
  EXPECT_EQ(SearchLevel(v, {3.5, 20000}, 7), 5.5);  // from 3.5 on: falling through 7
  EXPECT_EQ(SearchLevel(v, all, 11), kNotFound);  // never crossed
  EXPECT_EQ(SearchExtremum(v, all, true, 0, 1), 4);
  // Divergence 3 to the right of the peak: the trace falls below 7 between
  // x = 5 (8) and x = 6 (6), at 5.5; to the left at 2.5.
  EXPECT_EQ(SearchExtremum(v, all, true, 3, 1), 5.5);
  EXPECT_EQ(SearchExtremum(v, all, true, 3, -1), 2.5);
  // Running out of the trace or of the range gives "not found".
  EXPECT_EQ(SearchExtremum(v, all, true, 20, 1), kNotFound);
  EXPECT_EQ(SearchExtremum(v, {0, 5}, true, 3, 1), kNotFound);
  // The minimum within the limits only.
  EXPECT_EQ(SearchExtremum(v, {3, 6}, false, 0, 1), 6);
  EXPECT_EQ(SearchExtremum(v, {9, 20}, false, 0, 1), kNotFound);

  // Level difference: trace minus a second series; the shorter sets the length.
  const TTrace base{{0, 1, 2, 3, 4, 5}, {1, 1, 1, 1, 1, 1}};
  const TSeriesView minus = base.View();
  const TLevelView delta = kPeak.Level(&minus);
  EXPECT_EQ(delta.Size(), 6u);
  EXPECT_EQ(SearchExtremum(delta, all, true, 0, 1), 4);
  EXPECT_EQ(SearchLevel(delta, all, 8), 3.5);
}

TEST(Searches, AutoSearchCandidatesOnAKnownTrace) {
  // Two peaks (x = 10 and 30) with a valley (x = 20) between, flat ends.
  TTrace t;
  for (int i = 0; i <= 40; ++i) {
    t.x.push_back(i);
    t.y.push_back(10 * std::cos((i - 10) * M_PI / 10));
  }
  const TCandidates c = AutoSearchCandidates(t.View());
  ASSERT_FALSE(c.maxima.empty());
  ASSERT_FALSE(c.minima.empty());
  for (size_t k : c.maxima) EXPECT_TRUE(k == 10 || k == 30) << k;
  for (size_t k : c.minima) EXPECT_EQ(k, 20u);
  EXPECT_TRUE(AutoSearchCandidates(TTrace{{0, 1, 2}, {0, 1, 0}}.View()).maxima.empty());  // n < 4
}

TEST(Searches, Statistics) {
  TStatistics s;
  EXPECT_FALSE(s.HasValues());
  for (double v : {2.0, 4.0, 4.0, 4.0, 5.0, 5.0, 7.0, 9.0}) s.Add(v);
  EXPECT_EQ(s.min, 2);
  EXPECT_EQ(s.max, 9);
  EXPECT_EQ(s.Mean(), 5);
  EXPECT_NEAR(s.Deviation(), std::sqrt(32.0 / 7), 1e-12);
  EXPECT_EQ(s.n, 8);
  s.Reset();
  s.Add(3);
  EXPECT_FALSE(s.HasDeviation());
}

// A sorted view bisects where the plain one scans; on sorted data, repeated
// arguments and plateaus included, both must give the same answers.
TEST(Searches, BisectionOnSortedDataMatchesTheScans) {
  TTrace t;
  unsigned seed = 7;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  double x = 0;
  for (int i = 0; i < 400; ++i) {
    x += next() % 4 == 0 ? 0 : 0.5 * (1 + next() % 3);  // some arguments repeat
    t.x.push_back(x);
    t.y.push_back(next() % 5 == 0 ? 3 : std::sin(i / 9.0) * 10 + (next() % 7) * 0.1);  // plateaus at 3
  }
  TSeriesView scan = t.View();
  TSeriesView bisect = scan;
  bisect.sorted = true;
  ASSERT_TRUE(Ascending(scan));
  for (double arg = -1; arg <= x + 1; arg += 0.25) EXPECT_EQ(ValueAt(scan, arg), ValueAt(bisect, arg)) << arg;
  const TLevelView a{scan, nullptr}, b{bisect, nullptr};
  for (double lo = -2; lo < x; lo += 7.5)
    for (double hi : {lo + 3.0, lo + 40.0, x + 5}) {
      const TSearchSpan span{lo, hi};
      for (double level : {-4.0, 0.0, 3.0, 7.5}) EXPECT_EQ(SearchLevel(a, span, level), SearchLevel(b, span, level));
      for (bool maximum : {false, true})
        for (double d : {0.0, 2.5})
          for (int dir : {-1, 1})
            EXPECT_EQ(SearchExtremum(a, span, maximum, d, dir), SearchExtremum(b, span, maximum, d, dir))
                << lo << " " << hi << " " << maximum << " " << d << " " << dir;
    }
}
