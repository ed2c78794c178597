#include "common/byte_reader.h"
#include "common/utf.h"

#include <gtest/gtest.h>

#include <array>

namespace bm {
namespace {

TEST(ByteReader, ReadsLittleEndianAndFailsAtTheEndWithoutMoving) {
    const std::array<std::uint8_t, 7> bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    ByteReader r(bytes);
    EXPECT_EQ(r.readU16(), 0x0201);
    EXPECT_EQ(r.readU32(), 0x06050403u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.readU16(), 0);  // only one byte left
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(r.position(), 6u);
    EXPECT_EQ(r.readU8(), 7);
}

TEST(ByteReader, SubRangesAndPeeksStayInsideTheBuffer) {
    const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
    ByteReader r(bytes);
    EXPECT_TRUE(r.sub(4, 0).ok());
    EXPECT_TRUE(r.sub(3, 2).failed());
    EXPECT_TRUE(r.sub(SIZE_MAX, 2).failed());
    EXPECT_FALSE(r.peekAt(3, 2).has_value());
    EXPECT_EQ(r.peekAt(2, 2).value(), 0x0403u);
    EXPECT_TRUE(r.readBytes(5).empty());
    EXPECT_TRUE(r.failed());
    EXPECT_FALSE(r.seek(5));
}

TEST(Utf, Utf16LeBecomesUtf8WithSurrogatesAndReplacement) {
    // "Жa" + U+1F600 + lone high surrogate + "b", then NUL and more text.
    const std::array<std::uint8_t, 16> bytes{0x16, 0x04, 0x61, 0x00, 0x3D, 0xD8, 0x00, 0xDE,
                                             0x00, 0xD8, 0x62, 0x00, 0x00, 0x00, 0x63, 0x00};
    EXPECT_EQ(Utf16LeToUtf8(bytes), "\xD0\x96" "a" "\xF0\x9F\x98\x80" "\xEF\xBF\xBD" "b");
}

TEST(Utf, Utf8RoundTripsThroughUtf16) {
    const std::string text = "Grüße Привет 日本 \xF0\x9F\x98\x80";
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
    EXPECT_EQ(Utf8ToUtf16LeBytes("A"), std::string("A\0", 2));
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_FALSE(IsValidUtf8("\xC3"));
}

TEST(Utf, EveryCodePointRoundTripsAndBrokenInputBecomesReplacements) {
    // Every scalar value of each UTF-8 length, as UTF-16LE bytes and back.
    std::u16string units;
    std::string expected;
    for (char32_t cp : {U'\u0001', U'\u007F', U'\u0080', U'\u07FF', U'\u0800', U'\uD7FF', U'\uE000', U'\uFFFD',
                        U'\uFFFF', U'\U00010000', U'\U0010FFFF'}) {
        AppendUtf8(expected, cp);
        if (cp >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
    }
    EXPECT_EQ(Utf16ToUtf8(units), expected);
    EXPECT_EQ(Utf8ToUtf16(expected), units);
    const std::string le = Utf8ToUtf16LeBytes(expected);
    ASSERT_EQ(le.size(), units.size() * 2);
    EXPECT_EQ(Utf16LeToUtf8(std::span(reinterpret_cast<const std::uint8_t*>(le.data()), le.size())), expected);
    // A lone low surrogate, a high one at the very end and an odd last byte.
    const std::array<std::uint8_t, 7> broken{0x00, 0xDC, 0x41, 0x00, 0x00, 0xD8, 0x42};
    EXPECT_EQ(Utf16LeToUtf8(broken), "\xEF\xBF\xBD" "A" "\xEF\xBF\xBD");
    // A cut sequence, a stray continuation byte and an overlong form each
    // give U+FFFD in UTF-16.
    EXPECT_EQ(Utf8ToUtf16("a\xE2\x82"), u"a\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\x80z"), u"\uFFFDz");
    EXPECT_EQ(Utf8ToUtf16LeBytes("\xC0\xAF"), std::string("\xFD\xFF", 2));
    EXPECT_TRUE(Utf8ToUtf16LeBytes("").empty());
    EXPECT_TRUE(Utf16LeToUtf8({}).empty());
}

TEST(Utf, CodePagesConvertToUtf8) {
    const std::array<std::uint8_t, 3> cyrillic{0xCF, 0xF0, 0xE8};  // "При" in Windows-1251
    EXPECT_EQ(CodePageToUtf8(cyrillic, 1251), "\xD0\x9F\xD1\x80\xD0\xB8");
    const std::array<std::uint8_t, 2> latin{0xE5, 0x80};  // å and the euro sign in Windows-1252
    EXPECT_EQ(CodePageToUtf8(latin, 1252), "\xC3\xA5\xE2\x82\xAC");
    EXPECT_EQ(CodePageToUtf8(latin, 99999), "\xC3\xA5\xE2\x82\xAC");  // unknown page reads as 1252
    EXPECT_EQ(CodePageByteToCodePoint(0xC0, 1251), U'\u0410');
}

}  // namespace
}  // namespace bm
