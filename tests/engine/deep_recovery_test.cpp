// Deep recovery over damaged copies of the shared stores, made here from a
// private copy of each: what the runs' walk lists from them compared with
// the sound store, the "Recovered Items" folder in the analysis, and sound
// stores listed the same with and without the deep scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/analysis_run.h"
#include "engine/mail_subtree.h"
#include "engine/named_blocks.h"
#include "engine/shipped_pages.h"
#include "store/store.h"
#include "common/byte_reader.h"
#include "store/store_scan.h"
#include "support/store_damage.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using bmtest::Damage;

const auto& kStores = bmtest::kSharedStoreNames;

// A damaged copy of a shared store in a scratch directory.
fs::path DamagedCopy(const fs::path& sound, Damage damage, const std::string& name) {
    const fs::path copy = bmtest::ScratchDir(name) / sound.filename();
    fs::copy_file(sound, copy);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(bmtest::DamageStore(copy, damage)) << bmtest::DamageName(damage);
    return copy;
}

// The least share of the sound store's items each damage gives back, as
// measured over the shared stores (bench/recovery_report prints them). The
// header and index damages leave every item's own blocks intact.
double ExpectedShare(Damage damage) {
    switch (damage) {
    case Damage::HeaderScrambled:
    case Damage::RootOffsetsZeroed:
    case Damage::FirstNodeLeaf:
    case Damage::InnerIndexPage: return 0.95;
    case Damage::TruncatedAt90: return 0.85;
    case Damage::FiveBlocksZeroed: return 0.98;
    case Damage::OnePercentFlipped: return 0.0;  // nearly every block is hit
    }
    return 1.0;
}

TEST(NamedBlocks, MarksTheFirstEntryOfEachNamedBidWithBitZeroIgnored) {
    BlockTable table;
    table.Append({0x10, 0x400, 8, 1, 8});
    table.Append({0x48, 0x500, 8, 1, 8});
    table.Append({0x2000000000, 0x600, 8, 1, 8});
    table.Append({0x48, 0x700, 8, 1, 8});  // a later copy of a BID, never a candidate (and
                                           // out of order: lookups move to the hash index)
    table.Append({0x0C, 0x800, 8, 1, 8});
    NamedBlocks named(table);
    named.Add(0x49);           // bit 0 set
    named.Add(0x2000000000);
    named.Add(0x14);           // not in the table: marks nothing
    EXPECT_TRUE(named.FirstAndUnnamed(0));
    EXPECT_FALSE(named.FirstAndUnnamed(1)) << "named with bit 0 set";
    EXPECT_FALSE(named.FirstAndUnnamed(2));
    EXPECT_FALSE(named.FirstAndUnnamed(3)) << "not the entry its BID finds";
    EXPECT_TRUE(named.FirstAndUnnamed(4));
    EXPECT_FALSE(named.FirstAndUnnamed(5)) << "past the table";
    named.Add(0x0C);
    EXPECT_FALSE(named.FirstAndUnnamed(4));
    table.Append({0x80, 0x900, 8, 1, 8});
    EXPECT_TRUE(named.FirstAndUnnamed(5)) << "appended after the marks: named by nothing";
}

TEST(DeepRecovery, SoundStoresListTheSameWithAndWithoutTheDeepScan) {
    for (const char* name : kStores) {
        SCOPED_TRACE(name);
        BM_REQUIRE_STORE(store, name);
        const bmtest::StoreListing plain = bmtest::ListStore(store, false);
        const bmtest::StoreListing deep = bmtest::ListStore(store, true);
        EXPECT_FALSE(plain.deepRecoveryRan);
        EXPECT_TRUE(deep.deepRecoveryRan);
        EXPECT_GT(deep.report.blocksFound, 0u);
        EXPECT_EQ(deep.lines, plain.lines);
    }
}

