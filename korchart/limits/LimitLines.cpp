#include "limits/LimitLines.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "VKXml.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The part of `x` (n points) whose arguments lie in [lo, hi]: a range of
// indices when the arguments ascend, or every index otherwise.
struct TSpan {
  size_t first, last;  // [first, last)
};

TSpan SpanOf(const double* x, size_t n, bool ascending, double lo, double hi) {
  if (!ascending) return {0, n};
  const size_t first = static_cast<size_t>(std::lower_bound(x, x + n, lo) - x);
  const size_t last = static_cast<size_t>(std::upper_bound(x + first, x + n, hi) - x);
  return {first, last};
}

bool Ascending(const double* x, size_t n) {
  for (size_t i = 1; i < n; ++i)
    if (!(x[i - 1] <= x[i])) return false;
  return true;
}

void Note(TLimitVerdict& v, double margin, double argument) {
  v.judged = true;
  if (margin < v.worstMargin || (std::isnan(v.argument) && margin == v.worstMargin)) {
    v.worstMargin = margin;
    v.argument = argument;
  }
}

void JudgeSegments(const double* x, const double* y, size_t n, bool ascending,
                   const std::vector<TLimitSegment>& segments, bool upper, TLimitVerdict& v,
                   std::vector<uint8_t>* mask) {
  for (const TLimitSegment& s : segments) {
    const double lo = std::min(s.start, s.stop), hi = std::max(s.start, s.stop);
    if (!(lo <= hi)) continue;  // a NaN end: no range
    const TSpan span = SpanOf(x, n, ascending, lo, hi);
    const double width = s.stop - s.start;
    const double slope = width != 0 ? (s.stopLevel - s.startLevel) / width : 0;
    for (size_t i = span.first; i < span.last; ++i) {
      const double xi = x[i];
      if (!ascending && !(xi >= lo && xi <= hi)) continue;
      const double level = s.startLevel + slope * (xi - s.start);
      double margin = upper ? level - y[i] : y[i] - level;
      if (std::isnan(margin)) margin = -kInf;  // no value where one is judged
      Note(v, margin, xi);
      if (margin < 0) {
        ++v.failing;
        if (mask) (*mask)[i] = 1;
      }
    }
  }
}

std::string Trimmed(std::string s) {
  const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
  s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

std::vector<std::string> Fields(const std::string& line, char separator) {
  std::vector<std::string> out;
  std::string field;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (c == separator && !quoted) {
      out.push_back(Trimmed(field));
      field.clear();
    } else {
      field += c;
    }
  }
  out.push_back(Trimmed(field));
  return out;
}

bool Number(std::string text, bool commaDecimal, double& value) {
  if (commaDecimal) std::replace(text.begin(), text.end(), ',', '.');
  return vkcore::ParseXmlDouble(text, value) && std::isfinite(value);
}

void SaveSegments(xmlNode* parent, const char* name, const std::vector<TLimitSegment>& segments) {
  for (const TLimitSegment& s : segments) {
    xmlNode* e = VKCore::AddElement(parent, name);
    VKCore::AddAttribute(e, "start", s.start);
    VKCore::AddAttribute(e, "stop", s.stop);
    VKCore::AddAttribute(e, "startlevel", s.startLevel);
    VKCore::AddAttribute(e, "stoplevel", s.stopLevel);
  }
}

void LoadSegments(xmlNode* parent, const char* name, std::vector<TLimitSegment>& out) {
  out.clear();
  for (xmlNode* c = parent->children; c && out.size() < kMaxSegments; c = c->next) {
    if (c->type != XML_ELEMENT_NODE || xmlStrcmp(c->name, BAD_CAST name) != 0) continue;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    TLimitSegment s{VKCore::GetNodeDoubleValue(c, "@start", nan), VKCore::GetNodeDoubleValue(c, "@stop", nan),
                    VKCore::GetNodeDoubleValue(c, "@startlevel", nan),
                    VKCore::GetNodeDoubleValue(c, "@stoplevel", nan)};
    if (std::isfinite(s.start) && std::isfinite(s.stop) && std::isfinite(s.startLevel) &&
        std::isfinite(s.stopLevel))
      out.push_back(s);
  }
}

}  // namespace

double LevelAt(const TLimitSegment& s, double x) {
  const double width = s.stop - s.start;
  if (width == 0) return s.startLevel;
  return s.startLevel + (s.stopLevel - s.startLevel) / width * (x - s.start);
}

TLimitVerdict JudgeTrace(const double* x, const double* y, size_t n, const TLimitLines& limits,
                         std::vector<uint8_t>* failingMask) {
  TLimitVerdict v;
  if (failingMask) failingMask->assign(n, 0);
  if (!x || !y || n == 0) return v;
  const bool ascending = Ascending(x, n);
  JudgeSegments(x, y, n, ascending, limits.upper, true, v, failingMask);
  JudgeSegments(x, y, n, ascending, limits.lower, false, v, failingMask);
  v.pass = v.failing == 0;
  return v;
}

bool ParseTolerance(bool enabled, const std::string& min, const std::string& max, TValueLimits& limits) {
  TValueLimits read;
  read.enabled = enabled;
  const auto bound = [](const std::string& text, bool& has, double& value) {
    const std::string t = Trimmed(text);
    has = !t.empty();
    return !has || Number(t, true, value);
  };
  if (!bound(min, read.hasMin, read.min) || !bound(max, read.hasMax, read.max)) return false;
  if (read.hasMin && read.hasMax && read.min > read.max) return false;
  limits = read;
  return true;
}

std::string BoundText(bool has, double value) { return has ? vkcore::FormatXmlDouble(value) : std::string(); }

