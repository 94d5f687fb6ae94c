#pragma once
// Reading sections of an ELF file (any class, either byte order) without
// loading it. Malformed files are refused, never read past their end.
#include <string>
#include <vector>

namespace vkelf {

// Copies the contents of section `name` of `fileName`; false when the file is
// no ELF file or has no such section.
bool ReadSection(const std::string& fileName, const char* name, std::vector<char>& out);

}  // namespace vkelf
