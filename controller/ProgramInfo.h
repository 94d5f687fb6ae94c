#pragma once
// Reads the program information (version block) of one of our binaries from
// the file, without loading it.
#include <string>
#include <vector>

#include "VKTypes.h"

class CProgramInfo {
 public:
  CProgramInfo() = default;

  // Reads the version block of `fileName`; true when the file has one.
  bool OpenInfo(const AnsiString& fileName);
  // The value of `key` in the "041904E3" table, or "".
  AnsiString GetValue(const AnsiString& key) const;
  AnsiString GetDescription() const { return GetValue("FileDescription"); }
  AnsiString GetVersion() const { return GetValue("FileVersion"); }
  AnsiString GetCopyright() const { return GetValue("LegalCopyright"); }
  AnsiString GetProductName() const { return GetValue("ProductName"); }
  AnsiString GetProductVersion() const { return GetValue("ProductVersion"); }
  void Close();

  // The name of the ELF section holding the block.
  static constexpr const char* kSectionName = ".vk_version";

 private:
  unsigned size = 0;
  std::vector<char> data;
  AnsiString translation = "041904E3";
};
