// The diagram's arithmetic: ranges, auto scale, the sweep bookkeeping of a
// trace, trace names and the math operations.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/TraceMaths.h"

using namespace plotdesk;

TEST(TraceMaths, RangesReferenceAndScale) {
  // Reference 0 at the middle division with 10 per division.
  TDisplayRange r = RangeFromReference(0, 10, 5);
  EXPECT_DOUBLE_EQ(r.bottom, -50);
  EXPECT_DOUBLE_EQ(r.top, 50);
  // At the top division the reference is the top; back again.
  r = RangeFromReference(-3, 2, 0);
  EXPECT_DOUBLE_EQ(r.top, -3);
  EXPECT_DOUBLE_EQ(r.bottom, -23);
  EXPECT_DOUBLE_EQ(ReferenceLevel(r, 0), -3);
  EXPECT_DOUBLE_EQ(ScalePerDivision(r), 2);
  // Scales below the smallest count as the smallest.
  r = RangeFromReference(1, 0.001, 10);
  EXPECT_NEAR(ScalePerDivision(r), kMinScale, 1e-12);
  // A range narrower than 0.1 is widened around its centre; a wide one stays.
  r = WidenRange({1.0, 1.02});
  EXPECT_DOUBLE_EQ(r.bottom, 0.96);
  EXPECT_DOUBLE_EQ(r.top, 1.06);
  EXPECT_EQ(WidenRange({-5, 5}), (TDisplayRange{-5, 5}));
  EXPECT_EQ(ClampPosition(12.7), 10);
  EXPECT_EQ(ClampPosition(-1), 0);
  EXPECT_EQ(ClampPosition(3.9), 3);
}

TEST(TraceMaths, AutoScaleFindsRoundStepsAndCentres) {
  // 0..1: step 0.104 rounds up to 1; the centre 0.5 may be 0.
  auto s = AutoScale(0, 1, 5);
  ASSERT_TRUE(s);
  EXPECT_DOUBLE_EQ(s->scale, 1);
  EXPECT_DOUBLE_EQ(s->reference, 0);
  s = AutoScale(0, 1, 0);
  EXPECT_DOUBLE_EQ(s->reference, 5);
  // The exact pair -1000/-1000 ("no value") gives step 1 around 0.
  s = AutoScale(-1000, -1000, 5);
  EXPECT_DOUBLE_EQ(s->scale, 1);
  EXPECT_DOUBLE_EQ(s->reference, 0);
  // A trace from -80 to -1: every value stays within the ten divisions.
  for (double p : {0.0, 3.0, 5.0, 10.0}) {
    s = AutoScale(-80, -1, p);
    const TDisplayRange r = RangeFromReference(s->reference, s->scale, p);
    EXPECT_LE(r.bottom, -80) << p;
    EXPECT_GE(r.top, -1) << p;
  }
  // A flat trace far from zero still gets a round centre near it.
  s = AutoScale(1234.5, 1234.5, 5);
  EXPECT_DOUBLE_EQ(s->scale, 0.001);
  EXPECT_NEAR(s->reference, 1234.5, 0.005);
  // No points: nothing to scale to.
  EXPECT_FALSE(AutoScale(INFINITY, -INFINITY, 5));
  EXPECT_FALSE(AutoScale(NAN, 1, 5));
}

namespace {
struct TSweep {
  TSweepState state;
  std::vector<TPoint> raw;
  bool Take(size_t size, size_t offset, size_t count, bool changed = false) {
    std::vector<double> x(count), y(count);
    for (size_t i = 0; i < count; ++i) x[i] = y[i] = static_cast<double>(offset + i);
    return TakeSweepPart(state, raw, size, offset, count, x.data(), y.data(), changed);
  }
};
}  // namespace

TEST(TraceMaths, SweepsInPartsRestartsAndResizes) {
  TSweep s;
  EXPECT_TRUE(s.Take(200, 0, 100));  // the first part starts the sweep
  EXPECT_EQ(s.state.start, 0);
  EXPECT_FALSE(s.Take(200, 100, 100));
  EXPECT_EQ(s.state.received, 200u);
  EXPECT_EQ(s.state.start, 0);  // complete: the oldest sweep starts at 0
  EXPECT_FALSE(s.Take(200, 0, 50));  // the next sweep goes on without a restart
  EXPECT_EQ(s.state.start, 0);
  EXPECT_DOUBLE_EQ(s.raw[150].y, 150);
  // A part where the last did not end starts again there.
  EXPECT_TRUE(s.Take(200, 120, 40));
  EXPECT_EQ(s.state.start, 120);
  EXPECT_EQ(s.state.received, 40u);
  // Another size: cut or grown, and started again.
  EXPECT_TRUE(s.Take(100, 160, 20, true));
  EXPECT_EQ(s.raw.size(), 100u);
  // A part beyond the array is cut where the array ends; one past it is none.
  size_t count = 30;
  std::vector<double> x(30, 1.0);
  TakeSweepPart(s.state, s.raw, 100, 90, count, x.data(), x.data(), false);
  EXPECT_EQ(count, 10u);
  count = 5;
  TakeSweepPart(s.state, s.raw, 100, 100, count, x.data(), x.data(), false);
  EXPECT_EQ(count, 0u);
}

