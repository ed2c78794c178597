// The compressed-RTF decoder: published examples, stored streams, overlapping
// references and damaged streams.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "messaging/compressed_rtf.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The header of a stream around `payload`, with a correct COMPSIZE and CRC.
Bytes Stream(const Bytes& payload, std::uint32_t rawSize, std::uint32_t type = kRtfCompressedType) {
    Bytes out(16);
    PutLe(out.data(), payload.size() + 12, 4);
    PutLe(out.data() + 4, rawSize, 4);
    PutLe(out.data() + 8, type, 4);
    PutLe(out.data() + 12, type == kRtfCompressedType ? ComputeCrc(payload) : 0, 4);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// [MS-OXRTFCP] example: compressed RTF with literals only and references
// into the initial dictionary.
const Bytes kSimpleExample = {0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75,
                              0xf1, 0xc5, 0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00, 0x72, 0x63, 0x70, 0x67,
                              0x31, 0x32, 0x35, 0x42, 0x32, 0x0a, 0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09,
                              0x00, 0x20, 0x62, 0x77, 0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f,
                              0xa0};
// [MS-OXRTFCP] example: a reference that overlaps the bytes it produces.
const Bytes kCrossingExample = {0x1a, 0x00, 0x00, 0x00, 0x1c, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75, 0xe2,
                                0xd4, 0x4b, 0x51, 0x41, 0x00, 0x04, 0x20, 0x57, 0x58, 0x59, 0x5a, 0x0d, 0x6e,
                                0x7d, 0x01, 0x0e, 0xb0};

TEST(CompressedRtfPublishedExamples, SimpleStreamDecodesToTheDocumentWithItsCrcConfirmed) {
    RtfDecodeReport report;
    const Bytes rtf = DecodeCompressedRtf(kSimpleExample, &report);
    EXPECT_EQ(AsText(rtf), "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n");
    EXPECT_TRUE(report.crcMatches);
    EXPECT_TRUE(report.endMarkerSeen);
    EXPECT_FALSE(report.truncated);
    EXPECT_TRUE(report.compressed);
    EXPECT_EQ(report.rawSize, 43u);
}

TEST(CompressedRtfPublishedExamples, OverlappingReferenceRepeatsTheRun) {
    RtfDecodeReport report;
    const Bytes rtf = DecodeCompressedRtf(kCrossingExample, &report);
    EXPECT_EQ(AsText(rtf), "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}");
    EXPECT_TRUE(report.crcMatches);
    EXPECT_TRUE(report.endMarkerSeen);
}

TEST(CompressedRtfPublishedExamples, NoClosingBracesAreAppended) {
    const Bytes rtf = DecodeCompressedRtf(kCrossingExample);
    ASSERT_GE(rtf.size(), 2u);
    EXPECT_NE(AsText(rtf).substr(rtf.size() - 2), "}}");
}

TEST(CompressedRtfStoredStream, MelaStreamIsCopiedAsIs) {
    const std::string doc = "{\\rtf1\\ansi\\ansicpg1252\\pard test}";
    RtfDecodeReport report;
    const Bytes rtf = DecodeCompressedRtf(Stream(Bytes(doc.begin(), doc.end()), doc.size(), kRtfUncompressedType),
                                          &report);
    EXPECT_EQ(AsText(rtf), doc);
    EXPECT_FALSE(report.compressed);
    EXPECT_TRUE(report.knownType);
    EXPECT_FALSE(report.truncated);
}

TEST(CompressedRtfStoredStream, MelaStreamShorterThanRawSizeIsCopiedAndReportedTruncated) {
    const std::string doc = "{\\rtf1 abc}";
    RtfDecodeReport report;
    const Bytes rtf = DecodeCompressedRtf(Stream(Bytes(doc.begin(), doc.end()), 100, kRtfUncompressedType), &report);
    EXPECT_EQ(AsText(rtf), doc);
    EXPECT_TRUE(report.truncated);
}

TEST(CompressedRtfDecoding, LiteralRunsReproduceEveryByteIncludingTheLast) {
    // Two runs of eight literals, then an end marker at write position 223.
    Bytes payload = {0x00, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0x00, 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
                     0x01, 0x0D, 0xF0};
    const Bytes rtf = DecodeCompressedRtf(Stream(payload, 1000));
    EXPECT_EQ(AsText(rtf), "ABCDEFGHIJKLMNOP");
}

TEST(CompressedRtfDecoding, ReferenceCopiesFromTheInitialDictionary) {
    // Word 0x00CF: offset 12, length 17, from the 13th character on.
    const Bytes payload = {0x01, 0x00, 0xCF};
    const Bytes rtf = DecodeCompressedRtf(Stream(payload, 17));
    const std::string dict(kRtfDictionary.begin(), kRtfDictionary.end());
    EXPECT_EQ(AsText(rtf), dict.substr(12, 17));
}

TEST(CompressedRtfDecoding, ReferenceOneBehindTheWritePositionRepeatsThePreviousByte) {
    // Literal 'x' at 207, then a reference to 207 of length 5 from write position 208.
    const std::uint16_t word = (207 << 4) | (5 - 2);
    const Bytes payload = {0x02, 'x', static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word & 0xFF)};
    const Bytes rtf = DecodeCompressedRtf(Stream(payload, 6));
    EXPECT_EQ(AsText(rtf), "xxxxxx");
}

