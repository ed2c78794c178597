#include "messaging/table_info.h"

#include "common/byte_reader.h"
#include "messaging/property_context.h"

namespace bm {

namespace {

constexpr std::uint8_t kTcInfoType = 0x7C;
constexpr std::size_t kTcInfoSize = 22;
constexpr std::size_t kColumnSize = 8;

}  // namespace

std::optional<TableInfo> ParseTableInfo(std::span<const std::uint8_t> info) {
    ByteReader r(info);
    const std::uint8_t type = r.readU8();
    const std::uint8_t columnCount = r.readU8();
    r.skip(4);
    TableInfo out;
    out.cebStart = r.readU16();
    out.rowWidth = r.readU16();
    out.hidRowIndex = r.readU32();
    out.hnidRows = r.readU32();
    if (r.failed() || info.size() < kTcInfoSize || type != kTcInfoType) return std::nullopt;
    out.columns.reserve(columnCount);
    for (std::size_t c = 0; c < columnCount; ++c) {
        ByteReader d = ByteReader(info).sub(kTcInfoSize + c * kColumnSize, kColumnSize);
        if (d.failed()) break;
        const std::uint32_t tag = d.readU32();
        const std::uint16_t ib = d.readU16();
        const std::uint8_t cb = d.readU8();
        const std::uint8_t bit = d.readU8();
        out.columns.push_back(
            TableColumn{static_cast<std::uint16_t>(tag >> 16), static_cast<std::uint16_t>(tag & 0xFFFF), ib, cb, bit});
    }
    return out;
}

bool CellExists(std::span<const std::uint8_t> row, std::size_t cebStart, std::uint8_t iBit) {
    const std::size_t at = cebStart + iBit / 8;
    if (at >= row.size()) return true;
    return (row[at] & (0x80u >> (iBit % 8))) != 0;
}

bool IsEightByteFixed(std::uint16_t type) {
    return type == kPtDouble || type == kPtCurrency || type == kPtAppTime || type == kPtI8 || type == kPtSysTime;
}

}  // namespace bm
