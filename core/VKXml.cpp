#include "VKXml.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>

#include <locale.h>
#include <stdlib.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>


#include "../platform/FileUtil.h"
#include "../platform/Report.h"
#include "Diagnostics.h"
#include "NumberText.h"

namespace {

void SilentGenericError(void*, const char*, ...) {}

// libxml2 is set up once, before any thread uses it. What is wrong with a
// document is said by the caller's own message; libxml2's diagnostics (an
// encoding it cannot convert, say) would only go to standard error, in
// this thread and in every thread made later.
struct LibxmlInit {
  LibxmlInit() {
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, SilentGenericError);
    xmlThrDefSetGenericErrorFunc(nullptr, SilentGenericError);
  }
} g_libxmlInit;

void SilentStructuredError(void*, xmlErrorPtr) {}

// What the parser of our documents refuses, kept on the parser context.
// Our documents never need a document type: a document that brings an
// internal subset (where entities would be declared) is refused before a
// byte of it is parsed, so entity expansion is never reached; that is what
// makes lifting libxml2's size limits (XML_PARSE_HUGE, needed for long
// vectors) safe. Lifting them also lifts its nesting limit, which is kept
// here instead: our documents are a few levels deep, and code that walks a
// tree recursively must not meet thousands of levels.
struct TParseGuard {
  bool refused = false;
  int depth = 0;
};
constexpr int kMaxDepth = 256;

TParseGuard* GuardOf(void* ctx) {
  return static_cast<TParseGuard*>(static_cast<xmlParserCtxt*>(ctx)->_private);
}

void Refuse(void* ctx) {
  GuardOf(ctx)->refused = true;
  xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
}

void RefuseInternalSubset(void* ctx, const xmlChar* name, const xmlChar* externalId,
                          const xmlChar* systemId) {
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  if (ctxt->input && ctxt->input->cur && ctxt->input->cur < ctxt->input->end &&
      *ctxt->input->cur == '[') {
    Refuse(ctx);
    return;
  }
  xmlSAX2InternalSubset(ctx, name, externalId, systemId);
}

void RefuseEntityDecl(void* ctx, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
  Refuse(ctx);
}

void StartElementWithinDepth(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                             const xmlChar* uri, int nbNamespaces, const xmlChar** namespaces,
                             int nbAttributes, int nbDefaulted, const xmlChar** attributes) {
  if (++GuardOf(ctx)->depth > kMaxDepth) {
    Refuse(ctx);
    return;
  }
  xmlSAX2StartElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes,
                        nbDefaulted, attributes);
}

void EndElementWithinDepth(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                           const xmlChar* uri) {
  --GuardOf(ctx)->depth;
  xmlSAX2EndElementNs(ctx, localname, prefix, uri);
}

constexpr int kParseOptions =
    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE;

