#include "limits/Outcome.h"

#include <qcustomplot.h>

#include <cmath>

#include "VKXml.h"
#include "markers/LinkMarker.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

void WriteVerdict(xmlNode* e, const TLimitVerdict& v) {
  VKCore::AddAttribute(e, "judged", v.judged);
  if (!v.judged) return;
  VKCore::AddAttribute(e, "pass", v.pass);
  VKCore::AddAttribute(e, "margin", v.worstMargin);
  VKCore::AddAttribute(e, "argument", v.argument);
  VKCore::AddAttribute(e, "failing", static_cast<unsigned>(v.failing));
}

TLimitVerdict ReadVerdict(xmlNode* e) {
  TLimitVerdict v;
  v.judged = VKCore::GetNodeBoolValue(e, "@judged", false);
  if (!v.judged) return v;
  v.pass = VKCore::GetNodeBoolValue(e, "@pass", false);
  v.worstMargin = VKCore::GetNodeDoubleValue(e, "@margin", v.worstMargin);
  v.argument = VKCore::GetNodeDoubleValue(e, "@argument", v.argument);
  const double failing = VKCore::GetNodeDoubleValue(e, "@failing", 0);
  v.failing = failing >= 0 && failing < 1e15 ? static_cast<size_t>(failing) : 0;
  return v;
}

}  // namespace

std::vector<TReadingOutcome> CollectReadings(const MarksManager& marks) {
  std::vector<TReadingOutcome> out;
  for (int m = 0; m < kMarkerCount; ++m) {
    const Metka* mark = marks.Mark(m);
    if (!mark || !mark->GetActivated()) continue;
    for (int s = 1; s <= marks.SeriesCount(); ++s) {
      const QCPGraph* g = marks.Series(s);
      if (!g || !g->visible() || g->data()->isEmpty()) continue;
      const TSeriesInfo info = marks.SeriesInfo(s);
      TReadingOutcome r;
      r.name = "Маркер " + std::to_string(m) + ": " + info.title;
      r.unit = info.units;
      const double v = mark->ReadValue(s);
      r.hasValue = v != kNoValue && mark->GetFreq() != kNotFound && std::isfinite(v);
      r.value = r.hasValue ? v : 0;
      // A marker's tolerance judges its reading on the series it searches.
      const SMarkParams p = mark->GetParams();
      if (p.readingLimits.Active() && s == (p.linkTrace > 0 ? p.linkTrace : 1)) {
        r.limits = p.readingLimits;
        r.verdict = JudgeValue(r.value, r.hasValue, r.limits);
      }
      out.push_back(r);
    }
  }
  for (int l = 0; l < kLinkMarkerCount; ++l) {
    const LinkMarker* link = marks.Link(l);
    if (!link || !link->Used()) continue;
    TReadingOutcome r;
    const SLinkParams& p = link->GetParams();
    r.name = p.description.empty() ? "Связь " + std::to_string(l) : p.description;
    r.hasValue = link->HasValue();
    r.value = r.hasValue ? link->Value() : 0;
    if (p.limits.Active()) {
      r.verdict = JudgeValue(r.value, r.hasValue, p.limits);
      r.limits = p.limits;
    }
    out.push_back(r);
  }
  return out;
}

void FoldVerdict(TDisplayOutcome& o) {
  o.verdict = TLimitVerdict();
  for (const TTraceOutcome& t : o.traces) Combine(o.verdict, t.verdict);
  for (const TReadingOutcome& r : o.readings) Combine(o.verdict, r.verdict);
}

std::string OutcomeToXml(const TDisplayOutcome& o) {
  VKCore::CXMLDocument doc(false);
  doc.New("outcome");
  xmlNode* root = doc.Root();
  VKCore::AddAttribute(root, "display", o.display);
  VKCore::AddAttribute(root, "sweep", std::to_string(o.sweep));
  WriteVerdict(root, o.verdict);
  for (const TTraceOutcome& t : o.traces) {
    xmlNode* e = VKCore::AddElement(root, "trace");
    VKCore::AddAttribute(e, "name", t.name);
    WriteVerdict(e, t.verdict);
  }
  for (const TReadingOutcome& r : o.readings) {
    xmlNode* e = VKCore::AddElement(root, "reading");
    VKCore::AddAttribute(e, "name", r.name);
    VKCore::AddAttribute(e, "unit", r.unit);
    VKCore::AddAttribute(e, "hasvalue", r.hasValue);
    if (r.hasValue) VKCore::AddAttribute(e, "value", r.value);
    SaveValueLimits(e, r.limits);
    WriteVerdict(e, r.verdict);
  }
  xmlBuffer* buffer = xmlBufferCreate();
  xmlNodeDump(buffer, doc.Doc(), root, 0, 0);
  std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<size_t>(xmlBufferLength(buffer)));
  xmlBufferFree(buffer);
  return text;
}

bool OutcomeFromXml(const std::string& text, TDisplayOutcome& o, std::string& error) {
  VKCore::CXMLDocument doc(false);
  if (doc.OpenFromText(text) != 0 || !doc.Root() || xmlStrcmp(doc.Root()->name, BAD_CAST "outcome") != 0) {
    error = "не итог дисплея";
    return false;
  }
  xmlNode* root = doc.Root();
  TDisplayOutcome read;
  read.display = VKCore::GetNodeStringValue(root, "@display", "");
  const double sweep = VKCore::GetNodeDoubleValue(root, "@sweep", 0);
  read.sweep = sweep >= 0 && sweep < 1e18 ? static_cast<unsigned long long>(sweep) : 0;
  read.verdict = ReadVerdict(root);
  size_t taken = 0;
  for (xmlNode* c = root->children; c && taken < 2 * kMaxSegments; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    ++taken;
    const std::string name = VKCore::GetNodeStringValue(c, "@name", "");
    if (xmlStrcmp(c->name, BAD_CAST "trace") == 0) {
      read.traces.push_back({name, ReadVerdict(c)});
    } else if (xmlStrcmp(c->name, BAD_CAST "reading") == 0) {
      TReadingOutcome r;
      r.name = name;
      r.unit = VKCore::GetNodeStringValue(c, "@unit", "");
      const double nan = std::numeric_limits<double>::quiet_NaN();
      r.value = VKCore::GetNodeDoubleValue(c, "@value", nan);
      r.hasValue = VKCore::GetNodeBoolValue(c, "@hasvalue", false) && std::isfinite(r.value);
      if (!r.hasValue) r.value = 0;
      r.verdict = ReadVerdict(c);
      LoadValueLimits(c, r.limits);
      read.readings.push_back(r);
    }
  }
  o = read;
  return true;
}

KORCHART_VARIANT_END
}  // namespace korchart
