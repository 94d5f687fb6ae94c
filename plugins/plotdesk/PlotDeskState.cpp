#include "PlotDeskState.h"

#include <QAction>
#include <QColor>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "VKXml.h"
#include "filters/FilterAccumulation.h"
#include "filters/FilterQuantity.h"
#include "filters/FilterSmoothing.h"
#include "filters/FilterStat.h"
#include "model/TraceMath.h"
#include "ui/DiagramArea.h"

namespace plotdesk {

using namespace VKCore;

namespace {

const char* const kState = "diagram";
const char* const kTrace = "trace";
const char* const kData = "data";
const char* const kMemory = "memory";
const char* const kMath = "math";

bool Named(const xmlNode* n, const char* name) {
  return n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

xmlNode* Child(xmlNode* node, const char* name) {
  for (xmlNode* c = node ? node->children : nullptr; c; c = c->next)
    if (Named(c, name)) return c;
  return nullptr;
}

template <class Filter>
Filter* FilterOf(const CTrace* trace) {
  for (const auto& f : trace->Filters())
    if (auto* filter = dynamic_cast<Filter*>(f.get())) return filter;
  return nullptr;
}

// ---- writing ----

// The numbers separated by spaces, each the shortest text that reads back
// as the same double ("nan", "inf" and "-inf" included).
std::string NumbersText(const std::vector<TPoint>& points, bool values) {
  std::string text;
  text.reserve(points.size() * 12);
  char buf[32];
  for (size_t i = 0; i < points.size(); ++i) {
    if (i) text += ' ';
    const auto r = std::to_chars(buf, buf + sizeof buf, values ? points[i].y : points[i].x);
    text.append(buf, r.ptr);
  }
  return text;
}

void SaveTrace(const CDiagramArea& area, const CTrace* trace, xmlNode* parent) {
  xmlNode* e = AddElement(parent, kTrace);
  const auto* memory = dynamic_cast<const CTraceStatic*>(trace);
  const auto* math = dynamic_cast<const CTraceMath*>(trace);
  AddAttribute(e, "kind", memory ? kMemory : math ? kMath : kData);
  AddAttribute(e, "name", trace->Name());
  AddAttribute(e, "color", trace->Color().name().toStdString());
  AddAttribute(e, "visible", trace->IsVisible());
  const CChannel* channel = trace->Channel();
  const auto& channels = area.Channels();
  int index = -1;
  for (size_t i = 0; i < channels.size(); ++i)
    if (channels[i] == channel) index = static_cast<int>(i);
  AddAttribute(e, "channel", index);
  if (channel) AddAttribute(e, "channelname", channel->Name());
  // The unit of the values, where it is not the channel's (a copy holds
  // the values its source showed).
  if (!channel || trace->SourceUnit() != channel->QuantityR()) AddAttribute(e, "sourceunit", trace->SourceUnit());
  AddAttribute(e, "reference", trace->ReferenceLevel());
  AddAttribute(e, "scale", trace->Scale());
  if (const auto* a = FilterOf<CFilterAccumulation>(trace)) {
    AddAttribute(e, "accumulation", a->Mode());
    AddAttribute(e, "degree", a->Degree());
  }
  if (const auto* q = FilterOf<CFilterQuantity>(trace)) AddAttribute(e, "conversion", q->Number());
  if (const auto* s = FilterOf<CFilterSmoothing>(trace)) {
    AddAttribute(e, "smoothing", s->On());
    AddAttribute(e, "window", s->Percent());
  }
  if (const auto* d = FilterOf<CFilterStat>(trace)) AddAttribute(e, "deviation", d->Mode() == CFilterStat::Deviation);
  if (memory) {
    // The points as taken, before the filters, which apply again.
    AddAttribute(AddElement(e, "x"), "values", NumbersText(memory->Raw(), false));
    AddAttribute(AddElement(e, "y"), "values", NumbersText(memory->Raw(), true));
  }
  korchart::SaveLimits(e, trace->Limits());
  if (math) {
    AddAttribute(e, "operation", math->Operation());
    for (int number : {1, 2})
      AddAttribute(e, number == 1 ? "operand1" : "operand2", area.IndexOf(math->Operand(number)));
  }
}

// ---- reading ----

// The numbers of a text as SaveTrace writes them; false at the first text
// that is none, or past `limit` numbers (what was read is kept).
bool ReadNumbers(const std::string& text, std::vector<double>& out, size_t limit) {
  const char* p = text.data();
  const char* const end = p + text.size();
  for (;;) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
    if (p == end) return true;
    if (out.size() == limit) return false;
    double v = 0;
    const auto r = std::from_chars(p, end, v);
    if (r.ec != std::errc()) return false;
    out.push_back(v);
    p = r.ptr;
  }
}

class TReader {
 public:
  TReader(CDiagramArea& area, std::vector<std::string>& problems) : area_(area), problems_(problems) {}

