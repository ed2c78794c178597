#include "store_mutation.h"

#include <algorithm>
#include <initializer_list>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "common/format_tables.h"
#include "store/layout.h"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace bmfuzz {

namespace {

constexpr std::uint8_t kBlockTreePage = 0x80;
constexpr std::uint8_t kNodeTreePage = 0x81;

std::uint64_t Get(const std::uint8_t* at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;) value = value << 8 | at[i];
    return value;
}

void Put(std::uint8_t* at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Offsets of the input's index pages (type byte repeated in the trailer).
std::vector<std::size_t> FindPages(const std::uint8_t* data, std::size_t size, const bm::StoreLayout& layout) {
    std::vector<std::size_t> pages;
    const bm::PageFields& p = layout.page;
    for (std::size_t at = p.size; at + p.size <= size; at += p.size) {
        const std::uint8_t type = data[at + p.crcCovers];
        if ((type == kBlockTreePage || type == kNodeTreePage) && data[at + p.crcCovers + 1] == type)
            pages.push_back(at);
    }
    return pages;
}

// A field of one entry: where it lies in the page and how wide it is.
struct Field {
    std::size_t at = 0;
    std::size_t width = 0;
};

enum class Change { Offset, Size, Id, Level, Count };

class PageMutation {
public:
    PageMutation(std::uint8_t* data, std::size_t size, const bm::StoreLayout& layout, std::size_t page,
                 std::vector<std::size_t> pages, std::minstd_rand& rng)
        : data_(data), size_(size), layout_(layout), page_(page), pages_(std::move(pages)), rng_(rng) {}

    void Apply() {
        const bm::PageFields& p = layout_.page;
        std::uint8_t* page = data_ + page_;
        const auto change = static_cast<Change>(rng_() % 5);
        if (change == Change::Level) {
            Put(page + p.footerEntrySizeAt + 1, Pick({0, 1, 2, 255, rng_() % 256}), 1);
        } else if (change == Change::Count) {
            const std::uint64_t room = p.footerCountAt / Stride();
            Put(page + p.footerCountAt, Pick({0, room, room + 1, ~std::uint64_t{0}, rng_() % (room + 2)}),
                p.footerFieldWidth);
        } else {
            ChangeEntry(change);
        }
        // Half the time the page stays sound, so its change reaches the
        // paths that take only pages whose CRC holds (the deep scan's).
        if (rng_() % 2 == 0) Put(page + p.crcAt, bm::ComputeCrc(std::span(page, p.crcCovers)), 4);
    }

private:
    std::uint8_t level() const { return data_[page_ + layout_.page.footerEntrySizeAt + 1]; }
    std::uint8_t type() const { return data_[page_ + layout_.page.crcCovers]; }

    std::size_t EntrySize() const {
        if (level() != 0) return layout_.inner.size;
        return type() == kBlockTreePage ? layout_.bbtLeaf.size : layout_.nbtLeaf.size;
    }
    std::size_t Stride() const {
        const bm::PageFields& p = layout_.page;
        const std::size_t cbEnt = data_[page_ + p.footerEntrySizeAt];
        return p.sizedByFooter && cbEnt >= EntrySize() ? cbEnt : EntrySize();
    }

    // The field of an entry that `change` names in this kind of page.
    Field FieldOf(Change change) const {
        const std::size_t w = layout_.idWidth;
        if (level() != 0) {
            const bm::InnerEntryFields& f = layout_.inner;
            if (change == Change::Offset) return {f.offsetAt, w};
            return rng_() % 2 == 0 ? Field{f.keyAt, w} : Field{f.keyAt + w, w};  // the key or the child's BID
        }
        if (type() == kBlockTreePage) {
            const bm::BlockEntryFields& f = layout_.bbtLeaf;
            if (change == Change::Offset) return {f.offsetAt, w};
            if (change == Change::Size) return rng_() % 4 != 0 || f.inflatedAt == bm::kNoField ? Field{f.cbAt, 2}
                                                                                                 : Field{f.inflatedAt, 2};
            return {f.bidAt, w};
        }
        const bm::NodeEntryFields& f = layout_.nbtLeaf;
        switch (rng_() % 4) {
        case 0: return {f.nidAt, 4};
        case 1: return {f.bidDataAt, w};
        case 2: return {f.bidSubAt, w};
        default: return {f.parentAt, 4};
        }
    }

    void ChangeEntry(Change change) {
        const bm::PageFields& p = layout_.page;
        const std::size_t stride = Stride();
        const std::size_t room = std::max<std::size_t>(p.footerCountAt / stride, 1);
        const auto count = static_cast<std::size_t>(Get(data_ + page_ + p.footerCountAt, p.footerFieldWidth));
        // Mostly a live entry; now and then a slot past the count.
        const std::size_t live = std::clamp<std::size_t>(count, 1, room);
        const std::size_t index = rng_() % 4 != 0 ? rng_() % live : rng_() % room;
        const Field field = FieldOf(change);
        std::uint8_t* at = data_ + page_ + index * stride + field.at;
        if (index * stride + field.at + field.width > p.footerCountAt) return;
        const std::uint64_t old = Get(at, field.width);
        const std::uint64_t mask = field.width >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * field.width)) - 1;
        std::uint64_t value = 0;
        if (change == Change::Offset) {
            const std::uint64_t align = layout_.block.alignment;
            value = Pick({~std::uint64_t{0}, size_, size_ + rng_() % 65536, std::uint64_t{1} << 63, rng_() % size_,
                          pages_[rng_() % pages_.size()], old + align, old - align, 0});
        } else {
            // A neighbour's value, one next to it, zero, all ones, or any.
            const std::size_t other = rng_() % room;
            const std::uint64_t neighbour = Get(data_ + page_ + other * stride + field.at, field.width);
            value = Pick({neighbour, old + 2, old - 2, old + 4, 0, ~std::uint64_t{0}, old ^ (std::uint64_t{1} << 31),
                          static_cast<std::uint64_t>(rng_())});
        }
        Put(at, value & mask, field.width);
    }

    std::uint64_t Pick(std::initializer_list<std::uint64_t> values) const {
        return values.begin()[rng_() % values.size()];
    }

    std::uint8_t* data_;
    std::size_t size_;
    const bm::StoreLayout& layout_;
    std::size_t page_;
    std::vector<std::size_t> pages_;
    std::minstd_rand& rng_;
};

}  // namespace

std::size_t MutateIndexPage(std::uint8_t* data, std::size_t size, unsigned seed) {
    if (size < 12) return 0;
    std::minstd_rand rng(seed);
    // The header's layout first; a damaged wVer leaves the others to try.
    const bm::StoreLayout* named = bm::LayoutForVersion(static_cast<std::uint32_t>(Get(data + 10, 2)));
    for (const bm::StoreLayout* layout : {named, &bm::kUnicodeLayout, &bm::kAnsiLayout, &bm::kUnicode4kLayout}) {
        if (layout == nullptr) continue;
        std::vector<std::size_t> pages = FindPages(data, size, *layout);
        if (pages.empty()) continue;
        const std::size_t page = pages[rng() % pages.size()];
        PageMutation(data, size, *layout, page, std::move(pages), rng).Apply();
        return size;
    }
    return 0;
}

std::size_t MutateStoreInput(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned seed) {
    if (seed % 2 == 0) {
        if (const std::size_t n = MutateIndexPage(data, size, seed / 2)) return n;
    }
    return LLVMFuzzerMutate(data, size, maxSize);
}

}  // namespace bmfuzz