TEST(DeepRecovery, DamagedCopiesGiveBackTheMeasuredShareOfItemsAndNeverLessThanTheWalkAlone) {
    // The large mail store is left to the report and the test below.
    for (const char* name : kStores) {
        if (std::string(name) == "unicode-enron.pst") continue;
        BM_REQUIRE_STORE(store, name);
        const bmtest::StoreListing sound = bmtest::ListStore(store, false);
        for (const Damage damage : bmtest::AllDamages()) {
            SCOPED_TRACE(std::string(name) + ": " + bmtest::DamageName(damage));
            const fs::path copy = DamagedCopy(store, damage, "deep-" + std::string(name) + std::to_string(static_cast<int>(damage)));
            const bmtest::StoreListing walkAlone = bmtest::ListStore(copy, false, false);
            const bmtest::StoreListing got = bmtest::ListStore(copy, false);
            EXPECT_GE(got.items, walkAlone.items);
            EXPECT_GE(static_cast<double>(got.items), std::floor(ExpectedShare(damage) * static_cast<double>(sound.items)));
        }
    }
}

// Rotates the block offsets of the fullest block-tree leaf page the walk
// reads in the store at `path`: each entry then names the place of its
// neighbour's block. The page's CRC no longer holds, but the walk still
// takes it. Returns how many entries were changed.
std::size_t RotateBlockOffsetsOfOneLeafPage(const fs::path& path) {
    StoreFile store;
    StoreReader reader;
    if (OpenStore(store, path, StoreOpenMode::SharedRead) != 0 || store.layout == nullptr) return 0;
    store.keepPagesEntered = true;
    BuildIndexes(store, reader);
    const StoreLayout& layout = *store.layout;
    const StoreScan scan = ScanStoreFile(store.file, layout);
    const std::unordered_set<std::uint64_t> walked = store.bbtPagesEntered;
    ReleaseStore(store);
    std::vector<std::uint8_t> bytes = bmtest::ReadWholeFile(path);
    const BlockEntryFields& f = layout.bbtLeaf;
    const PageFields& p = layout.page;
    struct Leaf {
        std::uint64_t at = 0;
        std::size_t count = 0;
        std::size_t stride = 0;
    };
    Leaf best;
    for (const ScannedPage& page : scan.pages) {
        if (page.type != kBlockTreePageType || page.level != 0 || walked.count(page.offset) == 0) continue;
        const ByteReader r(std::span<const std::uint8_t>(bytes).subspan(page.offset, p.size));
        Leaf leaf{page.offset, static_cast<std::size_t>(r.peekAt(p.footerCountAt, p.footerFieldWidth).value_or(0)),
                  f.size};
        if (p.sizedByFooter) leaf.stride = std::max<std::size_t>(f.size, r.peekAt(p.footerEntrySizeAt, 1).value_or(0));
        if (leaf.count > best.count) best = leaf;
    }
    if (best.count < 2) return 0;
    const std::size_t width = layout.idWidth;
    const auto offsetAt = [&](std::size_t i) { return best.at + i * best.stride + f.offsetAt; };
    const ByteReader whole(bytes);
    const std::uint64_t first = whole.peekAt(offsetAt(0), width).value_or(0);
    for (std::size_t i = 0; i < best.count; ++i) {
        const std::uint64_t next = i + 1 < best.count ? whole.peekAt(offsetAt(i + 1), width).value_or(0) : first;
        for (std::size_t b = 0; b < width; ++b) bytes[offsetAt(i) + b] = static_cast<std::uint8_t>(next >> (8 * b));
    }
    bmtest::WriteWholeFile(path, bytes);
    return best.count;
}

