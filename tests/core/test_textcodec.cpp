// Conversions between UTF-8, Windows-1251 and UTF-16.
#include "CoreTestSupport.h"
#include "platform/TextCodec.h"

namespace {

using namespace vkplatform;

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

TEST(TextCodec, CyrillicRoundTrips) {
  const std::string utf8 = "Прибор Ёё №5 €";
  const std::u16string utf16 = u"Прибор Ёё №5 €";
  const std::string cp1251 = "\xCF\xF0\xE8\xE1\xEE\xF0 \xA8\xB8 \xB9" "5 \x88";
  EXPECT_EQ(Utf8ToCp1251(utf8), cp1251);
  EXPECT_EQ(Cp1251ToUtf8(cp1251), utf8);
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  EXPECT_EQ(Utf16ToCp1251(utf16), cp1251);
  EXPECT_EQ(Cp1251ToUtf16(cp1251), utf16);

  // Every defined byte of the code page survives the trip through UTF-8.
  std::string all;
  for (int b = 1; b < 256; ++b)
    if (b != 0x98) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
  EXPECT_EQ(Utf16ToCp1251(Cp1251ToUtf16(all)), all);

  EXPECT_EQ(Utf8ToCp1251(""), "");
  EXPECT_EQ(Utf8ToUtf16(""), u"");
  EXPECT_EQ(Utf8ToCp1251(std::string("a\0Я", 4)), std::string("a\0\xDF", 3));
  const std::string longText(300000, 'x');
  EXPECT_EQ(Cp1251ToUtf8(Utf8ToCp1251(longText)), longText);
}

TEST(TextCodec, WhatCannotBeConvertedIsReplaced) {
  EXPECT_EQ(Utf8ToCp1251("漢字 x"), "?? x");
  EXPECT_EQ(Utf8ToCp1251("漢 x", '_'), "_ x");
  EXPECT_EQ(Utf8ToCp1251("a😀b"), "a?b");
  EXPECT_EQ(Utf16ToCp1251(u"漢a"), "?a");
  EXPECT_EQ(Cp1251ToUtf8("a\x98z"), "a" + kReplacement + "z");

  // Malformed input is replaced, and the rest is still converted.
  EXPECT_EQ(Utf8ToCp1251("a\xFF\xD0\x9F"), "a?\xCF");
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("a\xD0"), u"a\uFFFD");  // cut off sequence
  const std::u16string lone = {u'a', char16_t(0xD800), u'b'};
  EXPECT_EQ(Utf16ToUtf8(lone), "a" + kReplacement + "b");
  const std::u16string trailing = {u'a', char16_t(0xDC00)};
  EXPECT_EQ(Utf16ToUtf8(trailing), "a" + kReplacement);
  EXPECT_EQ(Utf16ToUtf8(u"😀"), "😀");
}

TEST(TextCodec, LowerCaseKeepsEveryByteLength) {
  const std::string upper = "ПРИБОР Ёлка ЇҐЎ ÀÉ ABC 漢 × 😀";
  const std::string lower = Utf8LowerSameLength(upper);
  EXPECT_EQ(lower, "прибор ёлка їґў àé abc 漢 × 😀");
  EXPECT_EQ(lower.size(), upper.size());
  const std::string malformed = "A\xD0\xFF\xD0";
  EXPECT_EQ(Utf8LowerSameLength(malformed), "a\xD0\xFF\xD0");
}

}  // namespace
