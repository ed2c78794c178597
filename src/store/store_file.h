// The open store: file, header fields, walk state, tables and damage seen.
//
// Header fields the reader uses (little-endian):
//   offset 10          wVer, the format version: 14/15 ANSI, 23 Unicode,
//                      36 Unicode with 4 KiB pages
//   ANSI   188 / 196   ib of the NBT / BBT root page (4 bytes each)
//   Unicode 224 / 240  ib of the NBT / BBT root page (8 bytes each)
//   ANSI 461, Unicode 513  bCryptMethod: 0 none, 1 permutation, 2 cyclic
// Nothing else is validated: magic, CRCs and sizes may be damaged and the
// store still opens; damage shows up later as pages or blocks that cannot be
// read, which the walks skip and count in `damage`.
//
// Opening reads the first 516 bytes (a shorter file reads as zero-padded),
// resets the walk state and leaves the tables as they are, so a second build
// merges into what the first built.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "store/layout.h"
#include "store/recent_blocks.h"
#include "store/tables.h"

namespace bm {

// Read-only file with a whole-file advisory lock; reads are positional.
class StoreFileHandle {
public:
    enum class Lock : std::uint8_t { Exclusive, Shared };

    StoreFileHandle() = default;
    ~StoreFileHandle();
    StoreFileHandle(const StoreFileHandle&) = delete;
    StoreFileHandle& operator=(const StoreFileHandle&) = delete;
    StoreFileHandle(StoreFileHandle&& other) noexcept;
    StoreFileHandle& operator=(StoreFileHandle&& other) noexcept;

    // Opens an existing file for reading and takes the lock without waiting;
    // false when the file is missing, unreadable or locked elsewhere.
    bool Open(const std::filesystem::path& path, Lock lock);
    void Close();
    bool isOpen() const { return fd_ >= 0; }
    // The name under which the file is open; empty when closed.
    const std::filesystem::path& name() const { return path_; }
    // Whether `path` names the file open here (same device and inode).
    bool IsFile(const std::filesystem::path& path) const;
    // Size at the time of opening.
    std::uint64_t size() const { return size_; }
    // Reads up to out.size() bytes at an absolute offset; returns the number
    // read (fewer at the end of the file, 0 on any error). A read that
    // comes back short inside the size seen at the open means the file
    // changed under the reader: changed() says so from then on.
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // Whether the file was seen to change since it was opened: a short read
    // inside its size, or (after CheckUnchanged) another size, modification
    // time or file under its name.
    bool changed() const { return changed_.load(std::memory_order_relaxed); }
    // Compares the file and its name with what the open saw; false (and
    // changed() from then on) when anything differs.
    bool CheckUnchanged() const;
    // "it is now 1024 bytes long, 4096 when it was opened" and the like;
    // empty when nothing was seen to change.
    std::string ChangeDescription() const;

private:
    int fd_ = -1;
    std::filesystem::path path_;
    std::uint64_t size_ = 0;
    // What the open saw, to tell a file that changed under the reader.
    std::int64_t mtimeNs_ = 0;
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
    mutable std::atomic<bool> changed_{false};
    mutable std::atomic<std::uint64_t> shortReadAt_{0};
};

// Damage met while reading, one counter per kind. Kept across builds until
// the store is released; the analysis summary logs them.
struct DamageCounters {
    // Child pages skipped once the walk found its bearings, counted only
    // when the parent's own entry count says the entry is live (slots past
    // it often hold stale entries that the walk tries as well).
    std::uint64_t pagesUnreadable = 0;        // B-tree page read short (past the end of file)
    std::uint64_t pagesRejected = 0;          // page skipped: first key not the one expected
    std::uint64_t pagesRevisited = 0;         // page met twice in one walk (a loop in the tree)
    std::uint64_t pageCrcMismatches = 0;      // page trailer CRC differs (page still used)
    std::uint64_t rootPagesUnusable = 0;      // a tree whose root could not be used at all
    std::uint64_t blocksMissing = 0;          // BID not in the block table
    std::uint64_t blocksUnreadable = 0;       // block read short, or failed to inflate
    std::uint64_t blockCrcMismatches = 0;     // block trailer CRC differs (data still used)
    std::uint64_t dataTreesIncomplete = 0;    // XBLOCK/XXBLOCK tree cut at an unreadable child
    std::uint64_t subnodeBlocksRejected = 0;  // SLBLOCK/SIBLOCK short or of the wrong type
    std::uint64_t nodesWithoutData = 0;       // NBT entry whose non-zero bidData is not in the block table
    std::uint64_t orphanNodes = 0;            // records no parent adopted by the end of a node walk