// Parses a file (`fileName`) or text held in memory (`text`, when the file
// name is null). A file is read as it is (never decompressed: a small packed
// file could unpack to any size). Null when the document is not well formed,
// has no root element, or is refused by the guard.
xmlDoc* ParseDocument(const char* fileName, const AnsiString* text, bool* created, size_t sizeLimit = SIZE_MAX,
                      vkplatform::ReadFailure* failure = nullptr) {
  if (created) *created = true;
  std::string contents;
  if (fileName) {
    if (!vkplatform::ReadWholeFile(fileName, contents, sizeLimit, failure)) return nullptr;
    text = &contents;
  }
  if (text->size() > static_cast<size_t>(INT_MAX)) return nullptr;
  xmlParserCtxt* ctxt = xmlNewParserCtxt();
  if (!ctxt || !ctxt->sax) {
    if (ctxt) xmlFreeParserCtxt(ctxt);
    if (created) *created = false;
    return nullptr;
  }
  TParseGuard guard;
  ctxt->_private = &guard;
  ctxt->sax->internalSubset = RefuseInternalSubset;
  ctxt->sax->entityDecl = RefuseEntityDecl;
  ctxt->sax->startElementNs = StartElementWithinDepth;
  ctxt->sax->endElementNs = EndElementWithinDepth;
  xmlDoc* doc = xmlCtxtReadMemory(ctxt, text->data(), static_cast<int>(text->size()), fileName,
                                  nullptr, kParseOptions);
  const bool sound = ctxt->wellFormed != 0 && !guard.refused;
  xmlFreeParserCtxt(ctxt);
  if (!doc || !sound || !xmlDocGetRootElement(doc)) {
    if (doc) xmlFreeDoc(doc);
    return nullptr;
  }
  return doc;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsXmlSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsXmlSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool IsPlainName(const char* s) {
  if (!s || !*s) return false;
  for (const char* p = s; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (!(std::isalnum(c) || c == '_' || c == '-' || c == '.' || c >= 0x80)) return false;
  }
  return !std::isdigit(static_cast<unsigned char>(*s)) && *s != '-' && *s != '.';
}

AnsiString NodeText(xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  if (!content) return AnsiString();
  AnsiString s(reinterpret_cast<const char*>(content));
  xmlFree(content);
  return s;
}

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

// Evaluates `path` relative to `node`. `nodes` receives a node-set's members;
// `scalar` receives the text of a non-node result. Returns false when the
// expression cannot be evaluated.
bool Evaluate(xmlNode* node, const char* path, std::vector<xmlNode*>* nodes, AnsiString* scalar,
              bool* isScalar) {
  if (isScalar) *isScalar = false;
  if (!node || !path) return false;
  // Fast paths for the two forms almost every caller uses.
  if (path[0] == '@' && IsPlainName(path + 1)) {
    if (node->type != XML_ELEMENT_NODE) return true;
    for (xmlAttr* a = node->properties; a; a = a->next)
      if (a->ns == nullptr && xmlStrEqual(a->name, X(path + 1))) {
        nodes->push_back(reinterpret_cast<xmlNode*>(a));
        break;
      }
    return true;
  }
  if (IsPlainName(path) && std::strchr(path, ':') == nullptr) {
    for (xmlNode* c = node->children; c; c = c->next)
      if (c->type == XML_ELEMENT_NODE && xmlStrEqual(c->name, X(path))) nodes->push_back(c);
    return true;
  }
  xmlXPathContext* ctx = xmlXPathNewContext(node->doc);
  if (!ctx) return false;
  ctx->error = SilentStructuredError;
  ctx->node = node;
  xmlXPathObject* result = xmlXPathEvalExpression(X(path), ctx);
  bool ok = result != nullptr;
  if (result) {
    if (result->type == XPATH_NODESET) {
      if (result->nodesetval)
        for (int i = 0; i < result->nodesetval->nodeNr; ++i)
          nodes->push_back(result->nodesetval->nodeTab[i]);
    } else if (scalar) {
      xmlChar* s = xmlXPathCastToString(result);
      if (s) {
        *scalar = reinterpret_cast<const char*>(s);
        xmlFree(s);
      }
      if (isScalar) *isScalar = true;
    }
    xmlXPathFreeObject(result);
  }
  xmlXPathFreeContext(ctx);
  return ok;
}

// The text of what `path` selects; false when nothing is selected.
bool SelectedText(xmlNode* node, const char* path, AnsiString& text) {
  std::vector<xmlNode*> nodes;
  bool isScalar = false;
  if (!Evaluate(node, path, &nodes, &text, &isScalar)) return false;
  if (isScalar) return true;
  if (nodes.empty()) return false;
  text = NodeText(nodes.front());
  return true;
}

void SetAttribute(xmlNode* element, const char* name, const char* value) {
  VK_ASSERT_TEXT(element != nullptr && element->type == XML_ELEMENT_NODE, "element");
  VK_ASSERT_TEXT(name != nullptr, "name");
  if (!element || element->type != XML_ELEMENT_NODE || !name) return;
  xmlAttr* attr = xmlSetProp(element, X(name), X(value ? value : ""));
  VK_ASSERT_TEXT(attr != nullptr, "pElement->setAttributeNode(pAttr)");
}

}  // namespace

