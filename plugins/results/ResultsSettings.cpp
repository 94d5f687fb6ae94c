#include "ResultsSettings.h"

#include <cmath>

#include "VKPaths.h"
#include "VKXml.h"

namespace vkresults {

namespace {

// The database's attributes of `e` over what `store` has.
void ReadDatabase(xmlNode* e, TStoreConfig& store) {
  if (!e) return;
  const auto text = [&](const char* name, std::string& target) {
    const std::string v = VKCore::GetNodeStringValue(e, name, "");
    if (!v.empty()) target = v;
  };
  std::string file;
  text("@file", file);
  if (!file.empty()) store.sqliteFile = FormatPath(file);
  text("@host", store.host);
  text("@name", store.database);
  text("@database", store.database);
  text("@user", store.user);
  std::string passwordFile;
  text("@passwordfile", passwordFile);
  if (!passwordFile.empty()) store.passwordFile = FormatPath(passwordFile);
  const double port = VKCore::GetNodeDoubleValue(e, "@port", store.port);
  if (std::isfinite(port) && port >= 1 && port <= 65535) store.port = static_cast<int>(port);
}

}  // namespace

TResultsSettings ReadResultsSettings(xmlNode* node, xmlNode* config) {
  TResultsSettings s;
  if (config) ReadDatabase(VKCore::SelectNode(config, "Results"), s.store);
  if (!node) return s;
  const std::string dock = VKCore::GetNodeStringValue(node, "@dock", "");
  if (!dock.empty()) s.dock = dock;
  const std::string caption = VKCore::GetNodeStringValue(node, "@caption", "");
  if (!caption.empty()) s.caption = caption;
  const double sweeps = VKCore::GetNodeDoubleValue(node, "@sweeps", s.sweeps);
  if (std::isfinite(sweeps) && sweeps >= 1 && sweeps <= 1000) s.sweeps = static_cast<int>(sweeps);
  s.stop = VKCore::GetNodeBoolValue(node, "@stop", false);
  const std::string report = VKCore::GetNodeStringValue(node, "@report", "");
  if (report == "pdf" || report == "html") s.report = report;
  s.reportFolder = FormatPath(VKCore::GetNodeStringValue(node, "@reportfolder", "[user]/reports"));
  for (xmlNode* c = node->children; c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    if (xmlStrcmp(c->name, BAD_CAST "reading") == 0) {
      const std::string name = VKCore::GetNodeStringValue(c, "@name", "");
      if (!name.empty()) s.readings.push_back(name);
    } else if (xmlStrcmp(c->name, BAD_CAST "database") == 0) {
      ReadDatabase(c, s.store);
    }
  }
  return s;
}

}  // namespace vkresults
