#pragma once
// A trace's filter chain. Every update of a trace passes through its five
// filters in a fixed order before it is drawn; a filter may change any part
// of the update (its values, where it lies, how many points, whether the
// sweep starts again), and keeps what it accumulates until Reset.
//
// A new filter derives from CTraceFilter, overrides Apply (and Reset, its
// menu items and its tag as needed) and takes its place in MakeFilterChain.
// The filters of this build pass every update through unchanged.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class QMenu;

namespace plotdesk {

class CTrace;

// One update on its way through the chain: `count` points from `offset`
// on, of a sweep of `arraySize` points. A filter that changes the values
// points x and y at arrays of its own, which live until its next Apply.
struct TTraceUpdate {
  bool changed = false;
  size_t arraySize = 0;
  size_t offset = 0;
  size_t count = 0;
  const double* x = nullptr;
  const double* y = nullptr;
};

class CTraceFilter {
 public:
  explicit CTraceFilter(CTrace* trace) : trace_(trace) {}
  CTraceFilter(const CTraceFilter&) = delete;
  CTraceFilter& operator=(const CTraceFilter&) = delete;
  virtual ~CTraceFilter() = default;

  virtual const char* Name() const = 0;
  virtual void Apply(TTraceUpdate& update);
  // Forgets what the filter has accumulated.
  virtual void Reset();
  // Adds the filter's items to the trace's menu.
  virtual void BuildMenu(QMenu* menu);
  // The short text in the trace list's "фильтры" column ("" when off).
  virtual std::string Tag() const;

 protected:
  CTrace* trace_;
};

class CFilterAccumulation : public CTraceFilter {
 public:
  using CTraceFilter::CTraceFilter;
  const char* Name() const override { return "CFilterAccumulation"; }
};

class CFilterQuantity : public CTraceFilter {
 public:
  using CTraceFilter::CTraceFilter;
  const char* Name() const override { return "CFilterQuantity"; }
};

class CFilterSmoothing : public CTraceFilter {
 public:
  using CTraceFilter::CTraceFilter;
  const char* Name() const override { return "CFilterSmoothing"; }
};

class CFilterStat : public CTraceFilter {
 public:
  using CTraceFilter::CTraceFilter;
  const char* Name() const override { return "CFilterStat"; }
};

class CFilterMarker : public CTraceFilter {
 public:
  using CTraceFilter::CTraceFilter;
  const char* Name() const override { return "CFilterMarker"; }
};

// The chain of a new trace, in its fixed order.
std::vector<std::unique_ptr<CTraceFilter>> MakeFilterChain(CTrace* trace);

}  // namespace plotdesk