TEST(DeepRecovery, BlockEntriesNamingTheWrongPlaceAreMovedBackAndEveryItemListsAsInTheSoundStore) {
    for (const char* name : kStores) {
        SCOPED_TRACE(name);
        BM_REQUIRE_STORE(store, name);
        const bmtest::StoreListing sound = bmtest::ListStore(store, false);
        const fs::path copy = bmtest::ScratchDir(std::string("deep-moved-") + name) / store.filename();
        fs::copy_file(store, copy);
        const std::size_t rotated = RotateBlockOffsetsOfOneLeafPage(copy);
        ASSERT_GT(rotated, 1u);
        const bmtest::StoreListing walkAlone = bmtest::ListStore(copy, false, false);
        const bmtest::StoreListing deep = bmtest::ListStore(copy, true);
        // The 4 KiB sample also holds index entries whose place holds another
        // block even when sound; those are moved too.
        EXPECT_GE(deep.report.merged.blocksRelocated, rotated);
        // Deleted items still in free space may come back as well, under
        // Recovered Items; everything the sound store lists is there as it was.
        std::vector<std::string> found;
        for (const std::string& line : deep.lines)
            if (!line.starts_with("Personal Folders\\Recovered Items\\")) found.push_back(line);
        EXPECT_EQ(found, sound.lines);
        // Without the scan the damage shows: items lost, or folders whose
        // own record reads wrong (named again by their parents' rows).
        EXPECT_TRUE(walkAlone.lines != sound.lines || walkAlone.foldersRecordLost > 0)
            << "without the scan the damage shows";
        const bmtest::StoreListing automatic = bmtest::ListStore(copy, false);
        EXPECT_TRUE(automatic.deepRecoveryRan) << "the blocks read wrong, so the scan runs by itself";
        EXPECT_EQ(automatic.lines, deep.lines);
    }
}

TEST(DeepRecovery, ALostIndexRootIsFoundAgainAndTheSoundItemsAreAllListed) {
    BM_REQUIRE_STORE(store, "unicode-enron.pst");
    const bmtest::StoreListing sound = bmtest::ListStore(store, false);
    const fs::path copy = DamagedCopy(store, Damage::RootOffsetsZeroed, "deep-roots");
    const bmtest::StoreListing got = bmtest::ListStore(copy, false);
    EXPECT_TRUE(got.deepRecoveryRan);
    EXPECT_EQ(got.lines, sound.lines);
}

TEST(DeepRecovery, WithoutAHeaderTheLayoutComesFromTheDataAndTheItemsAreListed) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    const bmtest::StoreListing sound = bmtest::ListStore(store, false);
    const fs::path copy = bmtest::ScratchDir("deep-noheader") / "store.ost";
    fs::copy_file(store, copy);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    std::vector<std::uint8_t> bytes = bmtest::ReadWholeFile(copy);
    std::fill_n(bytes.begin(), 1024, 0);
    bmtest::WriteWholeFile(copy, bytes);
    const bmtest::StoreListing got = bmtest::ListStore(copy, false);
    EXPECT_TRUE(got.report.layoutFromData);
    EXPECT_GE(got.items, sound.items);
}

// The byte ranges of every block an item's content comes from: its data
// block and data tree, its subnode list and every subnode's blocks.
void AddExtents(StoreFile& store, const BlockEntry* entry, std::vector<std::pair<std::uint64_t, std::uint64_t>>& out,
                unsigned depth = 0) {
    if (entry == nullptr || depth > 2) return;
    const std::uint64_t a = store.layout->block.alignment;
    out.emplace_back(entry->offset(), entry->offset() + (entry->size() + store.layout->block.size + a - 1) / a * a);
    if (!IsInternalBid(entry->bid())) return;
    Bytes block;
    if (ReadBlockEntry(store, *entry, block) < 8 || block[0] != kDataTreeBlockType) return;
    const ByteReader r(block);
    const std::size_t width = store.layout->idWidth;
    for (std::size_t i = 0; i < r.peekAt(2, 2).value_or(0); ++i)
        if (const auto child = r.peekAt(store.layout->internal.dataTreeEntriesAt + i * width, width))
            AddExtents(store, FindBlock(store, *child), out, depth + 1);
}

