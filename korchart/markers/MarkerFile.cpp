#include "markers/MarkerFile.h"

#include <libxml/tree.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/Report.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

using VKCore::AddAttribute;
using VKCore::AddElement;
using VKCore::GetNodeBoolValue;
using VKCore::GetNodeDoubleValue;
using VKCore::GetNodeIntValue;
using VKCore::GetNodeStringValue;

const char kTemplateError[] = "Ошибка загрузки шаблона XML";
const char kLoadError[] = "Ошибка загрузки XML";
const char kCreateError[] = "Ошибка при создании описания XML файла.";
const char kAddError[] =
    "Системная ошибка в функции WriteMarksToXMLNode:                          не удалось "
    "добавить элемент к дереву XML объектов";
const char kEncoding[] = "windows-1251";

// A missing id reads as this, which no marker has.
constexpr int kNoMarker = 17;
// Fraction digits beyond this are no use for a double and are not taken from
// a file.
constexpr int kMaxDigits = 15;

void ShowError(const char* text) {
  vkplatform::MessageBox(text, "Ошибка", vkplatform::MsgIcon::Error);
}

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

bool IsElementNamed(const xmlNode* node, const char* name) {
  return node && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, X(name));
}

// The markerPreset element a caller means: the node itself, or the root of a
// document node. Null when it is none.
xmlNode* PresetElement(xmlNode* node) {
  if (node && (node->type == XML_DOCUMENT_NODE || node->type == XML_HTML_DOCUMENT_NODE))
    node = xmlDocGetRootElement(reinterpret_cast<xmlDoc*>(node));
  return IsElementNamed(node, "markerPreset") ? node : nullptr;
}

// The first `limit` characters of UTF-8 text; a character is never split.
std::string CutText(std::string text, size_t limit = kRelationTextLimit) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation
    if (chars++ == limit) {
      text.resize(i);
      break;
    }
  }
  return text;
}

int ReadDigits(xmlNode* node, const char* path, int defaultValue) {
  const int digits = GetNodeIntValue(node, path, defaultValue);
  return digits >= 0 && digits <= kMaxDigits ? digits : defaultValue;
}

const char* ActionText(EMarkAction action) {
  switch (action) {
    case EMarkAction::Minimum: return "minimum";
    case EMarkAction::Maximum: return "maximum";
    case EMarkAction::Fixed: return "fixed";
    case EMarkAction::Free: break;
  }
  return "free";
}

EMarkAction ActionFromText(const std::string& text) {
  if (text == "minimum") return EMarkAction::Minimum;
  if (text == "maximum") return EMarkAction::Maximum;
  if (text == "fixed") return EMarkAction::Fixed;
  return EMarkAction::Free;
}

// Builds elements and stops at the first one the XML layer refuses.
class TBuilder {
 public:
  explicit TBuilder(bool ok = true) : ok_(ok) {}
  bool ok() const { return ok_; }
  xmlNode* Add(xmlNode* parent, const char* name) {
    if (!ok_ || !parent) return Fail();
    xmlNode* e = AddElement(parent, name);
    return e ? e : Fail();
  }
  // <name value="..."/>
  template <typename T>
  xmlNode* Value(xmlNode* parent, const char* name, const T& value) {
    xmlNode* e = Add(parent, name);
    if (e) AddAttribute(e, "value", value);
    return e;
  }

 private:
  xmlNode* Fail() {
    ok_ = false;
    return nullptr;
  }
  bool ok_ = true;
};

