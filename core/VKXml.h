#pragma once
// XML helpers on libxml2: typed reads addressed by an XPath expression
// relative to a node, attribute and element writers, and CXMLDocument, which
// opens and saves one XML file.
//
// Elements and other nodes are libxml2 nodes (xmlNode*); a document owns its
// nodes. Text is UTF-8. Numbers are written and read with a point as the
// decimal separator whatever the locale.
#include <libxml/tree.h>

#include <vector>

#include "VKTypes.h"

namespace VKCore {

// Readers: `path` is an XPath expression relative to `node` ("@name" for an
// attribute, "name" for a child element). The default is returned when the
// expression selects nothing or the value cannot be converted.
AnsiString GetNodeStringValue(xmlNode* node, const char* path, const AnsiString& defaultValue);
int GetNodeIntValue(xmlNode* node, const char* path, int defaultValue);
double GetNodeDoubleValue(xmlNode* node, const char* path, double defaultValue);
// "true"/"false" in any case; any other text gives the default.
bool GetNodeBoolValue(xmlNode* node, const char* path, bool defaultValue);

// Writers: set an attribute on `element`, replacing one of the same name.
void AddAttribute(xmlNode* element, const char* name, bool value);
void AddAttribute(xmlNode* element, const char* name, const AnsiString& value);
void AddAttribute(xmlNode* element, const char* name, const char* value);
void AddAttribute(xmlNode* element, const char* name, int value);
void AddAttribute(xmlNode* element, const char* name, unsigned value);
void AddAttribute(xmlNode* element, const char* name, double value);

// A new element `name` appended as the parent's last child; null on failure
// (reported).
xmlNode* AddElement(xmlNode* parent, const char* name);
// The node itself when it is an element, otherwise null.
xmlNode* GetElement(xmlNode* node);
// The first node selected by `path` when it is an element, otherwise null.
xmlNode* GetElement(xmlNode* node, const char* path);
// GetElement(node, name), or a new child element `name` when there is none.
xmlNode* GetElementOrCreate(xmlNode* node, const char* name);
// A detached deep copy of `element` (attributes and children) named `name`,
// in the same document.
xmlNode* copyElementToName(const xmlNode* element, const char* name);
// Replaces `element` by a renamed copy: the old element is removed from its
// parent and freed; the copy is stored in `element`, detached. Returns 0.
int renameElementToName(xmlNode*& element, const char* name);
// Leaves the node as it is: documents are saved as they were built.
xmlNode* FormatNode(xmlNode* node, const AnsiString& indent = AnsiString(),
                    const AnsiString& newLine = AnsiString());

// Every node selected by `path` relative to `node`, in document order. Returns
// false when the expression cannot be evaluated (and leaves `out` empty).
bool SelectNodes(xmlNode* node, const char* path, std::vector<xmlNode*>& out);
// The first node selected by `path`, or null.
xmlNode* SelectNode(xmlNode* node, const char* path);

// The largest documents read, by kind: generous (a scheme of a hundred
// megabytes opens), yet no file takes the machine's memory. A larger file is
// refused with a message that names the limit.
constexpr size_t kSchemeFileLimit = size_t(512) << 20;   // schemes and profiles
constexpr size_t kSettingsFileLimit = size_t(64) << 20;  // configuration, markers, formula library

class CXMLDocument {
 public:
  explicit CXMLDocument(bool showMessages = true);
  ~CXMLDocument();
  CXMLDocument(const CXMLDocument&) = delete;
  CXMLDocument& operator=(const CXMLDocument&) = delete;

  void SetShowMessages(bool show) { showMessages_ = show; }
  bool IsOpen() const { return doc_ != nullptr; }

  // 0 success, 1 the file could not be loaded, 2 the document could not be
  // created. The file is read in the encoding it declares. Only a regular
  // file of at most `sizeLimit` bytes is read (a device, a FIFO or a socket
  // is refused at once); a larger one is said, with the limit, even by a
  // document that shows no messages.
  int Open(const char* fileName, size_t sizeLimit = kSchemeFileLimit);
  // Parses a document from text held in memory; 0 or 1. The file name stays
  // empty until SaveAs.
  int OpenFromText(const AnsiString& text);
  // Starts a new document with a root element `rootName`; its declaration will
  // name `encoding` when it is saved. 0 or 2.
  int New(const char* rootName, const char* encoding = "UTF-8");

  // Writes the document to the file it was opened from, in its declared
  // encoding. 0 on success, negative on failure. The file is replaced
  // atomically: an interrupted or failed save leaves the old file intact.
  int Save();
  // The same under another name (which becomes the document's file name) and,
  // when `encoding` is given, in that encoding.
  int SaveAs(const char* fileName, const char* encoding = nullptr);
  // 2 when nothing is open; otherwise releases the document and returns 0.
  int Close();

  AnsiString GetFileName() const { return fileName_; }
  xmlDoc* Doc() const { return doc_; }
  operator xmlDoc*() const { return doc_; }
  // The root element, or null.
  xmlNode* Root() const;

 private:
  bool showMessages_;
  AnsiString fileName_;
  xmlDoc* doc_ = nullptr;
};

}  // namespace VKCore

namespace vkcore {

// Number conversions with a point as decimal separator, independent of the
// locale.
// XML typed values: the whole text (XML white space allowed around it) must
// be the number. Doubles also accept the non-finite values in every form the
// system writes: "INF", "-INF", "NaN" and "inf", "-inf", "nan", "-nan" (any
// case, "infinity" too).
bool ParseXmlDouble(const AnsiString& text, double& value);
bool ParseXmlInt(const AnsiString& text, int& value);
// The shortest text that reads back as the same double ("2.5", "1e+20").
AnsiString FormatXmlDouble(double value);
// Six significant digits, trailing zeros dropped, exponent form only for an
// exponent below -4 or at least 6: what a default-formatted stream writes.
AnsiString FormatG6(double value);
// Appends FormatG6(value) to `out` without a temporary string.
void AppendG6(AnsiString& out, double value);
// Appends the shortest text that reads back as the same double, in plain
// decimals where they stay readable (1e-6 <= |value| < 1e15: "100000", not
// "1e+05"), with a point whatever the locale; nothing for NaN or infinity
// (an empty field in a table).
void AppendNumberText(AnsiString& out, double value);
// Reads one number the way a stream does: skips white space, reads as much of
// a number as there is. Returns the position after it, or null when no number
// starts there (then `value` is untouched).
const char* ScanDouble(const char* p, const char* end, double& value);

}  // namespace vkcore
