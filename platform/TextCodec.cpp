#include "TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace vkplatform {
namespace {

// One conversion through iconv. On an input sequence that the target cannot
// represent or that is malformed, `onBad` is appended to the output and the
// offending input unit (of `unit` bytes) is skipped.
std::string Convert(const char* to, const char* from, const char* in, size_t inLen,
                    const std::string& onBad, size_t unit) {
  std::string out;
  if (inLen == 0) return out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  std::vector<char> buf(inLen * 4 + 16);
  char* src = const_cast<char*>(in);
  size_t srcLeft = inLen;
  while (srcLeft > 0) {
    char* dst = buf.data();
    size_t dstLeft = buf.size();
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf.data(), buf.size() - dstLeft);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: replace one unit and go on.
    out += onBad;
    size_t skip = unit;
    if (std::strcmp(from, "UTF-8") == 0) {
      // Skip a whole UTF-8 sequence when its lead byte says how long it is.
      unsigned char c = static_cast<unsigned char>(*src);
      size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      skip = 1;
      for (size_t k = 1; k < len && k < srcLeft; ++k) {
        if ((static_cast<unsigned char>(src[k]) & 0xC0) != 0x80) break;
        skip = k + 1;
      }
    }
    if (skip > srcLeft) skip = srcLeft;
    src += skip;
    srcLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

const std::string kReplacementUtf8 = "\xEF\xBF\xBD";
const std::string kReplacementUtf16LE = std::string("\xFD\xFF", 2);

std::u16string FromLE(const std::string& bytes) {
  std::u16string s(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return s;
}

std::string ToLE(const std::u16string& s) {
  std::string bytes(s.size() * 2, '\0');
  for (size_t i = 0; i < s.size(); ++i) {
    bytes[2 * i] = static_cast<char>(s[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(s[i] >> 8);
  }
  return bytes;
}

}  // namespace

std::string Utf8ToCp1251(const std::string& utf8, char defaultChar) {
  return Convert("CP1251", "UTF-8", utf8.data(), utf8.size(), std::string(1, defaultChar), 1);
}

std::string Cp1251ToUtf8(const std::string& cp1251) {
  return Convert("UTF-8", "CP1251", cp1251.data(), cp1251.size(), kReplacementUtf8, 1);
}

std::string Utf16ToUtf8(const std::u16string& utf16) {
  const std::string le = ToLE(utf16);
  return Convert("UTF-8", "UTF-16LE", le.data(), le.size(), kReplacementUtf8, 2);
}

std::u16string Utf8ToUtf16(const std::string& utf8) {
  return FromLE(Convert("UTF-16LE", "UTF-8", utf8.data(), utf8.size(), kReplacementUtf16LE, 1));
}

std::string Utf16ToCp1251(const std::u16string& utf16, char defaultChar) {
  const std::string le = ToLE(utf16);
  return Convert("CP1251", "UTF-16LE", le.data(), le.size(), std::string(1, defaultChar), 2);
}

std::u16string Cp1251ToUtf16(const std::string& cp1251) {
  return FromLE(Convert("UTF-16LE", "CP1251", cp1251.data(), cp1251.size(), kReplacementUtf16LE, 1));
}

std::string Utf8LowerSameLength(const std::string& s) {
  std::string out(s);
  const size_t n = out.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c < 0x80) {
      if (c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c + 32);
      ++i;
      continue;
    }
    if ((c & 0xE0) == 0xC0 && i + 1 < n && (static_cast<unsigned char>(out[i + 1]) & 0xC0) == 0x80) {
      unsigned cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(out[i + 1]) & 0x3F);
      unsigned lower = cp;
      if (cp >= 0x0410 && cp <= 0x042F) lower = cp + 0x20;        // А..Я
      else if (cp >= 0x0400 && cp <= 0x040F) lower = cp + 0x50;   // Ѐ..Џ
      else if (cp == 0x0490) lower = 0x0491;                      // Ґ
      else if (cp >= 0x00C0 && cp <= 0x00DE && cp != 0x00D7) lower = cp + 0x20;
      if (lower != cp) {
        out[i] = static_cast<char>(0xC0 | (lower >> 6));
        out[i + 1] = static_cast<char>(0x80 | (lower & 0x3F));
      }
      i += 2;
      continue;
    }
    ++i;  // longer sequences and stray bytes stay as they are
  }
  return out;
}

}  // namespace vkplatform