  CTrace* ReadTrace(xmlNode* e, size_t number);
  void ReadOperands(xmlNode* e, CTrace* trace, const std::vector<CTrace*>& made);

 private:
  void Problem(const std::string& trace, const std::string& text) {
    problems_.push_back(trace.empty() ? text : "трасса " + trace + ": " + text);
  }
  // A number attribute: `fallback` when it is missing; a problem too when
  // it is there and no finite number.
  double Number(xmlNode* e, const char* name, double fallback, const std::string& trace) {
    const std::string text = GetNodeStringValue(e, (std::string("@") + name).c_str(), "");
    if (text.empty()) return fallback;
    const double v = GetNodeDoubleValue(e, (std::string("@") + name).c_str(), NAN);
    if (std::isfinite(v)) return v;
    Problem(trace, std::string("неверное значение ") + name);
    return fallback;
  }
  CChannel* FindChannel(xmlNode* e, const std::string& trace);
  void ReadFilters(xmlNode* e, CTrace* trace, bool memory);
  void ReadPoints(xmlNode* e, CTraceStatic* trace);

  CDiagramArea& area_;
  std::vector<std::string>& problems_;
};

CChannel* TReader::FindChannel(xmlNode* e, const std::string& trace) {
  const auto& channels = area_.Channels();
  const double index = Number(e, "channel", -1, trace);
  const std::string name = GetNodeStringValue(e, "@channelname", "");
  const bool inRange = index >= 0 && index < static_cast<double>(channels.size());
  CChannel* byIndex = inRange ? channels[static_cast<size_t>(index)] : nullptr;
  // The channel of that name, where it stands now; else the one at that
  // place.
  if (byIndex && (name.empty() || byIndex->Name() == name)) return byIndex;
  for (CChannel* c : channels)
    if (!name.empty() && c->Name() == name) return c;
  if (index >= 0 || !name.empty())
    Problem(trace, "нет канала " + (name.empty() ? GetNodeStringValue(e, "@channel", "") : name));
  return byIndex;
}

void TReader::ReadFilters(xmlNode* e, CTrace* trace, bool memory) {
  const std::string name = trace->Name();
  // Accumulation and statistics are not offered on memory traces.
  if (auto* a = FilterOf<CFilterAccumulation>(trace); a && !memory) {
    const double mode = Number(e, "accumulation", 0, name), degree = Number(e, "degree", a->Degree(), name);
    const bool whole = degree == std::trunc(degree) && degree >= CFilterAccumulation::kMinDegree &&
                       degree <= CFilterAccumulation::kMaxDegree;
    if (degree != a->Degree() && !(whole && a->SetDegree(static_cast<int>(degree))))
      Problem(name, "неверная степень усреднения");
    if (mode == std::trunc(mode) && mode >= CFilterAccumulation::Off && mode <= CFilterAccumulation::Averaging) {
      if (mode != a->Mode()) a->SetMode(static_cast<int>(mode));
    } else {
      Problem(name, "неверный режим накопления");
    }
  }
  if (auto* q = FilterOf<CFilterQuantity>(trace)) {
    const double number = Number(e, "conversion", q->Number(), name);
    const std::vector<int> fits = ConversionsFrom(trace->SourceUnit());
    const bool fit = number == 0 || std::find(fits.begin(), fits.end(), number) != fits.end();
    if (fit && number != q->Number()) q->SetConversion(static_cast<int>(number));
    if (!fit) Problem(name, "неверное преобразование единиц");
  }
  if (auto* s = FilterOf<CFilterSmoothing>(trace)) {
    const double percent = Number(e, "window", s->Percent(), name);
    const bool on = GetNodeBoolValue(e, "@smoothing", false);
    if (percent != s->Percent() || on) s->SetPercent(percent);  // switches it on
    if (!on && s->On()) s->SetOn(false);
  }
  if (auto* d = FilterOf<CFilterStat>(trace); d && !memory && GetNodeBoolValue(e, "@deviation", false))
    d->SetMode(CFilterStat::Deviation);
}

void TReader::ReadPoints(xmlNode* e, CTraceStatic* trace) {
  std::vector<double> x, y;
  const bool xRead = ReadNumbers(GetNodeStringValue(e, "x/@values", ""), x, kMaxStatePoints);
  const bool yRead = ReadNumbers(GetNodeStringValue(e, "y/@values", ""), y, kMaxStatePoints);
  if (!xRead || !yRead || x.size() != y.size()) Problem(trace->Name(), "точки прочитаны не все");
  const size_t n = std::min(x.size(), y.size());
  x.resize(n);
  y.resize(n);
  if (n) trace->SetPoints(x, y);
}

CTrace* TReader::ReadTrace(xmlNode* e, size_t number) {
  const std::string kind = GetNodeStringValue(e, "@kind", "");
  const std::string saved = GetNodeStringValue(e, "@name", "");
  const std::string label = saved.empty() ? std::to_string(number + 1) : saved;
  if (kind != kData && kind != kMemory && kind != kMath) {
    Problem(label, "неизвестный вид \"" + kind + "\"");
    return nullptr;
  }
  CChannel* channel = FindChannel(e, label);
  CTrace* trace = nullptr;
  if (kind == kData) {
    trace = area_.CreateDataTrace(channel);
  } else if (kind == kMemory) {
    trace = area_.CreateMemoryTrace(channel);
  } else {
    trace = area_.CreateMathTrace();
    if (channel && channel != trace->Channel()) trace->AttachToChannel(channel);
  }
  if (!saved.empty()) trace->SetName(saved);
  const QColor color(QString::fromStdString(GetNodeStringValue(e, "@color", "")));
  if (color.isValid()) trace->SetColor(color);
  const std::string unit = GetNodeStringValue(e, "@sourceunit", "");
  if (!unit.empty() && unit != trace->SourceUnit()) {
    trace->SetSourceUnitOverride(unit);
    trace->ResetFilters();  // the conversion follows the unit
  }
  ReadFilters(e, trace, kind == kMemory);
  if (kind == kMemory) ReadPoints(e, static_cast<CTraceStatic*>(trace));
  trace->SetReferenceScale(Number(e, "reference", trace->ReferenceLevel(), label),
                           Number(e, "scale", trace->Scale(), label));
  trace->SetVisible(GetNodeBoolValue(e, "@visible", true));
  korchart::TLimitLines limits;
  if (korchart::LoadLimits(e, limits)) trace->SetLimits(limits);
  return trace;
}

void TReader::ReadOperands(xmlNode* e, CTrace* trace, const std::vector<CTrace*>& made) {
  auto* math = dynamic_cast<CTraceMath*>(trace);
  if (!math) return;
  const double operation = Number(e, "operation", 0, math->Name());
  if (operation == std::trunc(operation) && operation >= 0 && operation < kMathOperationCount)
    math->SetOperation(static_cast<int>(operation));
  else
    Problem(math->Name(), "неверная операция");
  for (int number : {1, 2}) {
    const double index = Number(e, number == 1 ? "operand1" : "operand2", -1, math->Name());
    if (index < 0) continue;
    CTrace* operand = index < static_cast<double>(made.size()) ? made[static_cast<size_t>(index)] : nullptr;
    auto* source = dynamic_cast<CTraceMathSource*>(operand);
    if (source) math->SetOperand(number, source);
    else Problem(math->Name(), "нет операнда " + std::to_string(number));
  }
  // An operand sets the result's unit and conversion: the result's own
  // settings come after.
  if (math->Operand(1) || math->Operand(2)) {
    const size_t said = problems_.size();
    ReadFilters(e, math, false);
    problems_.resize(said);  // said once already
  }
}

}  // namespace

void SaveDiagramState(const CDiagramArea& area, xmlNode* element) {
  xmlNode* state = AddElement(element, kState);
  AddAttribute(state, "version", kDiagramStateVersion);
  AddAttribute(state, "refposition", area.ReferencePosition());
  AddAttribute(state, "selected", area.Selected());
  AddAttribute(state, "headers", area.Action(CDiagramArea::actColumnHeaders)->isChecked());
  for (const auto& t : area.Traces()) SaveTrace(area, t.get(), state);
}

EStateRead RestoreDiagramState(CDiagramArea& area, xmlNode* element, std::vector<std::string>& problems) {
  xmlNode* state = Child(element, kState);
  if (!state) return EStateRead::Absent;
  const std::string version = GetNodeStringValue(state, "@version", "");
  if (version != std::to_string(kDiagramStateVersion)) {
    problems.push_back("состояние записано другой версией программы (" + (version.empty() ? "без номера" : version) +
                       ") и не прочитано");
    return EStateRead::Refused;
  }
  TReader reader(area, problems);
  while (!area.Traces().empty()) area.DeleteTrace(static_cast<int>(area.Traces().size()) - 1);
  const double position = GetNodeDoubleValue(state, "@refposition", area.ReferencePosition());
  area.SetReferencePosition(std::isfinite(position) ? ClampPosition(position) : area.ReferencePosition());
  area.Action(CDiagramArea::actColumnHeaders)->setChecked(GetNodeBoolValue(state, "@headers", false));
  // Saved traces by their place in the state (null where one was left out).
  std::vector<std::pair<xmlNode*, CTrace*>> made;
  std::vector<CTrace*> traces;
  for (xmlNode* e = state->children; e; e = e->next) {
    if (!Named(e, kTrace)) continue;
    if (made.size() == kMaxStateTraces) {
      problems.push_back("трасс больше " + std::to_string(kMaxStateTraces) + ", остальные не прочитаны");
      break;
    }
    CTrace* trace = reader.ReadTrace(e, made.size());
    made.emplace_back(e, trace);
    traces.push_back(trace);
  }
  for (const auto& [e, trace] : made) reader.ReadOperands(e, trace, traces);
  const double selected = GetNodeDoubleValue(state, "@selected", 0);
  // The place in the state, now in the list.
  CTrace* chosen = selected >= 0 && selected < static_cast<double>(traces.size()) ? traces[static_cast<size_t>(selected)] : nullptr;
  area.Select(chosen ? area.IndexOf(chosen) : area.Traces().empty() ? -1 : 0);
  area.JudgeLimits();
  return EStateRead::Read;
}

std::string StateProblemsText(const std::vector<std::string>& problems) {
  if (problems.empty()) return {};
  std::string text = "Сохранённое состояние диаграммы прочитано не полностью:";
  // A long list says how many more there are.
  constexpr size_t kShown = 10;
  for (size_t i = 0; i < problems.size() && i < kShown; ++i) text += "\n- " + problems[i];
  if (problems.size() > kShown) text += "\n... и ещё " + std::to_string(problems.size() - kShown);
  return text;
}

}  // namespace plotdesk
