#include "ltp_reader_for_tests.h"

#include "common/byte_reader.h"

namespace bmtest {

std::optional<std::vector<std::uint8_t>> HeapView::Alloc(std::uint32_t hid) const {
    if ((hid & 0x1F) != 0) return std::nullopt;
    const std::size_t block = hid >> 16;
    const std::size_t index = (hid >> 5) & 0x7FF;
    if (block >= blocks.size() || index == 0) return std::nullopt;
    bm::ByteReader r(blocks[block]);
    const std::size_t pageMap = r.readU16();
    if (!r.seek(pageMap)) return std::nullopt;
    const std::size_t count = r.readU16();
    r.readU16();
    if (index > count || !r.skip(2 * (index - 1))) return std::nullopt;
    const std::size_t start = r.readU16();
    const std::size_t end = r.readU16();
    if (r.failed() || end < start) return std::nullopt;
    auto bytes = bm::ByteReader(blocks[block]).sub(start, end - start);
    if (bytes.failed()) return std::nullopt;
    return std::vector<std::uint8_t>(bytes.data().begin(), bytes.data().end());
}

HeapView ReadHeap(const std::vector<std::vector<std::uint8_t>>& blocks) {
    HeapView h;
    h.blocks = blocks;
    if (blocks.empty()) {
        h.error = "no blocks";
        return h;
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        bm::ByteReader r(blocks[i]);
        if (blocks[i].size() > 8176) h.error = "block larger than 8176 bytes";
        const std::size_t pageMap = r.readU16();
        if (pageMap % 2 != 0) h.error = "page map at odd offset";
        if (!r.seek(pageMap)) {
            h.error = "page map outside block";
            continue;
        }
        const std::size_t count = r.readU16();
        const std::size_t freed = r.readU16();
        std::size_t prev = i == 0 ? 12 : (i >= 8 && (i - 8) % 128 == 0 ? 66 : 2);
        std::size_t empty = 0;  // zero-length allocations, which readers count as freed
        for (std::size_t k = 0; k <= count; ++k) {
            const std::size_t off = r.readU16();
            if (off < prev || off > pageMap) h.error = "allocation offsets out of order";
            if (k > 0 && off == prev) ++empty;
            prev = off;
        }
        if (r.failed()) h.error = "page map truncated";
        if (freed != empty) h.error = "cFree differs from the zero-length allocations";
        if (r.remaining() != 0) h.error = "bytes after the page map";
    }
    bm::ByteReader r(blocks[0]);
    r.skip(2);
    if (r.readU8() != 0xEC) h.error = "no heap signature";
    h.client = r.readU8();
    h.userRoot = r.readU32();
    return h;
}

BthView ReadBth(const HeapView& heap, std::uint32_t headerHid) {
    BthView v;
    auto header = heap.Alloc(headerHid);
    if (!header || header->size() != 8) {
        v.error = "bad BTH header";
        return v;
    }
    bm::ByteReader r(*header);
    if (r.readU8() != 0xB5) v.error = "no BTH signature";
    v.keySize = r.readU8();
    v.recordSize = r.readU8();
    v.levels = r.readU8();
    const std::uint32_t root = r.readU32();
    if (root == 0) return v;
    struct Walker {
        const HeapView& heap;
        BthView& v;
        void Walk(std::uint32_t hid, int level, std::optional<std::uint32_t> expectedFirst) {
            auto node = heap.Alloc(hid);
            if (!node) {
                v.error = "bad BTH node HID";
                return;
            }
            const std::size_t entry = v.keySize + (level == 0 ? v.recordSize : 4u);
            if (node->empty() || node->size() % entry != 0) {
                v.error = "BTH node size is not a multiple of its entries";
                return;
            }
            bm::ByteReader r(*node);
            bool first = true;
            while (r.remaining() > 0) {
                const auto key = static_cast<std::uint32_t>(r.readUint(v.keySize));
                if (first && expectedFirst && *expectedFirst != key) v.error = "index key is not the child's first key";
                first = false;
                if (level == 0) {
                    if (!v.records.empty() && v.records.back().first >= key) v.error = "BTH keys out of order";
                    auto data = r.readBytes(v.recordSize);
                    v.records.emplace_back(key, std::vector<std::uint8_t>(data.begin(), data.end()));
                } else {
                    Walk(r.readU32(), level - 1, key);
                }
            }
        }
    } walker{heap, v};
    walker.Walk(root, v.levels, std::nullopt);
    return v;
}

std::map<std::uint16_t, PcEntryView> ReadPc(const HeapView& heap, std::string& error) {
    std::map<std::uint16_t, PcEntryView> out;
    if (heap.client != 0xBC) error = "not a property context";
    BthView bth = ReadBth(heap, heap.userRoot);
    if (!bth.error.empty()) error = bth.error;
    if (bth.keySize != 2 || bth.recordSize != 6) error = "PC BTH has wrong sizes";
    for (const auto& [key, data] : bth.records) {
        bm::ByteReader r(data);
        PcEntryView e;
        e.type = r.readU16();
        e.ref = r.readU32();
        const bool inline4 = e.type == 2 || e.type == 3 || e.type == 4 || e.type == 0xA || e.type == 0xB;
        // A reference of 0 is an empty value with no allocation.
        if (!inline4 && e.ref != 0 && (e.ref & 0x1F) == 0) {
            auto value = heap.Alloc(e.ref);
            if (!value) error = "PC value HID does not resolve";
            else e.heapValue = *value;
        }
        out[static_cast<std::uint16_t>(key)] = e;
    }
    return out;
}

TcView ReadTcInfo(const HeapView& heap) {
    TcView t;
    if (heap.client != 0x7C) t.error = "not a table context";
    auto info = heap.Alloc(heap.userRoot);
    if (!info) {
        t.error = "no TCINFO";
        return t;
    }
    bm::ByteReader r(*info);
    if (r.readU8() != 0x7C) t.error = "no TCINFO signature";
    const std::size_t count = r.readU8();
    t.end4 = r.readU16();
    t.end2 = r.readU16();
    t.end1 = r.readU16();
    t.rowSize = r.readU16();
    t.rowIndexHid = r.readU32();
    t.rowsRef = r.readU32();
    r.readU32();
    for (std::size_t i = 0; i < count; ++i) {
        TcColumnView c{};
        c.tag = r.readU32();
        c.offset = r.readU16();
        c.size = r.readU8();
        c.bit = r.readU8();
        if (!t.columns.empty() && t.columns.back().tag >= c.tag) t.error = "columns not sorted by tag";
        t.columns.push_back(c);
    }
    if (r.failed() || r.remaining() != 0) t.error = "TCINFO size does not match its column count";
    t.rowIndex = ReadBth(heap, t.rowIndexHid);
    if (!t.rowIndex.error.empty()) t.error = t.rowIndex.error;
    return t;
}

std::vector<std::uint8_t> RowAt(const std::vector<std::uint8_t>& matrix, const TcView& tc, std::size_t index,
                                bool fromSubnode) {
    std::size_t at = index * tc.rowSize;
    if (fromSubnode) {
        const std::size_t perBlock = 8176 / tc.rowSize;
        at = (index / perBlock) * 8176 + (index % perBlock) * tc.rowSize;
    }
    auto row = bm::ByteReader(matrix).sub(at, tc.rowSize);
    return {row.data().begin(), row.data().end()};
}

bool CellExists(const std::vector<std::uint8_t>& row, const TcView& tc, const TcColumnView& column) {
    const std::size_t byte = tc.end1 + column.bit / 8u;
    return byte < row.size() && (row[byte] & (0x80 >> (column.bit % 8))) != 0;
}

}  // namespace bmtest
