#include "support/heap_image.h"

#include <string>
#include <string_view>

#include "common/utf.h"

namespace bmtest {

void PutU16(Bytes& b, std::size_t at, std::uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
    PutU16(b, at, static_cast<std::uint16_t>(v));
    PutU16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

void AppendU16(Bytes& b, std::uint16_t v) { PutU16(b, b.size(), v); }
void AppendU32(Bytes& b, std::uint32_t v) { PutU32(b, b.size(), v); }

Bytes Utf16(std::u16string_view text) {
    Bytes out;
    for (const char16_t c : text) AppendU16(out, static_cast<std::uint16_t>(c));
    return out;
}

Bytes Utf16(std::string_view utf8) {
    const std::string bytes = bm::Utf8ToUtf16LeBytes(utf8);
    return Bytes(bytes.begin(), bytes.end());
}

Bytes Le32(std::uint32_t v) {
    Bytes out;
    AppendU32(out, v);
    return out;
}

HeapImage::HeapImage(std::uint8_t clientSignature) : clientSig_(clientSignature) { pages_.resize(1); }

std::uint32_t HeapImage::Add(std::span<const std::uint8_t> bytes, std::uint32_t page) {
    if (pages_.size() <= page) pages_.resize(page + 1);
    pages_[page].emplace_back(bytes.begin(), bytes.end());
    return Hid(static_cast<std::uint32_t>(pages_[page].size()), page);
}

std::vector<Bytes> HeapImage::Build() const {
    std::vector<Bytes> out;
    for (std::size_t p = 0; p < pages_.size(); ++p) {
        Bytes page;
        if (p == 0) {
            page.resize(12, 0);
            page[2] = 0xEC;
            page[3] = clientSig_;
            PutU32(page, 4, userRoot_);
        } else if (p % 128 == 8) {
            page.resize(66, 0);  // a page with the fill-level bitmap
        } else {
            page.resize(2, 0);
        }
        std::vector<std::uint16_t> offsets{static_cast<std::uint16_t>(page.size())};
        for (const Bytes& alloc : pages_[p]) {
            page.insert(page.end(), alloc.begin(), alloc.end());
            offsets.push_back(static_cast<std::uint16_t>(page.size()));
        }
        if (page.size() % 2) page.push_back(0);
        PutU16(page, 0, static_cast<std::uint16_t>(page.size()));
        AppendU16(page, static_cast<std::uint16_t>(pages_[p].size()));
        AppendU16(page, 0);
        for (const auto o : offsets) AppendU16(page, o);
        out.push_back(std::move(page));
    }
    return out;
}

std::uint32_t AddBth(HeapImage& heap, std::uint8_t keySize, std::uint8_t entrySize, const std::vector<Bytes>& records,
                     std::uint8_t indexLevels, std::uint32_t page) {
    auto leaf = [&](std::size_t from, std::size_t to) {
        Bytes b;
        for (std::size_t i = from; i < to; ++i) b.insert(b.end(), records[i].begin(), records[i].end());
        return heap.Add(b, page);
    };
    std::uint32_t root = 0;
    if (indexLevels == 0) {
        if (!records.empty()) root = leaf(0, records.size());
    } else {
        const std::size_t half = records.size() / 2;
        Bytes index;
        for (const auto& [from, to] : {std::pair{std::size_t{0}, half}, std::pair{half, records.size()}}) {
            Bytes key(records[from].begin(), records[from].begin() + keySize);
            index.insert(index.end(), key.begin(), key.end());
            AppendU32(index, leaf(from, to));
        }
        root = heap.Add(index, page);
    }
    Bytes header{0xB5, keySize, entrySize, indexLevels};
    AppendU32(header, root);
    return heap.Add(header, page);
}

PropertyContextImage& PropertyContextImage::Inline(std::uint16_t id, std::uint16_t type, std::uint32_t value) {
    records_.push_back(Record{id, type, value, false, {}, 0});
    return *this;
}

PropertyContextImage& PropertyContextImage::Heap(std::uint16_t id, std::uint16_t type, Bytes value,
                                                 std::uint32_t page) {
    records_.push_back(Record{id, type, 0, true, std::move(value), page});
    return *this;
}

PropertyContextImage& PropertyContextImage::Raw(std::uint16_t id, std::uint16_t type, std::uint32_t field) {
    return Inline(id, type, field);
}

std::vector<Bytes> PropertyContextImage::Build() const {
    HeapImage heap(0xBC);
    std::vector<Bytes> records;
    for (const Record& r : records_) {
        Bytes rec;
        AppendU16(rec, r.id);
        AppendU16(rec, r.type);
        AppendU32(rec, r.inHeap ? heap.Add(r.value, r.page) : r.field);
        records.push_back(std::move(rec));
    }
    heap.SetUserRoot(AddBth(heap, 2, 6, records, indexLevels_));
    return heap.Build();
}

TableContextImage::TableContextImage(std::vector<Column> columns, std::uint16_t rowWidth,
                                     std::uint8_t rowIndexEntrySize)
    : columns_(std::move(columns)), rowWidth_(rowWidth), rowIndexEntrySize_(rowIndexEntrySize) {}

Bytes& TableContextImage::AddRow() { return rows_.emplace_back(rowWidth_, 0); }

std::uint32_t TableContextImage::HeapValue(Bytes value) {
    heapValues_.push_back(std::move(value));
    return Hid(static_cast<std::uint32_t>(heapValues_.size()));
}

Bytes TableContextImage::Matrix() const {
    Bytes m;
    for (const Bytes& r : rows_) m.insert(m.end(), r.begin(), r.end());
    return m;
}

std::vector<Bytes> TableContextImage::Build() const {
    HeapImage heap(0x7C);
    for (const Bytes& v : heapValues_) heap.Add(v);  // allocations 1..n, as HeapValue promised
    std::vector<Bytes> index;
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        Bytes rec;
        AppendU32(rec, static_cast<std::uint32_t>(0x100 + r));
        for (std::uint8_t i = 0; i < rowIndexEntrySize_; ++i) rec.push_back(static_cast<std::uint8_t>(i == 0 ? r : 0));
        index.push_back(std::move(rec));
    }
    const std::uint32_t rowIndex = AddBth(heap, 4, rowIndexEntrySize_, index);
    std::uint32_t matrix = matrixNid_;
    if (matrix == 0 && !rows_.empty()) matrix = heap.Add(Matrix());
    Bytes info{0x7C, static_cast<std::uint8_t>(columns_.size())};
    AppendU16(info, 0);
    AppendU16(info, 0);
    AppendU16(info, 0);
    AppendU16(info, rowWidth_);
    AppendU32(info, rowIndex);
    AppendU32(info, matrix);
    AppendU32(info, 0);
    for (const Column& c : columns_) {
        AppendU32(info, (static_cast<std::uint32_t>(c.id) << 16) | c.type);
        AppendU16(info, c.ibData);
        info.push_back(c.cbData);
        info.push_back(c.iBit);
    }
    heap.SetUserRoot(heap.Add(info));
    return heap.Build();
}

}  // namespace bmtest