void WriteMarker(TBuilder& b, xmlNode* list, const TMarkerSet& set, int i) {
  const SMarkParams& m = set.markers[i];
  xmlNode* marker = b.Add(list, "marker");
  if (!marker) return;
  AddAttribute(marker, "id", i);
  AddAttribute(marker, "enabled", m.enabled);
  SaveValueLimits(marker, m.readingLimits);
  b.Value(marker, "parked", m.parked);
  b.Value(marker, "extremeMode", m.extremeMode);
  b.Value(marker, "showStatInfo", m.showStatistics);
  b.Value(marker, "tracking", m.tracking);
  b.Value(marker, "framePos", m.framePos);
  b.Value(marker, "position", m.position);

  xmlNode* action = b.Value(marker, "action", ActionText(m.action));
  if (xmlNode* limits = b.Add(action, "posLimits")) {
    AddAttribute(limits, "min", m.limitMin);
    AddAttribute(limits, "max", m.limitMax);
  }
  if (xmlNode* divergence = b.Value(action, "divergence", m.divergence))
    AddAttribute(divergence, "direction", m.divergenceRight ? "right" : "left");
  b.Value(action, "linkTrace", set.linkTitles[i]);
  if (xmlNode* delta = b.Add(action, "deltaMeasure")) {
    AddAttribute(delta, "enabled", m.deltaMeasure);
    AddAttribute(delta, "linkTrace", set.deltaTitles[i]);
  }

  // The argument's line first (no series), then one line per series shown.
  // The value digits are also kept on the list itself, for a label that
  // shows no series.
  xmlNode* lines = b.Add(marker, "lineList");
  if (lines) AddAttribute(lines, "valueFraction", m.valueDigits);
  if (xmlNode* line = b.Add(lines, "line")) {
    AddAttribute(line, "sourceTrace", "");
    AddAttribute(line, "fraction", m.argumentDigits);
  }
  for (const auto& [title, digits] : set.lineTitles[i]) {
    if (xmlNode* line = b.Add(lines, "line")) {
      AddAttribute(line, "sourceTrace", title);
      AddAttribute(line, "fraction", digits);
    }
  }
}

void WriteRelation(TBuilder& b, xmlNode* list, const SLinkParams& link) {
  xmlNode* relation = b.Add(list, "relation");
  if (!relation) return;
  AddAttribute(relation, "markerA", link.markerA);
  AddAttribute(relation, "markerB", link.markerB);
  b.Value(relation, "framePos", link.framePos);
  b.Value(relation, "description", link.description);
  b.Value(relation, "expression", link.expression);
  b.Value(relation, "print", link.print);
  SaveValueLimits(relation, link.limits);
}

// The preset-library form: the texts only.
void WritePreset(TBuilder& b, xmlNode* list, const SRelationPreset& preset) {
  xmlNode* relation = b.Add(list, "relation");
  b.Value(relation, "description", preset.description);
  b.Value(relation, "expression", preset.expression);
  b.Value(relation, "print", preset.print);
}

// Puts `fresh` in the place of the preset's first element of its name and
// drops any further ones (they would be read as well). A list that was
// missing goes before `before` when there is one, else at the end.
void ReplaceList(xmlNode* preset, xmlNode* fresh, xmlNode* before) {
  std::vector<xmlNode*> old;
  for (xmlNode* c = preset->children; c; c = c->next)
    if (IsElementNamed(c, reinterpret_cast<const char*>(fresh->name))) old.push_back(c);
  if (old.empty()) {
    if (before)
      xmlAddPrevSibling(before, fresh);
    else
      xmlAddChild(preset, fresh);
    return;
  }
  xmlReplaceNode(old.front(), fresh);
  for (xmlNode* n : old) {
    xmlUnlinkNode(n);
    xmlFreeNode(n);
  }
}

void ReadMarker(xmlNode* node, TMarkerSet& set, std::vector<bool>& seen) {
  const int id = GetNodeIntValue(node, "@id", kNoMarker);
  if (id < 0 || id >= kMarkerCount || seen[id]) return;  // the first of an id counts
  seen[id] = true;
  SMarkParams& m = set.markers[id];
  m.enabled = GetNodeBoolValue(node, "@enabled", false);
  LoadValueLimits(node, m.readingLimits);
  m.parked = GetNodeBoolValue(node, "parked/@value", false);
  m.extremeMode = GetNodeBoolValue(node, "extremeMode/@value", false);
  m.showStatistics = GetNodeBoolValue(node, "showStatInfo/@value", false);
  m.tracking = GetNodeBoolValue(node, "tracking/@value", true);
  m.framePos = GetNodeIntValue(node, "framePos/@value", 100);
  m.position = GetNodeDoubleValue(node, "position/@value", 0);
  m.action = ActionFromText(GetNodeStringValue(node, "action/@value", ""));
  m.limitMin = GetNodeDoubleValue(node, "action/posLimits/@min", 0);
  m.limitMax = GetNodeDoubleValue(node, "action/posLimits/@max", 20000);
  m.divergence = GetNodeDoubleValue(node, "action/divergence/@value", 0);
  m.divergenceRight = GetNodeStringValue(node, "action/divergence/@direction", "") == "right";
  set.linkTitles[id] = GetNodeStringValue(node, "action/linkTrace/@value", "");
  m.deltaMeasure = GetNodeBoolValue(node, "action/deltaMeasure/@enabled", false);
  set.deltaTitles[id] = GetNodeStringValue(node, "action/deltaMeasure/@linkTrace", "");

  // A line list names every series the label shows, none included; without
  // one the label shows them all.
  xmlNode* lineList = VKCore::GetElement(node, "lineList");
  set.linesListed[id] = lineList != nullptr;
  if (lineList) m.valueDigits = ReadDigits(lineList, "@valueFraction", 2);
  const int listDigits = m.valueDigits;
  bool argumentRead = false;
  std::vector<xmlNode*> lines;
  VKCore::SelectNodes(node, "lineList/line", lines);
  for (xmlNode* line : lines) {
    const std::string title = GetNodeStringValue(line, "@sourceTrace", "");
    if (title.empty()) {
      if (!argumentRead) m.argumentDigits = ReadDigits(line, "@fraction", 3);
      argumentRead = true;
      continue;
    }
    // No marker reads more series than this.
    if (set.lineTitles[id].size() >= static_cast<size_t>(kMaxSeries)) continue;
    const int digits = ReadDigits(line, "@fraction", listDigits);
    if (set.lineTitles[id].empty()) m.valueDigits = digits;
    set.lineTitles[id].emplace_back(title, digits);
  }
}