namespace vkcore {

bool ParseXmlDouble(const AnsiString& text, double& value) {
  std::string_view s = Trim(text);
  if (s.empty()) return false;
  // The XML typed forms of the non-finite values, and the forms our own
  // writers of numbers produce ("inf", "-inf", "nan", "-nan"), in any case.
  std::string_view magnitude = s;
  bool negative = false;
  if (magnitude.front() == '+' || magnitude.front() == '-') {
    negative = magnitude.front() == '-';
    magnitude.remove_prefix(1);
  }
  auto is = [&](const char* word) {
    const size_t n = std::strlen(word);
    if (magnitude.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
      if (std::tolower(static_cast<unsigned char>(magnitude[i])) != word[i]) return false;
    return true;
  };
  if (is("inf") || is("infinity")) {
    value = negative ? -HUGE_VAL : HUGE_VAL;
    return true;
  }
  if (is("nan")) {
    value = negative ? -std::nan("") : std::nan("");
    return true;
  }
  if (s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return false;  // "+-5"
  }
  if (s.empty() || !(std::isdigit(static_cast<unsigned char>(s.front())) || s.front() == '.' ||
                     s.front() == '-'))
    return false;
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  value = v;
  return true;
}

bool ParseXmlInt(const AnsiString& text, int& value) {
  std::string_view s = Trim(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  int v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  value = v;
  return true;
}

AnsiString FormatXmlDouble(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return AnsiString(buf, r.ptr);
}

void AppendG6(AnsiString& out, double value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
  out.append(buf, r.ptr);
}

void AppendNumberText(AnsiString& out, double value) {
  if (!std::isfinite(value)) return;
  char buf[400];
  const double magnitude = std::fabs(value);
  const bool plain = value == 0 || (magnitude >= 1e-6 && magnitude < 1e15);
  auto r = plain ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                 : std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

void AppendExactNumber(AnsiString& out, double value) {
  // The general form without a precision is the shortest that reads back,
  // laid out as six-digit stream output is: for every value that six
  // digits hold, the two texts are the same.
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general);
  out.append(buf, r.ptr);
}

AnsiString FormatExactNumber(double value) {
  AnsiString s;
  AppendExactNumber(s, value);
  return s;
}

AnsiString FormatG6(double value) {
  AnsiString s;
  AppendG6(s, value);
  return s;
}

const char* ScanDouble(const char* p, const char* end, double& value) {
  while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' ||
                     *p == '\f'))
    ++p;
  if (p >= end) return nullptr;
  if (*p == '+') {
    ++p;
    if (p < end && *p == '-') return nullptr;
  }
  double v = 0;
  auto r = std::from_chars(p, end, v);
  if (r.ec == std::errc::result_out_of_range) {
    // Like a stream: a too large magnitude still consumes the number. It is
    // read in the C locale, so a point stays the decimal separator.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    v = strtod_l(std::string(p, r.ptr).c_str(), nullptr, cLocale);
  } else if (r.ec != std::errc()) {
    return nullptr;
  }
  value = v;
  return r.ptr;
}

}  // namespace vkcore