// The lines bmtest::ListStore gives for the items of the sound store at
// `path` whose own blocks hold none of the offsets in `changed`.
std::vector<std::string> ItemsWithTheirOwnBlocksIntact(const fs::path& path, const std::vector<std::uint64_t>& changed) {
    StoreFile store;
    StoreReader reader;
    const MailSubtree subtree = OpenMailSubtree(store, path, reader);
    EXPECT_EQ(subtree.status, MailSubtreeStatus::Found);
    std::vector<std::string> intact;
    std::string folder = "Personal Folders\\";
    std::vector<std::size_t> stack;
    SubtreeWalk walk;
    walk.goOn = [] { return true; };
    walk.leaveFolder = [&] {
        if (stack.empty()) return false;
        folder.resize(stack.back());
        stack.pop_back();
        return true;
    };
    walk.visit = [&](std::unique_ptr<ItemRecord> record, const NodeEntry& node) {
        if (record->folderCounts) {
            if (!node.hasChildren()) return false;
            stack.push_back(folder.size());
            folder += record->displayName + "\\";
            return true;
        }
        std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
        AddExtents(store, node.dataBlock(), extents);
        AddExtents(store, node.subnodeBlock(), extents);
        if (node.subnodeBlock() != nullptr) {
            const SubnodeList subnodes = ReadSubnodes(store, *node.subnodeBlock());
            for (const SubnodeEntry& e : subnodes.entries()) {
                AddExtents(store, e.block, extents);
                AddExtents(store, e.subnodeBlock, extents);
            }
        }
        const bool hit = std::any_of(changed.begin(), changed.end(), [&](std::uint64_t at) {
            return std::any_of(extents.begin(), extents.end(), [&](const auto& x) { return at >= x.first && at < x.second; });
        });
        const MessageFields* m = record->messageFields.get();
        if (!hit)
            intact.push_back(folder + " | " + record->messageClass + " | " + (m != nullptr && m->subject ? m->subject->text : "") +
                             " | " + record->displayName);
        return false;
    };
    WalkMailSubtree(store, *subtree.root, reader, walk);
    ReleaseStore(store);
    return intact;
}

TEST(DeepRecovery, WithOneBytePer16KiBChangedEveryItemWhoseOwnBlocksSurviveIsListedInItsFolder) {
    for (const char* name : kStores) {
        SCOPED_TRACE(name);
        BM_REQUIRE_STORE(store, name);
        for (const std::uint64_t seed : {16u, 17u, 18u, 19u}) {
            SCOPED_TRACE("seed " + std::to_string(seed));
            const fs::path copy = bmtest::ScratchDir("deep-rot-" + std::to_string(seed) + name) / store.filename();
            fs::copy_file(store, copy);
            fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
            const std::vector<std::uint64_t> changed = bmtest::RotEvery16KiB(copy, seed);
            const bmtest::StoreListing got = bmtest::ListStore(copy, false);
            for (const std::string& line : ItemsWithTheirOwnBlocksIntact(store, changed))
                EXPECT_NE(std::find(got.lines.begin(), got.lines.end(), line), got.lines.end()) << line;
        }
    }
}

// Changes one byte of every index page the sound walk enters, in the room
// past its live entries (so every entry stays as it was but no checksum
// holds), and zeroes the header's root offsets, so that only the scan can
// find the index. Returns the pages changed.
std::size_t BreakEveryIndexPageChecksum(const fs::path& path) {
    StoreFile store;
    StoreReader reader;
    if (OpenStore(store, path, StoreOpenMode::SharedRead) != 0 || store.layout == nullptr) return 0;
    store.keepPagesEntered = true;
    BuildIndexes(store, reader);
    const StoreLayout layout = *store.layout;
    std::vector<std::uint64_t> pages(store.bbtPagesEntered.begin(), store.bbtPagesEntered.end());
    pages.insert(pages.end(), store.nbtPagesEntered.begin(), store.nbtPagesEntered.end());
    ReleaseStore(store);
    std::vector<std::uint8_t> bytes = bmtest::ReadWholeFile(path);
    const PageFields& p = layout.page;
    std::size_t changed = 0;
    for (const std::uint64_t page : pages) {
        const ByteReader r(std::span<const std::uint8_t>(bytes).subspan(page, p.size));
        const std::size_t count = r.peekAt(p.footerCountAt, p.footerFieldWidth).value_or(0);
        const std::size_t entry = r.peekAt(p.footerEntrySizeAt, 1).value_or(0);
        const std::size_t used = count * std::max<std::size_t>(entry, 1);
        if (used + 1 >= p.footerCountAt) continue;  // a full page: no room to change
        bytes[page + p.footerCountAt - 1] ^= 0x5A;
        ++changed;
    }
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(layout.header.nbtRootOffsetAt), layout.idWidth, 0);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(layout.header.bbtRootOffsetAt), layout.idWidth, 0);
    bmtest::WriteWholeFile(path, bytes);
    return changed;
}