SRelationPreset ReadPreset(xmlNode* node) {
  SRelationPreset p;
  p.description = CutText(GetNodeStringValue(node, "description/@value", ""));
  p.expression = CutText(GetNodeStringValue(node, "expression/@value", ""));
  p.print = CutText(GetNodeStringValue(node, "print/@value", ""));
  return p;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec) || ec;  // when in doubt, it is there
}

// Opens a formula library that exists; shows kLoadError when it cannot be
// read as one. `list` receives its relationList (made when missing).
int OpenLibrary(VKCore::CXMLDocument& doc, const std::string& path, xmlNode*& list) {
  list = nullptr;
  if (doc.Open(path.c_str()) != 0) {
    ShowError(kLoadError);
    return kMarkerFileUnreadable;
  }
  xmlNode* preset = PresetElement(doc.Root());
  if (!preset) {
    ShowError(kLoadError);
    return kMarkerFileNotMarkers;
  }
  list = VKCore::GetElementOrCreate(preset, "relationList");
  if (!list) {
    ShowError(kAddError);
    return kMarkerFileXmlError;
  }
  return kMarkerFileOk;
}

}  // namespace

std::string MarkerTemplateText() {
  return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>"
         "<markerPreset title=\"\"><markerList/><relationList/></markerPreset>";
}

int OpenMarkerTemplate(VKCore::CXMLDocument& doc) {
  if (doc.OpenFromText(MarkerTemplateText()) != 0 || !PresetElement(doc.Root())) {
    ShowError(kTemplateError);
    return kMarkerFileXmlError;
  }
  return kMarkerFileOk;
}

int WriteMarksToXMLNode(xmlNode* markerPreset, const TMarkerSet& set) {
  xmlNode* preset = PresetElement(markerPreset);
  if (!preset) return kMarkerFileNotMarkers;
  // Both lists are built apart and put in place only when complete, so that
  // a failure leaves the node as it was.
  xmlNode* markers = xmlNewDocNode(preset->doc, nullptr, X("markerList"), nullptr);
  xmlNode* relations = xmlNewDocNode(preset->doc, nullptr, X("relationList"), nullptr);
  TBuilder b(markers && relations);
  for (int i = 0; i < kMarkerCount && b.ok(); ++i) WriteMarker(b, markers, set, i);
  for (const SLinkParams& link : set.links)
    if (link.used && b.ok()) WriteRelation(b, relations, link);
  if (!b.ok()) {
    xmlFreeNode(markers);
    xmlFreeNode(relations);
    ShowError(kAddError);
    return kMarkerFileXmlError;
  }
  ReplaceList(preset, markers, VKCore::GetElement(preset, "relationList"));
  ReplaceList(preset, relations, nullptr);
  return kMarkerFileOk;
}

