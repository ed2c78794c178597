// The reader over the real stores in ../shared/stores/ (skipped when absent)
// and over damaged copies of one of them.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/byte_reader.h"
#include "store_test_helpers.h"

namespace {

namespace fs = std::filesystem;

// Expected numbers, obtained once from independent readers:
//  - leaf entries and tree depths: tools/count_index_entries.py, which walks
//    both B-trees trusting each page's own entry count and level (the reader
//    does not), e.g. `tools/count_index_entries.py ../shared/stores/*.?st`;
//  - the IPM subtree NID: pypff (python3-pypff), bytes 20-23 of property
//    0x35E0 of the message store; the two offline stores carry none, so
//    the reader's default NID 0x2142 applies (pypff lists "Top of
//    Information Store" there).
// The BBT count compares with the entries the reader took from live slots;
// slots past a page's count (stale copies from page splits) are tried too
// and counted apart.
struct RealStore {
    const char* name;
    std::uint32_t version;
    std::size_t nbtEntries;
    std::size_t bbtEntries;
    unsigned bbtDepth;
    unsigned nbtDepth;
    std::uint32_t ipmSubtreeNid;  // 0: the store names none
};

const RealStore kStores[] = {
    {"4k-sample.ost", 36, 571, 1469, 2, 2, 0},
    {"ansi-sample.pst", 14, 47, 38, 1, 2, 0x8022},
    {"unicode-dist-list.pst", 23, 128, 155, 2, 2, 0x8022},
    {"unicode-enron.pst", 23, 125, 2274, 4, 2, 0x8022},
    {"unicode-sample.ost", 23, 393, 1140, 3, 3, 0},
    {"unicode-sample.pst", 23, 48, 41, 2, 2, 0x8022},
    {"unicode-submessage.pst", 23, 47, 50, 2, 2, 0x8022},
};

class RealStores : public ::testing::TestWithParam<RealStore> {};

TEST_P(RealStores, BuildsCompleteTablesThatMatchAnIndependentReader) {
    const RealStore& expected = GetParam();
    BM_REQUIRE_STORE(path, expected.name);
    bm::StoreFile store;
    ASSERT_EQ(bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead), 0);
    bm::StoreReader reader;
    ASSERT_EQ(bm::BuildIndexes(store, reader), 0);

    EXPECT_EQ(store.formatVersion, expected.version);
    EXPECT_EQ(store.walkStats.nbtLeafEntries, expected.nbtEntries);
    EXPECT_EQ(store.walkStats.nbtEntriesPastCount, 0u);
    EXPECT_EQ(store.walkStats.bbtLeafEntries - store.walkStats.bbtEntriesPastCount, expected.bbtEntries);
    EXPECT_EQ(store.bbtLeafDepth + 1u, expected.bbtDepth);
    EXPECT_EQ(store.nbtLeafDepth + 1u, expected.nbtDepth);
    EXPECT_EQ(store.forest.size(), expected.nbtEntries);
    EXPECT_EQ(store.cryptMethod, expected.version == 36 ? 0u : 1u) << "the 4 KiB store is not encoded";

    ASSERT_NE(store.forest.first(), nullptr);
    EXPECT_EQ(store.forest.first()->nid, bm::kMessageStoreNid);
    EXPECT_TRUE(bm::OrphanNodes(store).empty());
    for (const bm::NodeEntry& node : store.forest.records()) {
        EXPECT_EQ(bm::FindNode(store, node.nid), &node);
        EXPECT_TRUE(store.forest.IsInForest(node)) << std::hex << node.nid;
    }

    std::vector<std::uint8_t> entryId(24, 0);
    bm::PutLe(entryId.data() + 20, expected.ipmSubtreeNid, 4);
    const bm::NodeEntry* root =
        expected.ipmSubtreeNid != 0
            ? bm::FindRootFolder(store, bm::StoreRecordState::WithIpmSubtree, entryId)
            : bm::FindRootFolder(store, bm::StoreRecordState::WithoutIpmSubtree);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->nid, expected.ipmSubtreeNid != 0 ? expected.ipmSubtreeNid : bm::kDefaultIpmSubtreeNid);
    EXPECT_TRUE(root->hasChildren()) << "the IPM subtree holds folders";

    // Every node's data and subnodes read whole, and nothing counts as damage.
    std::size_t heaps = 0;
    for (const bm::NodeEntry& node : store.forest.records()) {
        if (node.dataBlock() != nullptr) {
            bm::Bytes data;
            EXPECT_GT(bm::ReadNodeData(store, *node.dataBlock(), {&data, {}}), 0u) << std::hex << node.nid;
            if (data.size() > 2 && data[2] == 0xEC) ++heaps;
        }
        if (node.subnodeBlock() != nullptr) bm::ReadSubnodes(store, *node.subnodeBlock());
    }
    EXPECT_GT(heaps, expected.nbtEntries / 2);
    for (const auto& [name, value] : store.damage.Items()) EXPECT_EQ(value, 0u) << name;
}

