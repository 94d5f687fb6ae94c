#include "Searches.h"

#include <algorithm>
#include <cmath>

namespace korchart {
KORCHART_VARIANT_BEGIN

size_t TSeriesView::LowerBound(double arg) const {
  size_t lo = 0, hi = n;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (X(mid) < arg) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

size_t TSeriesView::UpperBound(double arg) const {
  size_t lo = 0, hi = n;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (!(arg < X(mid))) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

bool Ascending(const TSeriesView& s) {
  for (size_t i = 0; i + 1 < s.n; ++i)
    if (s.X(i + 1) < s.X(i)) return false;
  return true;
}

double ValueAt(const TSeriesView& s, double arg, std::string* error) {
  if (s.n == 0) {
    if (error) *error = "find_nearest_val_indexes: длинна vector'а равна нулю";
    return kNoValue;
  }
  if (s.n < 2) return kNoValue;
  // An instrument may sweep downwards: a series whose first argument is
  // above its last is read the same way from its other end.
  const bool descending = s.X(s.n - 1) < s.X(0);
  const double low = descending ? s.X(s.n - 1) : s.X(0), high = descending ? s.X(0) : s.X(s.n - 1);
  if (!(arg >= low && arg <= high)) return kNoValue;
  if (s.sorted) {
    // The first point at or after arg: an exact match, or the end of the
    // interval that holds arg (the same the scan below finds).
    const size_t j = s.LowerBound(arg);
    if (s.X(j) == arg) return s.Y(j);
    const double x0 = s.X(j - 1), x1 = s.X(j);
    return s.Y(j - 1) + (arg - x0) * (s.Y(j) - s.Y(j - 1)) / (x1 - x0);
  }
  // A linear scan for the bracketing points; the arguments must keep their
  // direction.
  for (size_t i = 0; i + 1 < s.n; ++i) {
    const double x0 = s.X(i), x1 = s.X(i + 1);
    if (descending ? x1 > x0 : x1 < x0) {
      if (error) *error = "find_nearest_val_indexes: vector<T> не упорядочен";
      return kNoValue;
    }
    if (arg == x0) return s.Y(i);
    // Inside any interval, the first one too, the value is interpolated.
    if (descending ? arg > x1 : arg < x1) return s.Y(i) + (arg - x0) * (s.Y(i + 1) - s.Y(i)) / (x1 - x0);
  }
  return s.Y(s.n - 1);  // the last point
}

double SearchLevel(const TLevelView& v, const TSearchSpan& span, double level) {
  const size_t n = v.Last(span.maxArg);
  for (size_t i = v.First(span.minArg); i + 1 < n; ++i) {
    if (!span.Contains(v.X(i)) || !span.Contains(v.X(i + 1))) continue;
    const double a = v.V(i), b = v.V(i + 1);
    if ((a <= level && level <= b) || (b <= level && level <= a)) {
      if (a == b) return v.X(i);
      return v.X(i) + (level - a) * (v.X(i + 1) - v.X(i)) / (b - a);
    }
  }
  return kNotFound;
}

double SearchExtremum(const TLevelView& v, const TSearchSpan& span, bool maximum, double divergence,
                      int direction) {
  const size_t n = v.Size();
  const size_t first = v.First(span.minArg), last = v.Last(span.maxArg);
  size_t best = n;
  if (v.trace.sorted && !v.minus) {
    // The span's own points, one series: a plain pass over the values (the
    // first of equal extremes wins, as below).
    double extreme = 0;
    for (size_t i = first; i < last; ++i) {
      const double y = v.trace.Y(i);
      if (best == n || (maximum ? y > extreme : y < extreme)) {
        best = i;
        extreme = y;
      }
    }
  } else {
    for (size_t i = first; i < last; ++i) {
      if (!span.Contains(v.X(i))) continue;
      if (best == n || (maximum ? v.V(i) > v.V(best) : v.V(i) < v.V(best))) best = i;
    }
  }
  if (best == n) return kNotFound;
  if (divergence == 0) return v.X(best);
  const double level = maximum ? v.V(best) - divergence : v.V(best) + divergence;
  auto inside = [&](size_t i) { return maximum ? v.V(i) > level : v.V(i) < level; };
  const long step = direction < 0 ? -1 : 1;
  long i = static_cast<long>(best);
  while (i >= 0 && i < static_cast<long>(n) && span.Contains(v.X(static_cast<size_t>(i))) &&
         inside(static_cast<size_t>(i)))
    i += step;
  if (i < 0 || i >= static_cast<long>(n) || !span.Contains(v.X(static_cast<size_t>(i)))) return kNotFound;
  const size_t at = static_cast<size_t>(i);
  if (at == 0 || at + 1 == n || at == best) return v.X(at);
  const size_t before = static_cast<size_t>(i - step);
  const double a = v.V(before), b = v.V(at);
  if (a == b) return v.X(at);
  return v.X(before) + (level - a) * (v.X(at) - v.X(before)) / (b - a);
}

// The auto search's rule, on y[0] .. y[n-1]:
// 1. d[i] = y[i+1] - y[i];
// 2. s[i] = the mean of d[j] for max(i-7, 0) <= j < min(i+7, n-1);
// 3. where s turns from falling (s[i-1] not >= 0) to rising (s[i] > 0), a
//    minimum candidate is the least value within 4 points of i (the first
//    of equal ones; i itself when none is below 100000); where it turns
//    from rising (s[i-1] > 0) to falling (s[i] not >= 0), a maximum
//    candidate likewise with the greatest value above -100000;
// 4. minimum candidates k are kept only where s[k] < 0.1; every maximum
//    candidate is kept. The same index may come more than once.
TCandidates AutoSearchCandidates(const TSeriesView& s) {
  TCandidates out;
  const size_t n = s.n;
  if (n < 4) return out;
  std::vector<double> d(n - 1);
  for (size_t i = 0; i + 1 < n; ++i) d[i] = s.Y(i + 1) - s.Y(i);
  // Each window's mean is summed afresh, left to right: a running
  // difference of prefix sums would round differently and could tip a slope
  // of (almost) zero to the other side.
  std::vector<double> slope(n, 0.0);
  for (size_t i = 0; i < n; ++i) {
    const size_t from = i >= 7 ? i - 7 : 0;
    const size_t to = std::min(i + 7, n - 1);
    double sum = 0;
    for (size_t j = from; j < to; ++j) sum += d[j];
    slope[i] = to > from ? sum / static_cast<double>(to - from) : 0;
  }
  auto best = [&](size_t i, bool maximum) {
    const size_t from = i >= 4 ? i - 4 : 0;
    const size_t to = std::min(i + 4, n - 1);
    double bound = maximum ? -100000 : 100000;
    size_t found = i;
    for (size_t k = from; k <= to; ++k)
      if (maximum ? s.Y(k) > bound : s.Y(k) < bound) {
        bound = s.Y(k);
        found = k;
      }
    return found;
  };
  for (size_t i = 1; i + 1 < n; ++i) {
    if (!(slope[i - 1] >= 0) && slope[i] > 0) {
      const size_t k = best(i, false);
      if (slope[k] < 0.1) out.minima.push_back(k);
    } else if (slope[i - 1] > 0 && !(slope[i] >= 0)) {
      out.maxima.push_back(best(i, true));
    }
  }
  return out;
}

void TStatistics::Add(double v) {
  if (n == 0) {
    min = max = v;
  } else {
    min = std::min(min, v);
    max = std::max(max, v);
  }
  sum += v;
  sumSquares += v * v;
  ++n;
}

double TStatistics::Deviation() const {
  if (n < 2) return 0;
  return std::sqrt(std::fabs((sumSquares - sum * sum / n) / (n - 1)));
}

KORCHART_VARIANT_END
}  // namespace korchart
