#pragma once
// Helpers shared by the LinkCore tests: the packet registry, scratch folders,
// whole-file I/O, small in-memory XML documents and a comma-decimal locale.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <stdlib.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <locale>
#include <sstream>
#include <string>

#include "PacketTypes.h"

namespace vktest {

// The registry is process-wide and unguarded: fill it once per test program.
inline void EnsurePacketTypes() {
  static const bool registered = (RegisterPacketTypes(), true);
  (void)registered;
}

// A fresh folder for one test, removed with everything in it afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = testing::TempDir() + "vkcore-XXXXXX";
    if (mkdtemp(tmpl.data())) path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  size_t EntryCount() const {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(path_)) ++n;
    return n;
  }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A document parsed from text; it frees its nodes when it goes.
class XmlDoc {
 public:
  explicit XmlDoc(const std::string& xml = "<root/>")
      : doc_(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, "UTF-8", 0)) {}
  ~XmlDoc() { xmlFreeDoc(doc_); }
  XmlDoc(const XmlDoc&) = delete;
  XmlDoc& operator=(const XmlDoc&) = delete;
  xmlNode* root() const { return xmlDocGetRootElement(doc_); }
  // The first child element of the root called `name`.
  xmlNode* child(const char* name) const {
    for (xmlNode* c = root()->children; c; c = c->next)
      if (c->type == XML_ELEMENT_NODE && xmlStrEqual(c->name, BAD_CAST name)) return c;
    return nullptr;
  }

 private:
  xmlDoc* doc_;
};

inline std::string Attr(xmlNode* element, const char* name) {
  xmlChar* v = xmlGetProp(element, BAD_CAST name);
  std::string s = v ? reinterpret_cast<const char*>(v) : "<none>";
  xmlFree(v);
  return s;
}

// Switches the whole process (C and C++ locales) to Russian number
// conventions, with a comma as decimal separator, while it lives.
class CommaLocale {
 public:
  CommaLocale() {
    previousC_ = std::setlocale(LC_ALL, nullptr);
    try {
      previous_ = std::locale::global(std::locale("ru_RU.UTF-8"));
      active_ = std::setlocale(LC_ALL, "ru_RU.UTF-8") != nullptr;
    } catch (const std::exception&) {
    }
  }
  ~CommaLocale() {
    std::locale::global(previous_);
    std::setlocale(LC_ALL, previousC_.c_str());
  }
  bool active() const { return active_; }

 private:
  std::string previousC_;
  std::locale previous_;
  bool active_ = false;
};

inline CDoubleVector* NewVector(std::initializer_list<double> values) {
  auto* v = new CDoubleVector(static_cast<unsigned>(values.size()));
  unsigned i = 0;
  for (double x : values) (*v)[i++] = x;
  return v;
}

}  // namespace vktest