INSTANTIATE_TEST_SUITE_P(Stores, RealStores, ::testing::ValuesIn(kStores), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

// Reads everything the tables lead to, as the runs will.
void ReadEverything(bm::StoreFile& store) {
    for (const bm::NodeEntry& node : store.forest.records()) {
        if (node.dataBlock() != nullptr) {
            bm::Bytes data;
            bm::ReadNodeData(store, *node.dataBlock(), {&data, {}});
        }
        if (node.subnodeBlock() != nullptr) bm::ReadSubnodes(store, *node.subnodeBlock());
    }
}

// Opens a file and builds its tables; BuildIndexes' result, -1 when the
// file does not open.
int OpenAndBuildFile(bm::StoreFile& store, const fs::path& path) {
    if (bm::OpenStore(store, path) != 0) return -1;
    bm::StoreReader reader;
    return bm::BuildIndexes(store, reader);
}

// A copy of unicode-sample.ost to damage.
fs::path DamageableCopy(const fs::path& original, const std::string& name) {
    const fs::path copy = bmtest::ScratchDir(name) / "store.ost";
    fs::copy_file(original, copy);
    return copy;
}

TEST(DamagedRealStore, AZeroedNodeLeafPageLosesOnlyItsOwnEntries) {
    BM_REQUIRE_STORE(original, "unicode-sample.ost");
    const fs::path path = DamageableCopy(original, "zeroed-nbt-leaf");
    {
        // The eighth of 30 NBT leaf pages, holding 14 entries
        // (tools/count_index_entries.py --pages).
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(0x1f9200);
        const std::vector<char> zeros(512, 0);
        f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    bm::StoreFile store;
    ASSERT_EQ(OpenAndBuildFile(store, path), 0);
    EXPECT_EQ(store.forest.size(), 393u - 14u);
    EXPECT_EQ(store.damage.pagesRejected, 1u);
    EXPECT_EQ(store.forest.first()->nid, bm::kMessageStoreNid);
    // Records whose parent was on the lost page are kept as orphans.
    for (const bm::NodeEntry* orphan : bm::OrphanNodes(store)) EXPECT_EQ(bm::FindNode(store, orphan->nid), orphan);
}

TEST(DamagedRealStore, ATruncatedFileKeepsThePagesBeforeTheCut) {
    BM_REQUIRE_STORE(original, "unicode-sample.ost");
    const fs::path path = DamageableCopy(original, "truncated");
    fs::resize_file(path, 0x300000);  // cuts one NBT leaf page of 8 entries (at 0x349e00)
    bm::StoreFile store;
    ASSERT_EQ(OpenAndBuildFile(store, path), 0);
    EXPECT_EQ(store.forest.size(), 393u - 8u);
    EXPECT_GE(store.damage.pagesUnreadable, 1u);
    ReadEverything(store);  // no read may go wrong
}

}  // namespace

namespace {

TEST(DamagedRealStore, RandomlyDamagedCopiesBuildAndReadWithoutHarm) {
    for (const char* name : {"ansi-sample.pst", "unicode-submessage.pst"}) {
        BM_REQUIRE_STORE(original, name);
        std::ifstream in(original, std::ios::binary);
        const std::vector<char> pristine((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::uint32_t seed = 12345;
        const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
        for (int round = 0; round < 12; ++round) {
            std::vector<char> bytes = pristine;
            // Leave the header alone so that the walks get going.
            for (int i = 0; i < 300; ++i) bytes[0x400 + next() % (bytes.size() - 0x400)] = static_cast<char>(next() >> 8);
            const fs::path path = bmtest::ScratchDir("random-damage") / "store.pst";
            std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            bm::StoreFile store;
            ASSERT_NE(OpenAndBuildFile(store, path), -1);
            ReadEverything(store);
            for (const bm::NodeEntry& node : store.forest.records()) EXPECT_EQ(bm::FindNode(store, node.nid), &node);
        }
    }
}

}  // namespace
