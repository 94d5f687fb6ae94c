#include "ProgramInfo.h"

#include <cstring>

#include "ElfFile.h"


bool CProgramInfo::OpenInfo(const AnsiString& fileName) {
  Close();
  std::vector<char> block;
  static const char kMagic[] = "VKVERSION";
  if (!vkelf::ReadSection(fileName, kSectionName, block) || block.size() < sizeof kMagic ||
      std::memcmp(block.data(), kMagic, sizeof kMagic) != 0)
    return false;
  data.swap(block);
  size = static_cast<unsigned>(data.size());
  return size != 0;
}

AnsiString CProgramInfo::GetValue(const AnsiString& key) const {
  if (data.empty()) return AnsiString();
  // Walk the zero-terminated strings: magic, table key, then pairs. Only the
  // "041904E3" table is read; nothing else is tried.
  std::vector<std::string> strings;
  size_t pos = 0;
  while (pos < data.size()) {
    const char* s = data.data() + pos;
    const void* zero = std::memchr(s, '\0', data.size() - pos);
    if (!zero) break;
    const size_t len = static_cast<const char*>(zero) - s;
    if (len == 0 && strings.size() >= 2 && strings.size() % 2 == 0) break;  // end of table
    strings.emplace_back(s, len);
    pos += len + 1;
  }
  if (strings.size() < 2 || strings[1] != translation) return AnsiString();
  for (size_t i = 2; i + 1 < strings.size(); i += 2)
    if (strings[i] == key) return strings[i + 1];
  return AnsiString();
}

void CProgramInfo::Close() {
  data.clear();
  data.shrink_to_fit();
  size = 0;
}