TEST(CompressedRtfDecoding, StopsOnceRawSizeBytesWereProduced) {
    const Bytes payload = {0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    RtfDecodeReport report;
    const Bytes rtf = DecodeCompressedRtf(Stream(payload, 5), &report);
    EXPECT_EQ(AsText(rtf), "abcde");
    EXPECT_FALSE(report.truncated);
}

TEST(CompressedRtfDecoding, WriteIntoTheDictionaryWrapsAround) {
    // 4100 literals push the write position past the end of the ring; a
    // reference to offset 0 then reads what was written there last.
    Bytes payload;
    std::string expected;
    for (int run = 0; run < 513; ++run) {
        payload.push_back(0x00);
        for (int k = 0; k < 8; ++k) {
            const auto c = static_cast<std::uint8_t>('a' + (run * 8 + k) % 26);
            payload.push_back(c);
            expected.push_back(static_cast<char>(c));
        }
    }
    // Write position is now (207 + 4104) % 4096 = 215; offset 0 holds byte 3889.
    payload.push_back(0x01);
    payload.push_back(0x00);
    payload.push_back(0x00);  // offset 0, length 2
    expected += expected.substr(3889, 2);
    const Bytes rtf = DecodeCompressedRtf(Stream(payload, static_cast<std::uint32_t>(expected.size())));
    EXPECT_EQ(AsText(rtf), expected);
}

TEST(CompressedRtfDamage, CrcMismatchIsReportedAndDecodingGoesOn) {
    Bytes value = kSimpleExample;
    value[12] ^= 0xFF;
    RtfDecodeReport report;
    const Bytes rtf = DecodeCompressedRtf(value, &report);
    EXPECT_FALSE(report.crcMatches);
    EXPECT_EQ(AsText(rtf), "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n");
}

TEST(CompressedRtfDamage, TruncatedValueDecodesWhatItHoldsAndSaysSo) {
    const Bytes value(kSimpleExample.begin(), kSimpleExample.begin() + 30);
    RtfDecodeReport report;
    const Bytes rtf = DecodeCompressedRtf(value, &report);
    EXPECT_TRUE(report.truncated);
    EXPECT_FALSE(report.endMarkerSeen);
    EXPECT_EQ(AsText(rtf).substr(0, 20), "{\\rtf1\\ansi\\ansicpg1");
    EXPECT_LT(rtf.size(), 43u);
}

TEST(CompressedRtfDamage, ReferenceCutInHalfEndsTheStream) {
    const Bytes payload = {0x02, 'x', 0x0C};  // the reference's second byte is missing
    RtfDecodeReport report;
    const Bytes rtf = DecodeCompressedRtf(Stream(payload, 10), &report);
    EXPECT_EQ(AsText(rtf), "x");
    EXPECT_TRUE(report.truncated);
}

TEST(CompressedRtfDamage, ValueShorterThanTheHeaderGivesNothing) {
    RtfDecodeReport report;
    EXPECT_TRUE(DecodeCompressedRtf(Bytes{0x10, 0x00, 0x00}, &report).empty());
    EXPECT_FALSE(report.headerComplete);
    EXPECT_TRUE(report.truncated);
}

TEST(CompressedRtfDamage, CompSizeBelowTwelveGivesAnEmptyPayload) {
    Bytes value = kSimpleExample;
    PutLe(value.data(), 5, 4);
    RtfDecodeReport report;
    EXPECT_TRUE(DecodeCompressedRtf(value, &report).empty());
    EXPECT_TRUE(report.truncated);
}

TEST(CompressedRtfFile, WritesTheDecodedStreamAndReplacesAnEarlierFile) {
    const auto dir = bmtest::ScratchDir("compressed-rtf-file");
    const auto path = dir / "temp.rtf";
    ASSERT_EQ(DecompressRtf(kSimpleExample, path), 0);
    ASSERT_EQ(DecompressRtf(kCrossingExample, path), 0);
    std::ifstream in(path, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}");
}

TEST(CompressedRtfFile, UnwritablePathFails) {
    const auto dir = bmtest::ScratchDir("compressed-rtf-unwritable");
    EXPECT_EQ(DecompressRtf(kSimpleExample, dir / "missing" / "temp.rtf"), 1);
}

}  // namespace
}  // namespace bm
