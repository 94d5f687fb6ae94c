#include "ElfFile.h"

#include <elf.h>

#include <cstdint>
#include <cstring>
#include <fstream>

namespace {

// Reads a little- or big-endian integer of N bytes at `offset` of `bytes`,
// failing (false) when it would reach past the end.
class ElfReader {
 public:
  ElfReader(const std::vector<char>& bytes, bool bigEndian) : b_(bytes), big_(bigEndian) {}
  bool Read(uint64_t offset, unsigned n, uint64_t& value) const {
    if (offset > b_.size() || n > b_.size() - offset) return false;
    value = 0;
    for (unsigned i = 0; i < n; ++i) {
      uint64_t byte = static_cast<unsigned char>(b_[offset + (big_ ? i : n - 1 - i)]);
      value = (value << 8) | byte;
    }
    return true;
  }

 private:
  const std::vector<char>& b_;
  bool big_;
};

bool ReadFile(const std::string& name, std::vector<char>& bytes) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff len = in.tellg();
  if (len <= 0 || len > (std::streamoff(1) << 31)) return false;
  bytes.resize(static_cast<size_t>(len));
  in.seekg(0);
  return static_cast<bool>(in.read(bytes.data(), len));
}

// Finds the section called `name` and copies its contents.
bool FindSection(const std::vector<char>& f, const char* name, std::vector<char>& out) {
  if (f.size() < EI_NIDENT || std::memcmp(f.data(), ELFMAG, SELFMAG) != 0) return false;
  const bool is64 = f[EI_CLASS] == ELFCLASS64;
  if (!is64 && f[EI_CLASS] != ELFCLASS32) return false;
  const bool big = f[EI_DATA] == ELFDATA2MSB;
  ElfReader r(f, big);
  uint64_t shoff, shentsize, shnum, shstrndx;
  if (is64) {
    if (!r.Read(0x28, 8, shoff) || !r.Read(0x3A, 2, shentsize) || !r.Read(0x3C, 2, shnum) ||
        !r.Read(0x3E, 2, shstrndx))
      return false;
  } else {
    if (!r.Read(0x20, 4, shoff) || !r.Read(0x2E, 2, shentsize) || !r.Read(0x30, 2, shnum) ||
        !r.Read(0x32, 2, shstrndx))
      return false;
  }
  if (shnum == 0 || shstrndx >= shnum || shentsize < (is64 ? 64u : 40u)) return false;
  auto sectionAt = [&](uint64_t index, uint64_t& nameOff, uint64_t& type, uint64_t& off,
                       uint64_t& size) {
    const uint64_t h = shoff + index * shentsize;
    if (is64)
      return r.Read(h, 4, nameOff) && r.Read(h + 4, 4, type) && r.Read(h + 0x18, 8, off) &&
             r.Read(h + 0x20, 8, size);
    return r.Read(h, 4, nameOff) && r.Read(h + 4, 4, type) && r.Read(h + 0x10, 4, off) &&
           r.Read(h + 0x14, 4, size);
  };
  uint64_t strName, strType, strOff, strSize;
  if (!sectionAt(shstrndx, strName, strType, strOff, strSize)) return false;
  if (strOff > f.size() || strSize > f.size() - strOff) return false;
  const size_t nameLen = std::strlen(name);
  for (uint64_t i = 0; i < shnum; ++i) {
    uint64_t nameOff, type, off, size;
    if (!sectionAt(i, nameOff, type, off, size)) return false;
    if (nameOff >= strSize || strSize - nameOff < nameLen + 1) continue;
    if (std::memcmp(f.data() + strOff + nameOff, name, nameLen + 1) != 0) continue;
    if (type == SHT_NOBITS || off > f.size() || size > f.size() - off) return false;
    out.assign(f.begin() + static_cast<long>(off), f.begin() + static_cast<long>(off + size));
    return true;
  }
  return false;
}

}  // namespace

namespace vkelf {

bool ReadSection(const std::string& fileName, const char* name, std::vector<char>& out) {
  std::vector<char> file;
  return ReadFile(fileName, file) && FindSection(file, name, out);
}

}  // namespace vkelf
