#pragma once
// The parameters node of the results station, read once:
//   <parameters dock="DockRight" caption="Контроль изделий" sweeps="2" stop="false"
//               report="pdf" reportfolder="[user]/reports">   a report per unit (pdf or html)
//     <reading name="Полоса -3 дБ"/>                      readings kept (none: all)
//     <database file="..." host="..." port="5432" name="..." user="..." passwordfile="..."/>
//   </parameters>
// The database may instead (or as well) be named in the user's configuration
// file, element "Results" with the same attributes; the scheme's win. The
// password is never read from either: see TStoreConfig.
#include <libxml/tree.h>

#include <string>
#include <vector>

#include "ResultStore.h"

namespace vkresults {

struct TResultsSettings {
  std::string dock = "DockRight";
  std::string caption = "Контроль изделий";
  int sweeps = 2;     // whole sweeps of every display after Start
  bool stop = false;  // stop the measurement once the result is made
  std::string report;        // "pdf", "html" or "" (none): asked of the display wired to "report"
  std::string reportFolder;  // where the units' reports go
  std::vector<std::string> readings;
  TStoreConfig store;
};

// `config` is the root of the configuration file (may be null).
TResultsSettings ReadResultsSettings(xmlNode* node, xmlNode* config);

}  // namespace vkresults
