// Byte images of store files for tests: headers, B-tree pages, blocks,
// XBLOCK/XXBLOCK and SLBLOCK/SIBLOCK, in any layout the reader knows.
//
// Two levels:
//
//   StoreImage    a growable byte image with writers for each structure at
//                 an offset you choose: WriteHeader, WriteBbtLeafPage,
//                 WriteNbtLeafPage, WriteInnerPage, WriteBlock, and the
//                 Add*Block helpers that append a block at the next free,
//                 aligned offset and return its BBT entry. Use it to build
//                 exactly the damaged or unusual shape a test needs.
//
//   StoreBuilder  a whole, sound store from a list of blocks and nodes:
//                 blocks are appended, then the BBT and NBT are laid out as
//                 leaf pages (split at `perPage` entries) under as many inner
//                 levels as needed, and the header points at both roots. The
//                 result remembers where every page went (BuiltStore), so a
//                 test can then damage one of them.
//
// Everything is written as the mail client writes it (page footers, page
// and block trailers with signature and CRC, data blocks encoded with the
// chosen method, 4 KiB-layout blocks deflated on request), so the images are
// also readable by other readers. Example:
//
//   bmtest::StoreBuilder b(bm::kUnicodeLayout);
//   b.AddDataBlock(4, heapBytes);
//   b.AddNode(0x21, 4, 0, 0);
//   bmtest::BuiltStore built = b.Build();
//   built.image.Save(dir / "tiny.pst");
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "store/layout.h"

namespace bmtest {

using Bytes = std::vector<std::uint8_t>;

struct BbtLeafEntry {
    std::uint64_t bid = 0;
    std::uint64_t offset = 0;
    std::uint16_t cb = 0;
    std::int16_t refCount = 2;
    std::uint16_t inflated = 0;  // 4 KiB layout: inflated size (0 writes cb)
};

struct NbtLeafEntry {
    std::uint32_t nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
    std::uint32_t nidParent = 0;
};

struct InnerEntry {
    std::uint64_t key = 0;     // first BID or NID of the child
    std::uint64_t offset = 0;  // file offset of the child page
    std::uint64_t bid = 0;     // BID of the child page (not read by the walks)
};

struct SubnodeLeafEntry {
    std::uint32_t nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
};

struct SubnodeInnerEntry {
    std::uint32_t nid = 0;     // first NID of the SLBLOCK
    std::uint64_t bidSl = 0;   // BID of the SLBLOCK
};

enum class PageType : std::uint8_t { Bbt = 0x80, Nbt = 0x81 };

struct PageOptions {
    std::optional<std::uint16_t> entryCount;  // cEnt in the footer; default the entries written
    std::optional<std::uint8_t> entrySize;    // cbEnt in the footer; default the layout's
    std::uint64_t pageBid = 0;                // BID in the page trailer
};

class StoreImage {
public:
    // An image holding an empty header area; `formatVersion` 0 takes the
    // layout's usual wVer (14, 23 or 36).
    explicit StoreImage(const bm::StoreLayout& layout, std::uint16_t formatVersion = 0);

    const bm::StoreLayout& layout() const { return *layout_; }
    std::uint16_t formatVersion() const { return version_; }
    Bytes& bytes() { return bytes_; }
    const Bytes& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

    // Little-endian value of `width` bytes at `at`; the image grows to fit.
    void Put(std::uint64_t at, std::uint64_t value, std::size_t width);
    void PutBytes(std::uint64_t at, std::span<const std::uint8_t> data);
    void Zero(std::uint64_t at, std::size_t n);
    void Truncate(std::size_t n) { bytes_.resize(n); }
    // The end of the image rounded up to `alignment`, grown by `n` bytes;
    // returns the start of the new room.
    std::uint64_t Reserve(std::size_t n, std::size_t alignment);

    // Magic, wVer, the two root BREFs and bCryptMethod.
    void WriteHeader(std::uint64_t nbtRoot, std::uint64_t bbtRoot, std::uint8_t cryptMethod = 1);

    // Leaf and inner pages with footer and trailer (signature and CRC).
    void WriteBbtLeafPage(std::uint64_t at, const std::vector<BbtLeafEntry>& entries, const PageOptions& options = {});
    void WriteNbtLeafPage(std::uint64_t at, const std::vector<NbtLeafEntry>& entries, const PageOptions& options = {});
    void WriteInnerPage(std::uint64_t at, PageType type, const std::vector<InnerEntry>& entries, std::uint8_t level,
                        const PageOptions& options = {});

