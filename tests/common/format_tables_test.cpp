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

TEST(Crypt, PermutationOfLongBuffersIsTheTableByteForByte) {
    // Long buffers take the wide path where the processor has it: every
    // length around its 64-byte steps must match the table exactly.
    std::vector<std::uint8_t> data(9000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 151 + (i >> 8));
    for (const std::size_t n : {std::size_t{63}, std::size_t{64}, std::size_t{65}, std::size_t{127},
                                std::size_t{200}, std::size_t{8176}, std::size_t{9000}}) {
        for (const std::size_t at : {std::size_t{0}, std::size_t{3}}) {
            if (at + n > data.size()) continue;
            std::vector<std::uint8_t> encoded(data.begin() + static_cast<std::ptrdiff_t>(at),
                                              data.begin() + static_cast<std::ptrdiff_t>(at + n));
            EncodeBytes(encoded, CryptMethod::Permute, 0);
            for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(encoded[i], kCryptEncode[data[at + i]]) << n << " " << i;
            DecodeBytes(encoded, CryptMethod::Permute, 0);
            for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(encoded[i], data[at + i]) << n << " " << i;
        }
    }
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

TEST(Crc, MatchesTheZlibOracleOnEveryLengthAndAlignmentOfTheFoldedPath) {
    // Lengths from 64 up take the folding path where the processor has it;
    // every length and start offset must give the oracle's value, with and
    // without a running CRC coming in.
    std::vector<std::uint8_t> data(1 << 20);
    std::uint32_t x = 0x9E3779B9u;
    for (auto& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    const auto oracle = [&](std::size_t at, std::size_t n, std::uint32_t from) {
        return static_cast<std::uint32_t>(crc32(from ^ 0xFFFFFFFFu, data.data() + at, static_cast<uInt>(n)) ^
                                          0xFFFFFFFFu);
    };
    for (std::size_t at = 0; at < 16; ++at) {
        for (std::size_t n = 0; n <= 400; ++n) {
            ASSERT_EQ(ComputeCrc(std::span(data).subspan(at, n)), oracle(at, n, 0)) << at << " " << n;
            ASSERT_EQ(ComputeCrc(std::span(data).subspan(at, n), 0xDEADBEEFu), oracle(at, n, 0xDEADBEEFu))
                << at << " " << n;
        }
    }
    for (const std::size_t n : {std::size_t{8176}, std::size_t{8192}, std::size_t{65536 + 13}, std::size_t{1} << 20}) {
        EXPECT_EQ(ComputeCrc(std::span(data).first(n)), oracle(0, n, 0)) << n;
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
