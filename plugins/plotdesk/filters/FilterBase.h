#pragma once
// A trace's filter chain. Every update of a trace passes through its five
// filters in a fixed order before it is drawn: accumulation, unit
// conversion, smoothing, statistics and the marker filter. A filter may
// change any part of the update (its values, where it lies, how many points,
// whether the sweep starts again) and keeps what it accumulates between
// updates; the trace's re-filter replays the stored sweep through the chain
// when a setting changes.
//
// A new filter derives from CFilterBase, does its arithmetic in Apply over
// the update's arrays (no widget there: tests and benchmarks call it
// directly, without a trace), adds its items to the trace's menu in
// BuildMenu, says its tag, and takes its place in MakeFilterChain.
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

class CFilterBase {
 public:
  // `trace` may be null: the filter then only computes.
  explicit CFilterBase(CTrace* trace) : trace_(trace) {}
  CFilterBase(const CFilterBase&) = delete;
  CFilterBase& operator=(const CFilterBase&) = delete;
  virtual ~CFilterBase() = default;

  virtual void BuildMenu(QMenu* menu);
  virtual void Apply(TTraceUpdate& update) = 0;
  // The trace was attached to a channel.
  virtual void Reset();
  // The short text in the trace list's "фильтры" column ("" when off).
  const std::string& Tag() const { return tag_; }

 protected:
  // A setting changed: the new tag, and the stored sweep through the chain
  // again (and a redraw).
  void SettingChanged(const std::string& tag);

  CTrace* trace_;
  std::string tag_;
};

// The chain of a new trace, in its fixed order. `trace` may be null.
std::vector<std::unique_ptr<CFilterBase>> MakeFilterChain(CTrace* trace);
// The filter column: the tags from the last filter to the first, one space
// between each two (an empty tag keeps its space).
std::string FilterTags(const std::vector<std::unique_ptr<CFilterBase>>& chain);

}  // namespace plotdesk
