// The RTF reader: groups, destinations, \*, \bin, escapes, Unicode, code
// pages and encapsulated HTML.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "messaging/rtf_text.h"
#include "support/test_paths.h"

namespace bm {
namespace {

struct Converted {
    int result;
    std::string text;
};

Converted Convert(std::string_view rtf) {
    Converted c{0, {}};
    c.result = RtfToText(std::span(reinterpret_cast<const std::uint8_t*>(rtf.data()), rtf.size()), c.text);
    return c;
}

TEST(RtfTextGroups, FontTableIsSkippedAndParagraphsBecomeLineFeeds) {
    const auto c = Convert("{\\rtf1{\\fonttbl{\\f0 Arial;}}Hello\\par World}");
    EXPECT_EQ(c.text, "Hello\nWorld");
    EXPECT_EQ(c.result, kRtfOk);
}

TEST(RtfTextGroups, ExtraClosingBraceIsAStackUnderflowAfterTheText) {
    const auto c = Convert("{\\rtf1 Hello}}");
    EXPECT_EQ(c.text, "Hello");
    EXPECT_EQ(c.result, kRtfStackUnderflow);
}

TEST(RtfTextGroups, UnclosedGroupIsReportedWithTheTextKept) {
    const auto c = Convert("{\\rtf1 {\\b bold} plain");
    EXPECT_EQ(c.text, "bold plain");
    EXPECT_EQ(c.result, kRtfUnmatchedBrace);
}

// What each piece of RTF reads as.
struct TextCase {
    const char* what;
    std::string rtf;
    std::string text;
};

const TextCase kTextCases[] = {
    {"skipping ends with the group that started it", "{\\rtf1 a{\\header{nested} h}b{\\info{\\title T}}c}", "abc"},
    {"a starred unknown destination is skipped", "{\\rtf1 {\\*\\unknownword text}x}", "x"},
    {"an unknown word without a star keeps its text", "{\\rtf1 {\\unknownword text}}", "text"},
    {"a star before a known word acts like the word", "{\\rtf1 {\\*\\par}x}", "\nx"},
    {"tabs and quotes", "{\\rtf1 a\\tab b \\ldblquote x\\rdblquote }", "a\tb \"x\""},
    {"escaped braces and backslash", "{\\rtf1 \\{a\\}\\\\}", "{a}\\"},
    {"line breaks in the file are not text", "{\\rtf1 one\r\ntwo\nthree}", "onetwothree"},
    {"a space after a control word is its delimiter", "{\\rtf1 \\b  two}", " two"},
    {"single quotes and dashes are kept", "{\\rtf1 don\\rquote t\\emdash ok}", "don\u2019t\u2014ok"},
    {"binary bytes are taken whatever they are", "{\\rtf1 a\\bin3 {}\\b}", "a{}\\b"},
    {"zero bytes count towards the binary length", std::string("{\\rtf1 \\bin2 \0\0z}", 17), "z"},
    {"hex escape in code page 1252", "{\\rtf1\\ansi\\ansicpg1252 caf\\'e9}", "caf\u00e9"},
    {"hex escape in code page 1251", "{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}", "\u041f\u0440\u0438"},
    {"hex escape in code page 1253", "{\\rtf1\\ansi\\ansicpg1253 \\'e1}", "\u03b1"},
    {"without a code page bytes are Windows-1252", "{\\rtf1 \\'80 \\'e9}", "\u20ac \u00e9"},
    // Shift-JIS 0x82 0xA0 is HIRAGANA LETTER A.
    {"a double-byte code page keeps its pairs", "{\\rtf1\\ansi\\ansicpg932 \\'82\\'a0}", "\u3042"},
    {"a Unicode escape skips one fallback", "{\\rtf1 caf\\u233?s}", "caf\u00e9s"},
    {"the fallback count follows \\uc", "{\\rtf1\\uc2 \\u1055\\'cf\\'cf x}", "\u041f x"},
    {"\\uc0 has no fallback", "{\\rtf1\\uc0 \\u1055 x}", "\u041fx"},
    {"\\uc is restored at the end of a group", "{\\rtf1 {\\uc3 a}\\u233?b}", "a\u00e9b"},
    // U+FF01 as -255; U+1F600 as the pair D83D DE00 (-10179, -8704).
    {"negative values and surrogate pairs", "{\\rtf1 \\u-255?\\u-10179?\\u-8704?}", "\uff01\U0001F600"},
    {"Unicode inside a skipped destination is not output", "{\\rtf1 {\\*\\foo \\u233?}x}", "x"},
};

TEST(RtfText, EachPieceReadsAsItsText) {
    for (const TextCase& c : kTextCases) EXPECT_EQ(Convert(c.rtf).text, c.text) << c.what;
}

TEST(RtfTextBinary, BinaryDataInsideASkippedPictureIsDiscardedIncludingBraces) {
    std::string rtf = "{\\rtf1 {\\pict\\bin4 ";
    rtf += std::string("}{\0\\", 4);
    rtf += "}after}";
    const auto c = Convert(rtf);
    EXPECT_EQ(c.text, "after");
    EXPECT_EQ(c.result, kRtfOk);
}

TEST(RtfTextEscapes, InvalidHexDigitStopsWithResultFour) {
    const auto c = Convert("{\\rtf1 ok\\'zz}");
    EXPECT_EQ(c.result, kRtfInvalidHex);
    EXPECT_EQ(c.text, "ok");
}

TEST(RtfTextBounds, OverlongKeywordAndParameterAreCut) {
    const std::string longWord(500, 'q');
    const std::string longNumber(500, '9');
    const auto c = Convert("{\\rtf1 \\" + longWord + longNumber + " x\\u" + longNumber + "?y}");
    EXPECT_EQ(c.result, kRtfOk);
    EXPECT_EQ(c.text.substr(0, 1), "x");
    EXPECT_EQ(c.text.back(), 'y');
}

TEST(RtfTextBounds, EndOfInputInsideAControlWord) {
    EXPECT_EQ(Convert("{\\rtf1 a\\").result, kRtfEndOfFile);
    EXPECT_EQ(Convert("{\\rtf1 a\\li-").result, kRtfEndOfFile);
}

TEST(RtfTextEncapsulated, HtmlTagsStayOutAndTheReadableTextRemains) {
    const auto c = Convert(
        "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
        "{\\*\\htmltag19 <html>}{\\*\\htmltag34 <head>}{\\*\\htmltag241 <style>}"
        "{\\*\\htmltag241 p {margin:0}}{\\*\\htmltag249 </style>}{\\*\\htmltag41 </head>}"
        "{\\*\\htmltag50 <body>}\\htmlrtf {\\htmlrtf0 {\\*\\htmltag64 <p>}\\htmlrtf {\\htmlrtf0 Hello "
        "{\\*\\htmltag84 <b>}\\htmlrtf {\\b \\htmlrtf0 world\\htmlrtf }\\htmlrtf0 {\\*\\htmltag92 </b>}"
        "{\\*\\htmltag84 &nbsp;}\\htmlrtf \\'a0\\htmlrtf0 !\\htmlrtf }\\htmlrtf0 "
        "{\\*\\htmltag72 </p>}\\htmlrtf \\par \\htmlrtf0 }\\htmlrtf0 {\\*\\htmltag58 </body>}}");
    EXPECT_EQ(c.text, "Hello world\u00a0!\n");
    EXPECT_EQ(c.text.find('<'), std::string::npos);
}

TEST(RtfTextEncapsulated, PlainTextRtfYieldsItsLines) {
    const auto c = Convert(
        "{\\rtf1\\ansi\\ansicpg1252\\fromtext \\deff0{\\fonttbl{\\f0\\fmodern Courier New;}}"
        "\\uc1\\pard\\plain\\f0\\fs20 First line\\par\r\nSecond line\\par\r\n}");
    EXPECT_EQ(c.text, "First line\nSecond line\n");
}

TEST(RtfTextFile, ReadsAnOpenFileToItsEnd) {
    const auto path = bmtest::ScratchDir("rtf-text-file") / "temp.rtf";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("{\\rtf1 file text\\par}", f);
    std::fclose(f);
    f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string out = "kept:";
    EXPECT_EQ(RtfToText(f, out), kRtfOk);
    std::fclose(f);
    EXPECT_EQ(out, "kept:file text\n");
}

}  // namespace
}  // namespace bm