int ReadMarksFromXMLNode(xmlNode* node, TMarkerSet& set) {
  xmlNode* preset = PresetElement(node);
  if (!preset) return kMarkerFileNotMarkers;
  TMarkerSet read;
  // Relative to the element, so that a preset kept inside a larger document
  // reads as well as a file's root.
  std::vector<xmlNode*> nodes;
  VKCore::SelectNodes(preset, "markerList/marker", nodes);
  std::vector<bool> seen(kMarkerCount, false);
  for (xmlNode* n : nodes) ReadMarker(n, read, seen);

  VKCore::SelectNodes(preset, "relationList/relation", nodes);
  size_t next = 0;
  for (xmlNode* n : nodes) {
    if (next == read.links.size()) break;
    const int a = GetNodeIntValue(n, "@markerA", kNoMarker);
    const int b = GetNodeIntValue(n, "@markerB", kNoMarker);
    if (a < 0 || a >= kMarkerCount || b < 0 || b >= kMarkerCount) continue;
    SLinkParams& link = read.links[next++];
    const SRelationPreset texts = ReadPreset(n);
    link.used = true;
    link.markerA = a;
    link.markerB = b;
    link.framePos = GetNodeIntValue(n, "framePos/@value", link.framePos);
    link.description = texts.description;
    // A relation without an expression keeps the link marker's default one.
    if (VKCore::SelectNode(n, "expression/@value")) link.expression = texts.expression;
    link.print = texts.print;
    LoadValueLimits(n, link.limits);
  }
  set = std::move(read);
  return kMarkerFileOk;
}

int SaveMarkerFile(const std::string& path, const TMarkerSet& set) {
  VKCore::CXMLDocument doc(false);
  if (doc.New("markerPreset", kEncoding) != 0 || !doc.Root()) {
    ShowError(kCreateError);
    return kMarkerFileXmlError;
  }
  AddAttribute(doc.Root(), "title", "");
  if (int rc = WriteMarksToXMLNode(doc.Root(), set); rc != kMarkerFileOk) return rc;
  return doc.SaveAs(path.c_str(), kEncoding) == 0 ? kMarkerFileOk : kMarkerFileNotSaved;
}

int LoadMarkerFile(const std::string& path, TMarkerSet& set) {
  VKCore::CXMLDocument doc(false);
  if (doc.Open(path.c_str()) != 0) {
    ShowError(kLoadError);
    return kMarkerFileUnreadable;
  }
  const int rc = ReadMarksFromXMLNode(doc.Root(), set);
  if (rc != kMarkerFileOk) ShowError(kLoadError);
  return rc;
}

int LoadRelationPresets(const std::string& path, std::vector<SRelationPreset>& out) {
  out.clear();
  if (!FileExists(path)) return kMarkerFileUnreadable;
  VKCore::CXMLDocument doc(false);
  xmlNode* list = nullptr;
  if (int rc = OpenLibrary(doc, path, list); rc != kMarkerFileOk) return rc;
  std::vector<SRelationPreset> read;
  for (xmlNode* c = list->children; c; c = c->next)
    if (IsElementNamed(c, "relation")) read.push_back(ReadPreset(c));
  out = std::move(read);
  return kMarkerFileOk;
}

int AddRelationPreset(const std::string& path, const SRelationPreset& preset) {
  VKCore::CXMLDocument doc(false);
  xmlNode* list = nullptr;
  const bool created = !FileExists(path);
  if (created) {
    if (int rc = OpenMarkerTemplate(doc); rc != kMarkerFileOk) return rc;
    list = VKCore::GetElement(doc.Root(), "relationList");
  } else if (int rc = OpenLibrary(doc, path, list); rc != kMarkerFileOk) {
    return rc;
  }
  TBuilder b;
  WritePreset(b, list, preset);
  if (!b.ok()) {
    ShowError(kAddError);
    return kMarkerFileXmlError;
  }
  const int saved = created ? doc.SaveAs(path.c_str(), kEncoding) : doc.Save();
  return saved == 0 ? kMarkerFileOk : kMarkerFileNotSaved;
}

int RemoveRelationPreset(const std::string& path, const std::string& description) {
  if (!FileExists(path)) return kMarkerFileUnreadable;
  VKCore::CXMLDocument doc(false);
  xmlNode* list = nullptr;
  if (int rc = OpenLibrary(doc, path, list); rc != kMarkerFileOk) return rc;
  // Compared here rather than through an XPath predicate: the description is
  // any text, quotes of both kinds included.
  for (xmlNode* c = list->children; c; c = c->next) {
    if (!IsElementNamed(c, "relation")) continue;
    const std::string stored = GetNodeStringValue(c, "description/@value", "");
    if (stored != description && CutText(stored) != description) continue;
    xmlUnlinkNode(c);
    xmlFreeNode(c);
    return doc.Save() == 0 ? kMarkerFileOk : kMarkerFileNotSaved;
  }
  return kMarkerFilePresetNotFound;
}

KORCHART_VARIANT_END
}  // namespace korchart
