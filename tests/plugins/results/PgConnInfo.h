#pragma once
// The connection facts tests/support/postgres.sh writes to DIR/conninfo.env.
#include "ResultStore.h"

#include <fstream>
#include <string>

namespace vkresults_test {

// False when the file is missing or incomplete (the server did not start).
inline bool ReadConnInfo(const std::string& envFile, vkresults::TStoreConfig* config) {
  std::ifstream in(envFile);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "VK_PG_HOST") config->host = value;
    else if (key == "VK_PG_PORT") config->port = std::stoi(value);
    else if (key == "VK_PG_DATABASE") config->database = value;
    else if (key == "VK_PG_USER") config->user = value;
    else if (key == "VK_PG_PASSWORD_FILE") config->passwordFile = value;
  }
  // The password comes from the file only, whatever the environment has.
  config->passwordVariable.clear();
  return !config->host.empty() && !config->database.empty() && !config->passwordFile.empty();
}

}  // namespace vkresults_test
