#include "AddressList.h"

#include "VKXml.h"

namespace linkdialog {
namespace {

using namespace VKCore;

// The XPath literal of a device type: quoted so that any text is a literal.
std::string GroupPath(const std::string& deviceType) {
  const char quote = deviceType.find('"') == std::string::npos ? '"' : '\'';
  return std::string("/Vektra/AddressList/Group[@Type=") + quote + deviceType + quote + "]";
}

}  // namespace

bool LoadAddressList(const std::string& configFile, const std::string& deviceType, TAddressList& list) {
  list = TAddressList();
  if (configFile.empty()) return false;
  CXMLDocument doc(false);
  if (doc.Open(configFile.c_str(), VKCore::kSettingsFileLimit) != 0) return false;
  // A type with both kinds of quote cannot be written as an XPath literal.
  if (deviceType.find('"') != std::string::npos && deviceType.find('\'') != std::string::npos) return false;
  xmlNode* group = GetElement(doc.Root(), GroupPath(deviceType).c_str());
  if (!group) return false;
  list.autoConnect = GetNodeBoolValue(group, "@AutoConnect", false);
  list.lastHost = GetNodeStringValue(group, "@LastHost", "");
  std::vector<xmlNode*> addresses;
  SelectNodes(group, "Address", addresses);
  for (xmlNode* a : addresses)
    list.entries.push_back({GetNodeStringValue(a, "@Name", ""), GetNodeStringValue(a, "@Host", "")});
  return true;
}

bool SaveAddressList(const std::string& configFile, const std::string& deviceType, const TAddressList& list) {
  if (configFile.empty()) return false;
  if (deviceType.find('"') != std::string::npos && deviceType.find('\'') != std::string::npos) return false;
  CXMLDocument doc(false);
  if (doc.Open(configFile.c_str(), VKCore::kSettingsFileLimit) != 0) return false;
  xmlNode* root = doc.Root();
  if (!root || xmlStrcmp(root->name, BAD_CAST "Vektra") != 0) return false;  // not our configuration
  xmlNode* group = GetElement(root, GroupPath(deviceType).c_str());
  if (!group) {
    // A fresh configuration may lack the group: made, so that the
    // operator's list is kept.
    xmlNode* lists = GetElementOrCreate(root, "AddressList");
    group = AddElement(lists, "Group");
    if (!group) return false;
    AddAttribute(group, "Type", deviceType);
  }
  AddAttribute(group, "AutoConnect", list.autoConnect);
  AddAttribute(group, "LastHost", list.lastHost);
  // The entries are written anew, each on a line of its own; the white
  // space between the old ones goes with them (it would pile up).
  for (xmlNode* c = group->children; c;) {
    xmlNode* next = c->next;
    const bool address = c->type == XML_ELEMENT_NODE && xmlStrcmp(c->name, BAD_CAST "Address") == 0;
    if (address || xmlIsBlankNode(c)) {
      xmlUnlinkNode(c);
      xmlFreeNode(c);
    }
    c = next;
  }
  int depth = 0;
  for (xmlNode* p = group; p->parent && p->parent->type == XML_ELEMENT_NODE; p = p->parent) ++depth;
  const std::string indent(2 * static_cast<size_t>(depth + 1), ' ');
  for (const TAddressEntry& e : list.entries) {
    xmlAddChild(group, xmlNewDocText(doc.Doc(), BAD_CAST ("\n" + indent).c_str()));
    xmlNode* a = AddElement(group, "Address");
    AddAttribute(a, "Name", e.name);
    AddAttribute(a, "Host", e.host);
  }
  if (!list.entries.empty())
    xmlAddChild(group, xmlNewDocText(doc.Doc(), BAD_CAST ("\n" + indent.substr(2)).c_str()));
  return doc.Save() == 0;
}

}  // namespace linkdialog