    // Writes stored bytes at `at` with padding and trailer (signature, CRC
    // over the stored bytes, `inflated` in the 4 KiB trailer); returns the
    // aligned extent of the block.
    std::size_t WriteBlock(std::uint64_t at, std::uint64_t bid, std::span<const std::uint8_t> stored,
                           std::uint16_t inflated = 0);
    // Appends a data block, encoded with `cryptMethod` (0 none, 1
    // permutation, 2 cyclic keyed by the BID); returns its BBT entry.
    BbtLeafEntry AddDataBlock(std::uint64_t bid, std::span<const std::uint8_t> plain, std::uint32_t cryptMethod = 1);
    // Appends a block stored as given (internal blocks, or damaged data).
    BbtLeafEntry AddRawBlock(std::uint64_t bid, std::span<const std::uint8_t> stored, std::uint16_t inflated = 0);
    // Appends a deflated data block (4 KiB layout), as a zlib stream or as
    // raw deflate data; the entry's `inflated` is the plain size.
    enum class Deflate : std::uint8_t { ZlibStream, Raw };
    BbtLeafEntry AddCompressedBlock(std::uint64_t bid, std::span<const std::uint8_t> plain,
                                    Deflate form = Deflate::ZlibStream);

    // Contents of internal blocks in this layout.
    Bytes XBlock(const std::vector<std::uint64_t>& bids, std::uint32_t totalBytes, std::uint8_t level = 1) const;
    Bytes SlBlock(const std::vector<SubnodeLeafEntry>& entries) const;
    Bytes SiBlock(const std::vector<SubnodeInnerEntry>& entries) const;

    // Entries a page of this layout holds.
    std::size_t BbtLeafCapacity() const;
    std::size_t NbtLeafCapacity() const;
    std::size_t InnerCapacity() const;

    void Save(const std::filesystem::path& path) const;

private:
    // Zeroes the page at `at`, has `putEntry` write entry i at at + i *
    // entrySize for each of the `count`, then writes the page's tail.
    void WritePage(std::uint64_t at, PageType type, std::size_t count, std::size_t entrySize, std::uint8_t level,
                   const PageOptions& options, const std::function<void(std::uint64_t e, std::size_t i)>& putEntry);
    void WritePageTail(std::uint64_t at, PageType type, std::size_t count, std::size_t entrySize, std::uint8_t level,
                       const PageOptions& options);

    const bm::StoreLayout* layout_;
    std::uint16_t version_;
    Bytes bytes_;
};

// Where StoreBuilder put things.
struct BuiltStore {
    StoreImage image;
    std::uint64_t bbtRoot = 0;
    std::uint64_t nbtRoot = 0;
    std::vector<std::uint64_t> bbtLeafPages;  // in key order
    std::vector<std::uint64_t> nbtLeafPages;
    std::vector<BbtLeafEntry> blocks;         // in BID order
};

class StoreBuilder {
public:
    explicit StoreBuilder(const bm::StoreLayout& layout, std::uint16_t formatVersion = 0);

    // Encoding written in the header and applied to data blocks.
    void SetCryptMethod(std::uint8_t method) { cryptMethod_ = method; }
    // Entries per leaf page (default: the page's capacity).
    void SetEntriesPerPage(std::size_t bbt, std::size_t nbt) {
        bbtPerPage_ = bbt;
        nbtPerPage_ = nbt;
    }

    void AddDataBlock(std::uint64_t bid, Bytes plain);
    void AddInternalBlock(std::uint64_t bid, Bytes stored);
    void AddNode(std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub, std::uint32_t nidParent);

    BuiltStore Build() const;

private:
    struct PendingBlock {
        std::uint64_t bid;
        Bytes bytes;
        bool internal;
    };
    const bm::StoreLayout* layout_;
    std::uint16_t version_;
    std::uint8_t cryptMethod_ = 1;
    std::size_t bbtPerPage_ = 0;
    std::size_t nbtPerPage_ = 0;
    std::vector<PendingBlock> blocks_;
    std::vector<NbtLeafEntry> nodes_;
};

// A heap-on-node block as the message store node holds it: enough for the
// reader's encoding check (signature 0xEC at byte 2) and no more.
Bytes MinimalHeap(std::size_t size = 16);

}  // namespace bmtest