namespace VKCore {

AnsiString GetNodeStringValue(xmlNode* node, const char* path, const AnsiString& defaultValue) {
  AnsiString text;
  return SelectedText(node, path, text) ? text : defaultValue;
}

int GetNodeIntValue(xmlNode* node, const char* path, int defaultValue) {
  AnsiString text;
  int v = 0;
  if (SelectedText(node, path, text) && vkcore::ParseXmlInt(text, v)) return v;
  return defaultValue;
}

double GetNodeDoubleValue(xmlNode* node, const char* path, double defaultValue) {
  AnsiString text;
  double v = 0;
  if (SelectedText(node, path, text) && vkcore::ParseXmlDouble(text, v)) return v;
  return defaultValue;
}

bool GetNodeBoolValue(xmlNode* node, const char* path, bool defaultValue) {
  AnsiString text;
  if (!SelectedText(node, path, text)) return defaultValue;
  if (xmlStrcasecmp(X(text.c_str()), X("false")) == 0) return false;
  if (xmlStrcasecmp(X(text.c_str()), X("true")) == 0) return true;
  return defaultValue;
}

void AddAttribute(xmlNode* element, const char* name, bool value) {
  SetAttribute(element, name, value ? "true" : "false");
}

void AddAttribute(xmlNode* element, const char* name, const AnsiString& value) {
  SetAttribute(element, name, value.c_str());
}

void AddAttribute(xmlNode* element, const char* name, const char* value) {
  SetAttribute(element, name, value);
}

void AddAttribute(xmlNode* element, const char* name, int value) {
  SetAttribute(element, name, std::to_string(value).c_str());
}

void AddAttribute(xmlNode* element, const char* name, unsigned value) {
  SetAttribute(element, name, std::to_string(value).c_str());
}

void AddAttribute(xmlNode* element, const char* name, double value) {
  SetAttribute(element, name, vkcore::FormatXmlDouble(value).c_str());
}

xmlNode* AddElement(xmlNode* parent, const char* name) {
  VK_ASSERT_TEXT(parent != nullptr, "parent");
  VK_ASSERT_TEXT(name != nullptr, "name");
  if (!parent || !name) return nullptr;
  xmlNode* element = xmlNewDocNode(parent->doc, nullptr, X(name), nullptr);
  VK_ASSERT_TEXT(element != nullptr, "pDoc->createElement(name)");
  if (!element) return nullptr;
  xmlNode* added = nullptr;
  if (parent->type == XML_DOCUMENT_NODE) {
    xmlDoc* doc = reinterpret_cast<xmlDoc*>(parent);
    if (xmlDocGetRootElement(doc) == nullptr) {
      xmlDocSetRootElement(doc, element);
      added = element;
    }
  } else {
    added = xmlAddChild(parent, element);
  }
  VK_ASSERT_TEXT(added != nullptr, "parent->appendChild(element)");
  if (!added) {
    xmlFreeNode(element);
    return nullptr;
  }
  return added;
}

xmlNode* GetElement(xmlNode* node) {
  return (node && node->type == XML_ELEMENT_NODE) ? node : nullptr;
}

xmlNode* GetElement(xmlNode* node, const char* path) { return GetElement(SelectNode(node, path)); }

xmlNode* GetElementOrCreate(xmlNode* node, const char* name) {
  xmlNode* element = GetElement(node, name);
  return element ? element : AddElement(node, name);
}

xmlNode* copyElementToName(const xmlNode* element, const char* name) {
  VK_ASSERT_TEXT(element != nullptr, "element");
  if (!element || !name) return nullptr;
  xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(element), element->doc, 1);
  VK_ASSERT_TEXT(copy != nullptr, "copy");
  if (!copy) return nullptr;
  xmlNodeSetName(copy, X(name));
  return copy;
}

int renameElementToName(xmlNode*& element, const char* name) {
  xmlNode* copy = copyElementToName(element, name);
  if (!copy) return -1;
  xmlUnlinkNode(element);
  xmlFreeNode(element);
  element = copy;
  return 0;
}

xmlNode* FormatNode(xmlNode* node, const AnsiString&, const AnsiString&) { return node; }

bool SelectNodes(xmlNode* node, const char* path, std::vector<xmlNode*>& out) {
  out.clear();
  AnsiString scalar;
  bool isScalar = false;
  if (!Evaluate(node, path, &out, &scalar, &isScalar)) return false;
  return !isScalar;
}

