#pragma once
// Conversions between the text encodings that meet in this system: UTF-8 (the
// program's own text), Windows-1251 (files and interfaces that demand it) and
// UTF-16 (component interfaces). All conversions go through iconv.
#include <string>

namespace vkplatform {

// UTF-8 -> Windows-1251. A character that 1251 cannot represent becomes
// `defaultChar` (the '?' of the classic converters).
std::string Utf8ToCp1251(const std::string& utf8, char defaultChar = '?');
// Windows-1251 -> UTF-8. Every byte has a meaning in 1251 except 0x98,
// which becomes U+FFFD.
std::string Cp1251ToUtf8(const std::string& cp1251);

// UTF-16 <-> UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& utf16);
std::u16string Utf8ToUtf16(const std::string& utf8);
// UTF-16 -> Windows-1251 with the default character for what 1251 lacks.
std::string Utf16ToCp1251(const std::u16string& utf16, char defaultChar = '?');
std::u16string Cp1251ToUtf16(const std::string& cp1251);

// Lower-case copy of UTF-8 text that keeps every character's byte length, so
// positions found in the copy are positions in the original. Covers ASCII,
// Latin-1 and Cyrillic (everything code page 1251 can hold); other characters
// are left as they are. Malformed bytes are copied unchanged.
std::string Utf8LowerSameLength(const std::string& utf8);

}  // namespace vkplatform
