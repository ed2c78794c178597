// The TCINFO of a table context (its header and column descriptors) and the
// tests on a row's cells that every reader of table rows shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace bm {

// The row index's BTH header word: bType 0xB5, cbKey 4.
inline constexpr std::uint16_t kRowIndexBthWord = 0x04B5;

struct TableColumn {
    std::uint16_t id;
    std::uint16_t type;
    std::uint16_t ibData;
    std::uint8_t cbData;
    std::uint8_t iBit;
};

struct TableInfo {
    std::uint16_t cebStart = 0;
    std::uint16_t rowWidth = 0;
    std::uint32_t hidRowIndex = 0;
    std::uint32_t hnidRows = 0;
    std::vector<TableColumn> columns;  // descriptors past the allocation are left out
};

// The TCINFO allocation read; nullopt when it is too short or of another type.
std::optional<TableInfo> ParseTableInfo(std::span<const std::uint8_t> info);

// Whether the row's cell existence block (from `cebStart`, one bit per
// column, most significant bit first) marks the column present; a block
// that lies outside the row marks nothing absent.
bool CellExists(std::span<const std::uint8_t> row, std::size_t cebStart, std::uint8_t iBit);

// Types whose 8-byte cells hold the value itself.
bool IsEightByteFixed(std::uint16_t type);

}  // namespace bm