    // Name and value of every counter, in the order above.
    std::vector<std::pair<const char*, std::uint64_t>> Items() const;
    std::uint64_t Total() const;
};

// What the last build took from the leaf pages. Slots at or past a page's
// own entry count are tried too (the count may be damaged); entries taken
// from there are counted apart, since in a sound page they are stale copies
// left behind when the page was split.
struct WalkStats {
    std::uint64_t bbtLeafEntries = 0;          // block entries appended
    std::uint64_t bbtEntriesPastCount = 0;     // of those, from slots past cEnt
    std::uint64_t nbtLeafEntries = 0;          // node entries placed
    std::uint64_t nbtEntriesPastCount = 0;     // of those, from slots past cEnt
    std::uint32_t bbtLeafPages = 0;
    std::uint32_t nbtLeafPages = 0;
};

// Something another layer keeps per store and releases with it (the
// messaging layer's named-property map).
class StoreExtension {
public:
    virtual ~StoreExtension() = default;
};

inline constexpr std::uint8_t kLeafDepthUnknown = 255;

class ContentDamage;

struct StoreFile {
    BlockTable blocks;  // head()/tail() are the first and last block entries
    NodeForest forest;  // first() is the message store node after a build
    std::unique_ptr<StoreExtension> namedPropertyMap;
    // What deep recovery found beyond the index (records it made up for
    // orphan heaps, the folder they go to); points into the tables.
    std::unique_ptr<StoreExtension> recovery;
    std::uint64_t bbtRootOffset = 0;
    std::uint64_t nbtRootOffset = 0;
    StoreFileHandle file;
    std::uint8_t bbtLeafDepth = kLeafDepthUnknown;
    std::uint8_t nbtLeafDepth = kLeafDepthUnknown;
    std::uint32_t cryptMethod = 1;  // method applied to data blocks
    bool bbtLeafSeen = false;
    bool nbtLeafSeen = false;
    std::uint32_t formatVersion = 0;
    const StoreLayout* layout = nullptr;  // nullptr for an unknown wVer
    std::uint8_t headerCryptMethod = 0;   // bCryptMethod as the header holds it
    DamageCounters damage;
    WalkStats walkStats;  // of the last BuildIndexes
    // Pages entered by the current walk of each tree (guards against loops).
    // BuildIndexes lets them go when it ends (tens of bytes a page, about
    // 18 MB on a 10 GB store), unless keepPagesEntered asks to see them.
    std::unordered_set<std::uint64_t> bbtPagesEntered;
    std::unordered_set<std::uint64_t> nbtPagesEntered;
    bool keepPagesEntered = false;
    // Off unless a run that reads blocks twice turns it on; emptied when
    // the store is opened or released.
    RecentBlocks recentBlocks;
    // The account of the item being read (see content_damage.h), owned by
    // the run that reads it; nullptr while no one keeps one.
    ContentDamage* contentDamage = nullptr;

    StoreFile() = default;
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;
};

enum class StoreOpenMode : std::uint8_t {
    Exclusive,  // the runs: fail while another process holds the file
    SharedRead, // inspection tools and tests: any number of readers
};

inline constexpr std::size_t kHeaderReadLength = 516;

// Opens the store and reads its header. 0 on success, -1 when the file
// cannot be opened (missing, unreadable, locked by another process); the
// store is then unchanged. The encoding method is settled by the first
// build (see BuildIndexes).
int OpenStore(StoreFile& store, const std::filesystem::path& path, StoreOpenMode mode = StoreOpenMode::Exclusive);

// Why `path` cannot be a store although it exists: "<path> is a FIFO
// (named pipe), not a store file" and the like for devices, sockets and
// directories; nullopt for a regular file or a path that names nothing.
// Looks at the name only (stat), so it never blocks.
std::optional<std::string> NotARegularFile(const std::filesystem::path& path);

// Closes the file and releases the recovery state, the forest, the block
// table and the named-property map, in that order; every field returns to
// its initial value.
void ReleaseStore(StoreFile& store);

}  // namespace bm
