#pragma once
// The marker set as XML: the marker preset files (.mrk), the in-memory
// markerPreset node the chart keeps, and the library of link-marker formulas
// (RelationPreset.xml).
//
// A marker preset is a `markerPreset` element (attribute `title`) holding a
// `markerList` with one `marker` per marker index and a `relationList` with
// one `relation` per link marker in use. Series are named by title; the
// series numbers of SMarkParams (linkTrace, deltaTrace, shownSeries) are the
// caller's to resolve from TMarkerSet's titles and are never read from XML.
// Files are written in windows-1251 and read in whatever encoding they
// declare; what they contain is not trusted.
//
// Every function returns kMarkerFileOk (0) or one of the codes below. Where
// the XML layer itself fails (the template, a new document, a new element) or
// a file cannot be parsed, a message box says so ("Ошибка", error icon); the
// rest is left to the caller.
#include <string>
#include <vector>

#include "VKXml.h"
#include "markers/BuildVariant.h"
#include "markers/MarkerModel.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

constexpr int kMarkerFileOk = 0;
// The file is missing, cannot be read or is not well-formed XML.
constexpr int kMarkerFileUnreadable = 1;
// The node or the document's root is not a markerPreset element.
constexpr int kMarkerFileNotMarkers = 2;
// The XML layer failed: the template, a new document or an element.
constexpr int kMarkerFileXmlError = 3;
// The file could not be written; the old one, if any, is intact.
constexpr int kMarkerFileNotSaved = 4;
// RemoveRelationPreset: no formula has that description.
constexpr int kMarkerFilePresetNotFound = 5;

// Link-marker texts (description, expression, print) are cut to this many
// characters when they are read.
constexpr size_t kRelationTextLimit = 300;

// The empty marker preset the in-memory node starts from.
std::string MarkerTemplateText();
// Opens `doc` on MarkerTemplateText(); shows "Ошибка загрузки шаблона XML"
// when that fails. 0 or kMarkerFileXmlError.
int OpenMarkerTemplate(VKCore::CXMLDocument& doc);

// Replaces the markerList and relationList of an existing markerPreset
// element (a document node stands for its root) by the set's markers and link
// markers in use. The node is changed only when everything was built.
int WriteMarksToXMLNode(xmlNode* markerPreset, const TMarkerSet& set);
// Reads a markerPreset element, or a document node whose root is one, into a
// default TMarkerSet that then replaces `set`. Markers with an id outside
// 0..9 and relations naming a marker outside 0..9 are ignored; the relations
// fill the link markers in file order from the first. `set` is untouched when
// the node is not a markerPreset.
int ReadMarksFromXMLNode(xmlNode* node, TMarkerSet& set);

// A new windows-1251 marker file; an existing one is replaced atomically.
int SaveMarkerFile(const std::string& path, const TMarkerSet& set);
// Reads a marker file; `set` is unchanged on failure. A file that does not
// parse or is no marker preset is reported as "Ошибка загрузки XML".
int LoadMarkerFile(const std::string& path, TMarkerSet& set);

// The formula library: the relations of a markerPreset document, without
// markers. `out` is cleared first and stays empty on failure (a missing file
// too, reported by the result only).
int LoadRelationPresets(const std::string& path, std::vector<SRelationPreset>& out);
// Appends a formula and saves the library, creating it (windows-1251) when
// the file does not exist. A file that exists but cannot be read as a
// library is left alone.
int AddRelationPreset(const std::string& path, const SRelationPreset& preset);
// Removes the first formula with this description (compared as read, that
// is also after the cut to kRelationTextLimit) and saves the library.
int RemoveRelationPreset(const std::string& path, const std::string& description);

KORCHART_VARIANT_END
}  // namespace korchart
