#include "common/format_tables.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <numeric>
#include <vector>

namespace bm {
namespace {

std::vector<std::uint8_t> AllBytes() {
    std::vector<std::uint8_t> v(256);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

TEST(Crypt, PermutationDecodeUndoesEncodeForEveryByte) {
    auto data = AllBytes();
    EncodeBytes(data, CryptMethod::Permute, 0);
    EXPECT_NE(data, AllBytes());
    DecodeBytes(data, CryptMethod::Permute, 0);
    EXPECT_EQ(data, AllBytes());
}

TEST(Crypt, CyclicIsItsOwnInverseAndDependsOnTheKey) {
    auto data = AllBytes();
    EncodeBytes(data, CryptMethod::Cyclic, 0x12345678);
    auto other = AllBytes();
    EncodeBytes(other, CryptMethod::Cyclic, 0x12345679);
    EXPECT_NE(data, other);
    DecodeBytes(data, CryptMethod::Cyclic, 0x12345678);
    EXPECT_EQ(data, AllBytes());
}

TEST(Crypt, NoneLeavesBytesAlone) {
    auto data = AllBytes();
    DecodeBytes(data, CryptMethod::None, 7);
    EXPECT_EQ(data, AllBytes());
}

TEST(Crc, MatchesTheZlibOracleOnOddLengths) {
    // The store CRC starts at 0 and is not inverted: crc(d) == zlib(d, ~0) ^ ~0.
    std::vector<std::uint8_t> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + 7);
    for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 500u, 999u}) {
        const auto expected = static_cast<std::uint32_t>(crc32(0xFFFFFFFFu, data.data(), static_cast<uInt>(n)) ^ 0xFFFFFFFFu);
        EXPECT_EQ(ComputeCrc(std::span(data.data(), n)), expected) << n;
    }
}

TEST(Crc, ContinuesAcrossPieces) {
    std::vector<std::uint8_t> data(100, 0xAB);
    const auto whole = ComputeCrc(data);
    const auto split = ComputeCrc(std::span(data).subspan(37), ComputeCrc(std::span(data).first(37)));
    EXPECT_EQ(whole, split);
}

TEST(Signature, FoldsTheLow32BitsOfOffsetXorBid) {
    EXPECT_EQ(ComputeSignature(0x4400, 0x4400), 0);
    EXPECT_EQ(ComputeSignature(0x12340000, 0x5678), 0x1234 ^ 0x5678);
    EXPECT_EQ(ComputeSignature(0x100000000ull, 0), 0);  // bits above 32 do not count
}

TEST(RtfDictionary, HoldsCrLfAt168) {
    EXPECT_EQ(kRtfDictionary[0], '{');
    EXPECT_EQ(kRtfDictionary[168], '\r');
    EXPECT_EQ(kRtfDictionary[169], '\n');
}

}  // namespace
}  // namespace bm