TEST(DeepRecovery, IndexPagesWhoseChecksumFailsAreTakenByTheirKeysAndEveryItemStaysInItsFolder) {
    for (const char* name : kStores) {
        SCOPED_TRACE(name);
        BM_REQUIRE_STORE(store, name);
        const bmtest::StoreListing sound = bmtest::ListStore(store, false);
        const fs::path copy = bmtest::ScratchDir(std::string("deep-page-crc-") + name) / store.filename();
        fs::copy_file(store, copy);
        fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
        ASSERT_GT(BreakEveryIndexPageChecksum(copy), 0u);
        const bmtest::StoreListing got = bmtest::ListStore(copy, false);
        EXPECT_TRUE(got.deepRecoveryRan);
        // Every item the sound store lists is listed in its folder (those the
        // scan also finds in free space may come back under Recovered Items).
        for (const std::string& line : sound.lines)
            EXPECT_NE(std::find(got.lines.begin(), got.lines.end(), line), got.lines.end()) << line;
    }
}

class NullObserver : public AnalysisObserver {
public:
    void OnSourcePath(const std::string&) override {}
    void OnProgressRange(std::int32_t maximum) override { ranges.push_back(maximum); }
    void OnProgressPosition(std::int32_t) override {}
    void OnMessage(const std::string&) override {}
    void OnFinished(const AnalysisFinish&) override {}
    std::vector<std::int32_t> ranges;
};

std::int32_t CountOf(const AnalysisRun& run, const std::string& path) {
    for (const FolderSummary& s : run.results().folderSummaries())
        if (s.path == path) return s.count;
    return -1;
}

TEST(DeepRecovery, TheAnalysisShowsItemsWithoutAFolderUnderRecoveredItemsAndCountsThem) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    const fs::path copy = DamagedCopy(store, Damage::FirstNodeLeaf, "deep-analysis");
    const fs::path app = bmtest::ScratchDir("deep-analysis-app");
    PrepareAppDir(app);
    NullObserver observer;
    AnalysisRun run(observer, nullptr, app);
    AnalysisSource source;
    source.sourcePath = copy.string();
    EXPECT_EQ(run.AnalyzeStore(source), AnalysisOutcome::Completed);
    const bmtest::StoreListing listing = bmtest::ListStore(copy, false);
    ASSERT_GT(listing.report.recoveredItems, 0u);
    // Mail is counted in the folder; other kinds go to their own lists.
    const std::int32_t counted = CountOf(run, "Personal Folders\\Recovered Items\\");
    EXPECT_GT(counted, 0);
    EXPECT_LE(counted, static_cast<std::int32_t>(listing.report.recoveredItems));
    // The scan's range came first, then the walk's.
    ASSERT_GE(observer.ranges.size(), 2u);
    EXPECT_EQ(observer.ranges.front(), static_cast<std::int32_t>(kScanProgressRange));
}

TEST(DeepRecovery, TheDeepScanFlagLeavesASoundStoresAnalysisAsItWas) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    const fs::path app = bmtest::ScratchDir("deep-flag-app");
    PrepareAppDir(app);
    NullObserver observer;
    AnalysisRun plain(observer, nullptr, app);
    AnalysisRun deep(observer, nullptr, app);
    AnalysisSource source;
    source.sourcePath = store.string();
    ASSERT_EQ(plain.AnalyzeStore(source), AnalysisOutcome::Completed);
    source.deepScan = true;
    ASSERT_EQ(deep.AnalyzeStore(source), AnalysisOutcome::Completed);
    EXPECT_EQ(deep.results().counts(), plain.results().counts());
    ASSERT_EQ(deep.results().folderSummaries().size(), plain.results().folderSummaries().size());
    for (std::size_t i = 0; i < plain.results().folderSummaries().size(); ++i) {
        EXPECT_EQ(deep.results().folderSummaries()[i].path, plain.results().folderSummaries()[i].path);
        EXPECT_EQ(deep.results().folderSummaries()[i].count, plain.results().folderSummaries()[i].count);
    }
}

}  // namespace
}  // namespace bm