TLimitVerdict JudgeValue(double value, bool hasValue, const TValueLimits& limits) {
  TLimitVerdict v;
  if (!limits.hasMin && !limits.hasMax) return v;
  v.judged = true;
  if (!hasValue || std::isnan(value)) {
    v.pass = false;
    v.worstMargin = -kInf;
    v.failing = 1;
    return v;
  }
  double margin = kInf;
  if (limits.hasMin) margin = std::min(margin, value - limits.min);
  if (limits.hasMax) margin = std::min(margin, limits.max - value);
  v.worstMargin = margin;
  v.argument = value;
  v.pass = margin >= 0;
  v.failing = v.pass ? 0 : 1;
  return v;
}

void Combine(TLimitVerdict& whole, const TLimitVerdict& part) {
  if (!part.judged) return;
  whole.judged = true;
  whole.pass = whole.pass && part.pass;
  whole.failing += part.failing;
  if (part.worstMargin < whole.worstMargin || (std::isnan(whole.argument) && part.worstMargin == whole.worstMargin)) {
    whole.worstMargin = part.worstMargin;
    whole.argument = part.argument;
  }
}

std::string LimitsToCsv(const TLimitLines& limits) {
  std::string out = "\"Граница\",\"Начало\",\"Конец\",\"Уровень в начале\",\"Уровень в конце\"\r\n";
  const auto rows = [&](const std::vector<TLimitSegment>& segments, const char* kind) {
    for (const TLimitSegment& s : segments) {
      out += kind;
      for (double v : {s.start, s.stop, s.startLevel, s.stopLevel}) {
        out += ',';
        out += vkcore::FormatXmlDouble(v);
      }
      out += "\r\n";
    }
  };
  rows(limits.upper, "верхняя");
  rows(limits.lower, "нижняя");
  return out;
}

bool LimitsFromCsv(const std::string& text, TLimitLines& limits, std::string& error) {
  TLimitLines read = limits;
  read.upper.clear();
  read.lower.clear();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool header = true;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    if (Trimmed(line).empty()) continue;
    const bool semicolons = line.find(';') != std::string::npos;
    const std::vector<std::string> f = Fields(line, semicolons ? ';' : ',');
    const std::string where = "Строка " + std::to_string(number) + ": ";
    std::string kind = f[0];
    for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool upper = kind == "верхняя" || kind == "upper";
    const bool lower = kind == "нижняя" || kind == "lower";
    if (!upper && !lower) {
      // The first line may be the column titles, but not a row whose kind
      // is mistyped: titles are no numbers.
      double ignored = 0;
      const bool numbers = f.size() == 5 && Number(f[1], semicolons, ignored) && Number(f[2], semicolons, ignored);
      if (header && !numbers) {
        header = false;
        continue;
      }
      error = where + "граница должна быть \"верхняя\" или \"нижняя\".";
      return false;
    }
    header = false;
    if (f.size() != 5) {
      error = where + "нужно пять полей: граница, начало, конец, уровень в начале, уровень в конце.";
      return false;
    }
    TLimitSegment s;
    double* values[] = {&s.start, &s.stop, &s.startLevel, &s.stopLevel};
    for (size_t i = 0; i < 4; ++i)
      if (!Number(f[i + 1], semicolons, *values[i])) {
        error = where + "\"" + f[i + 1] + "\" не число.";
        return false;
      }
    std::vector<TLimitSegment>& target = upper ? read.upper : read.lower;
    if (target.size() >= kMaxSegments) {
      error = where + "больше " + std::to_string(kMaxSegments) + " отрезков одной границы.";
      return false;
    }
    target.push_back(s);
  }
  limits = read;
  return true;
}

void SaveLimits(xmlNode* parent, const TLimitLines& limits) {
  if (!parent || (!limits.enabled && limits.Empty())) return;
  xmlNode* e = VKCore::AddElement(parent, "limits");
  VKCore::AddAttribute(e, "enabled", limits.enabled);
  SaveSegments(e, "upper", limits.upper);
  SaveSegments(e, "lower", limits.lower);
}

bool LoadLimits(xmlNode* parent, TLimitLines& limits) {
  if (!parent) return false;
  xmlNode* e = nullptr;
  for (xmlNode* c = parent->children; c && !e; c = c->next)
    if (c->type == XML_ELEMENT_NODE && xmlStrcmp(c->name, BAD_CAST "limits") == 0) e = c;
  if (!e) return false;
  limits.enabled = VKCore::GetNodeBoolValue(e, "@enabled", true);
  LoadSegments(e, "upper", limits.upper);
  LoadSegments(e, "lower", limits.lower);
  return true;
}

void SaveValueLimits(xmlNode* element, const TValueLimits& limits) {
  if (!element || (!limits.enabled && !limits.hasMin && !limits.hasMax)) return;
  VKCore::AddAttribute(element, "limits", limits.enabled);
  if (limits.hasMin) VKCore::AddAttribute(element, "limitmin", limits.min);
  if (limits.hasMax) VKCore::AddAttribute(element, "limitmax", limits.max);
}

void LoadValueLimits(xmlNode* element, TValueLimits& limits) {
  limits = TValueLimits();
  if (!element) return;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double min = VKCore::GetNodeDoubleValue(element, "@limitmin", nan);
  const double max = VKCore::GetNodeDoubleValue(element, "@limitmax", nan);
  limits.hasMin = std::isfinite(min);
  limits.hasMax = std::isfinite(max);
  if (limits.hasMin) limits.min = min;
  if (limits.hasMax) limits.max = max;
  limits.enabled = VKCore::GetNodeBoolValue(element, "@limits", limits.hasMin || limits.hasMax);
}

KORCHART_VARIANT_END
}  // namespace korchart
