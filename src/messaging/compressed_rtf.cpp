#include "messaging/compressed_rtf.h"

#include <algorithm>
#include <array>
#include <fstream>

#include "common/byte_reader.h"
#include "common/format_tables.h"

namespace bm {

namespace {

constexpr std::size_t kDictionarySize = 4096;

class RtfDictionary {
public:
    RtfDictionary() {
        bytes_.fill(0);
        for (std::size_t i = 0; i < kRtfDictionary.size(); ++i) bytes_[i] = kRtfDictionary[i];
    }
    std::size_t writePosition() const { return write_; }
    std::uint8_t at(std::size_t offset) const { return bytes_[offset % kDictionarySize]; }
    void Put(std::uint8_t byte) {
        bytes_[write_] = byte;
        write_ = (write_ + 1) % kDictionarySize;
    }

private:
    std::array<std::uint8_t, kDictionarySize> bytes_{};
    std::size_t write_ = kRtfDictionary.size();
};

// Decodes the compressed payload into `out`, stopping at the end marker or
// once `rawSize` bytes were produced.
void DecodePayload(ByteReader payload, std::uint32_t rawSize, std::vector<std::uint8_t>& out, RtfDecodeReport& rep) {
    RtfDictionary dict;
    while (payload.remaining() > 0) {
        const std::uint8_t control = payload.readU8();
        for (int bit = 0; bit < 8; ++bit) {
            const bool reference = ((control >> bit) & 1) != 0;
            if (out.size() >= rawSize) {
                // Done; note whether the writer closed the stream properly.
                if (reference) {
                    const auto word = payload.peekAt(payload.position(), 2);
                    if (word && ((((*word & 0xFF) << 8) | (*word >> 8)) >> 4) == dict.writePosition())
                        rep.endMarkerSeen = true;
                }
                return;
            }
            if (reference) {
                if (!payload.canRead(2)) {
                    rep.truncated = true;
                    return;
                }
                const std::uint8_t hi = payload.readU8();
                const std::uint8_t lo = payload.readU8();
                const std::uint16_t word = static_cast<std::uint16_t>((hi << 8) | lo);
                const std::size_t offset = word >> 4;
                const std::size_t length = (word & 0x0F) + 2;
                if (offset == dict.writePosition()) {
                    rep.endMarkerSeen = true;
                    return;
                }
                for (std::size_t j = 0; j < length && out.size() < rawSize; ++j) {
                    const std::uint8_t byte = dict.at(offset + j);
                    dict.Put(byte);
                    out.push_back(byte);
                }
            } else {
                if (!payload.canRead(1)) {
                    rep.truncated = true;
                    return;
                }
                const std::uint8_t byte = payload.readU8();
                dict.Put(byte);
                out.push_back(byte);
            }
        }
    }
    // The payload ran out without an end marker before RAWSIZE was reached.
    if (out.size() < rawSize) rep.truncated = true;
}

}  // namespace

std::vector<std::uint8_t> DecodeCompressedRtf(std::span<const std::uint8_t> value, RtfDecodeReport* report) {
    RtfDecodeReport rep;
    std::vector<std::uint8_t> out;
    ByteReader header(value);
    const std::uint32_t compSize = header.readU32();
    const std::uint32_t rawSize = header.readU32();
    const std::uint32_t compType = header.readU32();
    const std::uint32_t crc = header.readU32();
    if (header.failed()) {
        rep.truncated = true;
        if (report != nullptr) *report = rep;
        return out;
    }
    rep.headerComplete = true;
    rep.rawSize = rawSize;
    rep.storedCrc = crc;
    rep.knownType = compType == kRtfCompressedType || compType == kRtfUncompressedType;
    rep.compressed = compType != kRtfUncompressedType;

    // The payload as COMPSIZE describes it, cut at the end of the value.
    const std::size_t available = value.size() - kRtfHeaderSize;
    std::size_t payloadSize = compSize >= 12 ? compSize - 12 : 0;
    if (payloadSize > available) {
        payloadSize = available;
        rep.truncated = true;
    }

    if (!rep.compressed) {
        // Stored as is: RAWSIZE bytes follow the header.
        std::size_t n = rawSize;
        if (n > available) {
            n = available;
            rep.truncated = true;
        }
        out.assign(value.begin() + kRtfHeaderSize, value.begin() + static_cast<std::ptrdiff_t>(kRtfHeaderSize + n));
        rep.crcMatches = true;
        rep.computedCrc = crc;
        if (report != nullptr) *report = rep;
        return out;
    }

    const ByteReader payload(value.subspan(kRtfHeaderSize, payloadSize));
    rep.computedCrc = ComputeCrc(payload.data());
    rep.crcMatches = rep.computedCrc == crc;
    // A damaged RAWSIZE cannot make the output grow beyond what the payload
    // can produce (17 bytes per 2-byte reference).
    out.reserve(std::min<std::size_t>(rawSize, payloadSize * 9));
    DecodePayload(payload, rawSize, out, rep);
    if (report != nullptr) *report = rep;
    return out;
}

int DecompressRtf(std::span<const std::uint8_t> value, const std::filesystem::path& outputPath,
                  RtfDecodeReport* report) {
    const std::vector<std::uint8_t> rtf = DecodeCompressedRtf(value, report);
    std::ofstream file(outputPath, std::ios::binary | std::ios::trunc);
    if (!file) return 1;
    file.write(reinterpret_cast<const char*>(rtf.data()), static_cast<std::streamsize>(rtf.size()));
    file.close();
    return file ? 0 : 1;
}

}  // namespace bm