TEST(TraceMaths, NamesAndOperations) {
  EXPECT_EQ(NextTraceName("Трс", {}), "Трс1");
  EXPECT_EQ(NextTraceName("Трс", {"Трс1", "Трс2", "Пам3"}), "Трс3");
  // "Трс10" begins with "Трс1": the first free number is 2.
  EXPECT_EQ(NextTraceName("Трс", {"Трс10"}), "Трс2");
  const double expected[] = {1, 5, 2.5, 1.5, 6};
  for (int op = 0; op < kMathOperationCount; ++op) EXPECT_DOUBLE_EQ(ApplyMathOperation(op, 3, 2), expected[op]) << op;
  EXPECT_STREQ(MathOperationText(2), "(Трасса1 + Трасса2)/2");
}

// Where a part's arguments turn against the order of the points that stay.
TEST(TraceMaths, OrderBreaksWhereTheArgumentsTurn) {
  const std::vector<double> up{1, 2, 3, 4, 5, 6, 7, 8}, down{8, 7, 6, 5, 4, 3, 2, 1};
  const TSeriesKeys ascending{up.data(), up.size(), 1}, descending{down.data(), down.size(), 1}, none;
  const std::vector<double> same{3, 4}, higher{11, 12}, lower{0.5, 0.7}, turn{5, 6, 1, 2}, fall{2, 1};
  // In place, following on, or a sweep of its own.
  EXPECT_EQ(OrderBreak(ascending, 2, 2, same.data()), kInOrder);
  EXPECT_EQ(OrderBreak(ascending, 8, 2, higher.data()), kInOrder);
  EXPECT_EQ(OrderBreak(none, 0, 2, fall.data()), kInOrder);
  EXPECT_EQ(OrderBreak(descending, 6, 2, fall.data()), kInOrder);
  // A sweep that begins on higher arguments than the old one goes on with.
  EXPECT_EQ(OrderBreak(ascending, 0, 2, higher.data()), 0u);
  // A part that falls back behind the points before it.
  EXPECT_EQ(OrderBreak(ascending, 4, 2, lower.data()), 0u);
  EXPECT_EQ(OrderBreak(descending, 2, 2, higher.data()), 0u);
  // New arguments within a part: it starts again where they begin.
  EXPECT_EQ(OrderBreak(ascending, 4, 4, turn.data()), 2u);
  EXPECT_EQ(OrderBreak(none, 0, 4, turn.data()), 2u);
  const std::vector<double> jump{3, 20};  // on higher arguments from its second point
  EXPECT_EQ(OrderBreak(ascending, 2, 2, jump.data()), 1u);
  // A descending sweep in place of an ascending one, whole or in part.
  EXPECT_EQ(OrderBreak(ascending, 0, 8, down.data()), kInOrder);
  EXPECT_EQ(OrderBreak(ascending, 0, 2, down.data()), 0u);
}

TEST(TraceMaths, TheUnitOfEachOperation) {
  struct TCase {
    int operation;
    const char *u1, *u2, *result;
  };
  for (const TCase& c : {TCase{0, "дБм", "дБм", "дБ"}, TCase{0, "дБ", "дБ", "дБ"}, TCase{0, "дБм", "дБ", "дБм"},
                         TCase{0, "мВт", "мВт", "мВт"}, TCase{1, "дБм", "дБ", "дБм"}, TCase{1, "дБ", "дБВт", "дБВт"},
                         TCase{1, "В", "В", "В"}, TCase{2, "дБм", "дБм", "дБм"}, TCase{3, "мВт", "мВт", "раз"},
                         TCase{3, "В", "раз", "В"}, TCase{3, "В", "мВт", "В/мВт"}, TCase{4, "раз", "К", "К"},
                         TCase{4, "В", "В", "В·В"}, TCase{3, "", "", ""}})
    EXPECT_EQ(MathResultUnit(c.operation, c.u1, c.u2), c.result) << c.operation << " " << c.u1 << " " << c.u2;
}
