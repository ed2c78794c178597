#include "output/pst/message_rtf.h"

#include <algorithm>
#include <array>

#include "common/byte_reader.h"
#include "common/format_tables.h"

namespace bm::pst {

namespace {

constexpr std::uint32_t kCompressedSignature = 0x75465A4C;    // "LZFu"
constexpr std::uint32_t kUncompressedSignature = 0x414C454D;  // "MELA"
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kRingSize = 4096;
constexpr std::size_t kMinMatch = 2;
constexpr std::size_t kMaxMatch = 17;
constexpr std::size_t kHashBits = 14;
constexpr std::size_t kMaxChain = 48;

void PutHeader(std::vector<std::uint8_t>& out, std::size_t rawSize, std::uint32_t signature, std::uint32_t crc) {
    PutLe(out.data(), out.size() - 4, 4);
    PutLe(out.data() + 4, rawSize, 4);
    PutLe(out.data() + 8, signature, 4);
    PutLe(out.data() + 12, crc, 4);
}

// Finds matches in the preload + text stream with hash chains over 3-byte
// prefixes; chains are kept for the last 4096 positions only.
class MatchFinder {
public:
    explicit MatchFinder(const std::vector<std::uint8_t>& stream) : s_(stream) {
        head_.fill(-1);
        prev_.fill(-1);
    }
    void Insert(std::size_t pos) {
        if (pos + 3 > s_.size()) return;
        const std::size_t h = Hash(pos);
        prev_[pos % kRingSize] = head_[h];
        head_[h] = static_cast<std::int64_t>(pos);
    }
    // Longest match for pos among earlier positions less than a ring away.
    std::pair<std::size_t, std::size_t> Longest(std::size_t pos) const {
        std::size_t bestLen = 0, bestPos = 0;
        if (pos + 3 > s_.size()) return {0, 0};
        const std::size_t limit = std::min(kMaxMatch, s_.size() - pos);
        std::int64_t cand = head_[Hash(pos)];
        for (std::size_t steps = 0; cand >= 0 && steps < kMaxChain; ++steps) {
            const auto q = static_cast<std::size_t>(cand);
            if (pos - q >= kRingSize) break;
            std::size_t len = 0;
            while (len < limit && s_[q + len] == s_[pos + len]) ++len;
            if (len > bestLen) {
                bestLen = len;
                bestPos = q;
                if (len == limit) break;
            }
            const std::int64_t next = prev_[q % kRingSize];
            if (next >= cand) break;  // the slot was reused by a newer position
            cand = next;
        }
        return {bestLen, bestPos};
    }

private:
    std::size_t Hash(std::size_t pos) const {
        const std::uint32_t v = (std::uint32_t{s_[pos]} << 16) | (std::uint32_t{s_[pos + 1]} << 8) | s_[pos + 2];
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    const std::vector<std::uint8_t>& s_;
    std::array<std::int64_t, std::size_t{1} << kHashBits> head_{};
    std::array<std::int64_t, kRingSize> prev_{};
};

}  // namespace

std::vector<std::uint8_t> CompressRtf(std::span<const std::uint8_t> rtf) {
    std::vector<std::uint8_t> stream(kRtfDictionary.begin(), kRtfDictionary.end());
    const std::size_t preload = stream.size();
    stream.insert(stream.end(), rtf.begin(), rtf.end());
    MatchFinder finder(stream);
    for (std::size_t i = 0; i + 3 <= preload; ++i) finder.Insert(i);

    std::vector<std::uint8_t> out(kHeaderSize, 0);
    std::size_t flagAt = 0;
    int tokens = 8;  // forces a flag byte before the first token
    auto startToken = [&](bool reference) {
        if (tokens == 8) {
            flagAt = out.size();
            out.push_back(0);
            tokens = 0;
        }
        if (reference) out[flagAt] |= static_cast<std::uint8_t>(1u << tokens);
        ++tokens;
    };
    auto putReference = [&](std::size_t ringPos, std::size_t len) {
        const auto v = static_cast<std::uint16_t>(((ringPos % kRingSize) << 4) | (len - kMinMatch));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    };
    std::size_t pos = preload;
    while (pos < stream.size()) {
        auto [len, at] = finder.Longest(pos);
        if (len >= kMinMatch) {
            startToken(true);
            putReference(at, len);
        } else {
            len = 1;
            startToken(false);
            out.push_back(stream[pos]);
        }
        for (std::size_t k = 0; k < len; ++k) finder.Insert(pos + k);
        pos += len;
    }
    startToken(true);
    putReference(pos, kMinMatch);  // end marker: the current write position
    const std::uint32_t crc = ComputeCrc(std::span<const std::uint8_t>(out).subspan(kHeaderSize));
    PutHeader(out, rtf.size(), kCompressedSignature, crc);
    return out;
}

std::vector<std::uint8_t> StoreRtfUncompressed(std::span<const std::uint8_t> rtf) {
    // Sized once and filled: inserting into the bare header makes the
    // optimiser warn of bounds the copy does not cross.
    std::vector<std::uint8_t> out(kHeaderSize + rtf.size(), 0);
    std::copy(rtf.begin(), rtf.end(), out.begin() + static_cast<std::ptrdiff_t>(kHeaderSize));
    PutHeader(out, rtf.size(), kUncompressedSignature, 0);
    return out;
}

}  // namespace bm::pst