xmlNode* SelectNode(xmlNode* node, const char* path) {
  std::vector<xmlNode*> nodes;
  if (!SelectNodes(node, path, nodes) || nodes.empty()) return nullptr;
  return nodes.front();
}

CXMLDocument::CXMLDocument(bool showMessages) : showMessages_(showMessages) {}

CXMLDocument::~CXMLDocument() {
  if (doc_) xmlFreeDoc(doc_);
}

int CXMLDocument::Open(const char* fileName, size_t sizeLimit) {
  if (!fileName || !*fileName) return 1;
  Close();
  bool created = true;
  vkplatform::ReadFailure failure = vkplatform::ReadFailure::none;
  xmlDoc* doc = ParseDocument(fileName, nullptr, &created, sizeLimit, &failure);
  if (failure == vkplatform::ReadFailure::tooLarge)
    vkplatform::MessageBox(vkplatform::TooLargeText(fileName, sizeLimit), "Ошибка", vkplatform::MsgIcon::Error);
  if (!created) {
    if (showMessages_)
      vkplatform::MessageBox("Невозможно создать экземпляр класса DOMDocument.", "Ошибка",
                             vkplatform::MsgIcon::Error);
    return 2;
  }
  if (!doc) {
    if (showMessages_)
      vkplatform::MessageBox(AnsiString("Невозможно открыть файл \"") + fileName + "\".", "Ошибка",
                             vkplatform::MsgIcon::Error);
    return 1;
  }
  doc_ = doc;
  fileName_ = fileName;
  return 0;
}

int CXMLDocument::OpenFromText(const AnsiString& text) {
  Close();
  xmlDoc* doc = ParseDocument(nullptr, &text, nullptr);
  if (!doc) return 1;
  doc_ = doc;
  return 0;
}

int CXMLDocument::New(const char* rootName, const char* encoding) {
  Close();
  xmlDoc* doc = xmlNewDoc(X("1.0"));
  if (!doc) return 2;
  if (encoding && *encoding) doc->encoding = xmlStrdup(X(encoding));
  if (rootName && *rootName) {
    xmlNode* root = xmlNewDocNode(doc, nullptr, X(rootName), nullptr);
    xmlDocSetRootElement(doc, root);
  }
  doc_ = doc;
  return 0;
}

int CXMLDocument::Save() {
  if (!doc_) return -2;
  if (fileName_.empty()) return -1;
  return SaveAs(fileName_.c_str(), nullptr);
}

int CXMLDocument::SaveAs(const char* fileName, const char* encoding) {
  if (!doc_) return -2;
  if (!fileName || !*fileName) return -1;
  const char* enc = encoding ? encoding
                             : (doc_->encoding ? reinterpret_cast<const char*>(doc_->encoding)
                                               : "UTF-8");
  xmlChar* mem = nullptr;
  int size = 0;
  // Saved as built: no indentation is added (it would come back as text
  // nodes that a reader of raw children sees).
  xmlDocDumpFormatMemoryEnc(doc_, &mem, &size, enc, 0);
  if (!mem) return -1;
  int rc = vkplatform::WriteFileAtomically(fileName, reinterpret_cast<const char*>(mem),
                               static_cast<size_t>(size));
  xmlFree(mem);
  if (rc != 0) return rc;
  if (encoding) {
    xmlFree(const_cast<xmlChar*>(doc_->encoding));
    doc_->encoding = xmlStrdup(X(encoding));
  }
  fileName_ = fileName;
  return 0;
}

int CXMLDocument::Close() {
  if (!doc_) return 2;
  xmlFreeDoc(doc_);
  doc_ = nullptr;
  fileName_.clear();
  return 0;
}

xmlNode* CXMLDocument::Root() const { return doc_ ? xmlDocGetRootElement(doc_) : nullptr; }

}  // namespace VKCore
