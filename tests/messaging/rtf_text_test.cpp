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

TEST(RtfTextGroups, SkippingEndsWithTheGroupThatStartedIt) {
    const auto c = Convert("{\\rtf1 a{\\header{nested} h}b{\\info{\\title T}}c}");
    EXPECT_EQ(c.text, "abc");
}

TEST(RtfTextDestinations, StarredUnknownDestinationIsSkipped) {
    EXPECT_EQ(Convert("{\\rtf1 {\\*\\unknownword text}x}").text, "x");
}

TEST(RtfTextDestinations, UnknownWordWithoutStarKeepsItsText) {
    EXPECT_EQ(Convert("{\\rtf1 {\\unknownword text}}").text, "text");
}

TEST(RtfTextDestinations, StarBeforeAKnownWordActsLikeTheWord) {
    EXPECT_EQ(Convert("{\\rtf1 {\\*\\par}x}").text, "\nx");
}

TEST(RtfTextCharacters, TabsAndQuotes) {
    EXPECT_EQ(Convert("{\\rtf1 a\\tab b \\ldblquote x\\rdblquote }").text, "a\tb \"x\"");
}

TEST(RtfTextCharacters, EscapedBracesAndBackslash) {
    EXPECT_EQ(Convert("{\\rtf1 \\{a\\}\\\\}").text, "{a}\\");
}

TEST(RtfTextCharacters, LineBreaksInTheFileAreNotText) {
    EXPECT_EQ(Convert("{\\rtf1 one\r\ntwo\nthree}").text, "onetwothree");
}

TEST(RtfTextCharacters, SpaceAfterAControlWordIsItsDelimiter) {
    EXPECT_EQ(Convert("{\\rtf1 \\b  two}").text, " two");
}

TEST(RtfTextCharacters, SingleQuotesAndDashesAreKept) {
    EXPECT_EQ(Convert("{\\rtf1 don\\rquote t\\emdash ok}").text, "don\u2019t\u2014ok");
}

TEST(RtfTextBinary, BinaryBytesAreTakenWhateverTheyAre) {
    const std::string rtf = std::string("{\\rtf1 a\\bin3 {}\\b}");
    EXPECT_EQ(Convert(rtf).text, "a{}\\b");
}

TEST(RtfTextBinary, BinaryDataInsideASkippedPictureIsDiscardedIncludingBraces) {
    std::string rtf = "{\\rtf1 {\\pict\\bin4 ";
    rtf += std::string("}{\0\\", 4);
    rtf += "}after}";
    const auto c = Convert(rtf);
    EXPECT_EQ(c.text, "after");
    EXPECT_EQ(c.result, kRtfOk);
}

TEST(RtfTextBinary, ZeroBytesCountTowardsTheBinaryLength) {
    std::string rtf = "{\\rtf1 \\bin2 ";
    rtf += std::string("\0\0", 2);
    rtf += "z}";
    EXPECT_EQ(Convert(rtf).text, "z");
}

TEST(RtfTextEscapes, HexEscapeIsDecodedInTheDocumentCodePage) {
    EXPECT_EQ(Convert("{\\rtf1\\ansi\\ansicpg1252 caf\\'e9}").text, "caf\u00e9");
    EXPECT_EQ(Convert("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}").text, "\u041f\u0440\u0438");
    EXPECT_EQ(Convert("{\\rtf1\\ansi\\ansicpg1253 \\'e1}").text, "\u03b1");
}

TEST(RtfTextEscapes, WithoutACodePageBytesAreWindows1252) {
    EXPECT_EQ(Convert("{\\rtf1 \\'80 \\'e9}").text, "\u20ac \u00e9");
}

TEST(RtfTextEscapes, DoubleByteCodePageKeepsItsPairs) {
    // Shift-JIS 0x82 0xA0 is HIRAGANA LETTER A.
    EXPECT_EQ(Convert("{\\rtf1\\ansi\\ansicpg932 \\'82\\'a0}").text, "\u3042");
}

TEST(RtfTextEscapes, InvalidHexDigitStopsWithResultFour) {
    const auto c = Convert("{\\rtf1 ok\\'zz}");
    EXPECT_EQ(c.result, kRtfInvalidHex);
    EXPECT_EQ(c.text, "ok");
}

TEST(RtfTextUnicode, UnicodeEscapeGivesTheCharacterAndSkipsOneFallback) {
    EXPECT_EQ(Convert("{\\rtf1 caf\\u233?s}").text, "caf\u00e9s");
}

TEST(RtfTextUnicode, FallbackCountFollowsUc) {
    EXPECT_EQ(Convert("{\\rtf1\\uc2 \\u1055\\'cf\\'cf x}").text, "\u041f x");
    EXPECT_EQ(Convert("{\\rtf1\\uc0 \\u1055 x}").text, "\u041fx");
}

TEST(RtfTextUnicode, UcIsRestoredAtTheEndOfAGroup) {
    EXPECT_EQ(Convert("{\\rtf1 {\\uc3 a}\\u233?b}").text, "a\u00e9b");
}

TEST(RtfTextUnicode, NegativeValuesAndSurrogatePairs) {
    // U+FF01 as -255; U+1F600 as the pair D83D DE00 (-10179, -8704).
    EXPECT_EQ(Convert("{\\rtf1 \\u-255?\\u-10179?\\u-8704?}").text, "\uff01\U0001F600");
}

TEST(RtfTextUnicode, UnicodeInsideASkippedDestinationIsNotOutput) {
    EXPECT_EQ(Convert("{\\rtf1 {\\*\\foo \\u233?}x}").text, "x");
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
