#pragma once
// The stored address lists of the connection dialog: one group per device
// type in the configuration file, "/Vektra/AddressList/Group[@Type=...]",
// with the auto-connect switch, the last address connected to and the
// entries in list order.
#include <string>
#include <vector>

namespace linkdialog {

struct TAddressEntry {
  std::string name;
  std::string host;
  bool operator==(const TAddressEntry&) const = default;
};

struct TAddressList {
  bool autoConnect = false;
  std::string lastHost;
  std::vector<TAddressEntry> entries;
};

// The list of `deviceType` in `configFile`. False (and an empty list) when
// the file cannot be opened or has no group for the type.
bool LoadAddressList(const std::string& configFile, const std::string& deviceType, TAddressList& list);

// Writes the list of `deviceType` into `configFile`, leaving everything else
// in the file as it was; the group (and the elements above it) are created
// when missing. The file is replaced atomically. False when it cannot be
// opened or written, or when it is not a configuration of this system.
bool SaveAddressList(const std::string& configFile, const std::string& deviceType, const TAddressList& list);

}  // namespace linkdialog
