// The checker's bounded table reading gives the rows the whole-table reader
// gives, row for row and cell for cell: on a table whose heap and row
// matrix span many blocks (with a cache of two heap pages, so pages are
// read again and again), on one whose row matrix loses a block in the
// middle, and on every table of the shared stores.
#include "check/check_table_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "check/check_node_pages.h"
#include "common/byte_reader.h"
#include "messaging/property_reader.h"
#include "output/pst/ltp_node_sink.h"
#include "output/pst/ltp_subnodes.h"
#include "output/pst/ltp_tc.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_templates.h"
#include "output/pst/store_writer.h"
#include "store/btree_walk.h"
#include "store/nid_types.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/subnodes.h"
#include "support/heap_image.h"
#include "support/test_paths.h"

namespace {

using bmtest::Le32;
using bmtest::Utf16;

namespace pst = bm::pst;
using pst::MakeNid;
using pst::NidType;

constexpr pst::Nid kMessageStoreNid = 0x21;
constexpr pst::Nid kContents = MakeNid(NidType::ContentsTable, 0x400);
constexpr std::uint32_t kRows = 3000;

// A store with one contents table of kRows rows: a subject of varied length
// per row (a few too long for the heap, kept in subnodes), a sender name,
// the message size. The heap and the row matrix each span many blocks.
std::filesystem::path WriteLongTable(const std::string& name) {
    const auto path = bmtest::ScratchDir(name) / "long-table.pst";
    pst::NdbNodeSink sink(pst::NdbWriter::Create(path, {false, bm::CryptMethod::Permute}));
    sink.SetNode(kMessageStoreNid, sink.WriteData(std::vector<std::uint8_t>(64, 0x5A)), 0, 0);
    std::vector<pst::TableRow> rows;
    for (std::uint32_t i = 0; i < kRows; ++i) {
        pst::TableRow r;
        r.id = MakeNid(NidType::NormalMessage, 0x10000 + i);
        r.version = i + 1;
        const std::size_t length = i % 97 == 0 ? 2500 : i % 41;  // empty, short and heap-sized past a page
        r.cells.push_back({pst::tags::kSubject.value(), Utf16("subject " + std::to_string(i) + std::string(length, 'x'))});
        if (i % 3 != 0) r.cells.push_back({pst::tags::kSenderName.value(), Utf16("sender " + std::to_string(i % 50))});
        r.cells.push_back({pst::tags::kMessageSize.value(), Le32(1000 + i)});
        rows.push_back(std::move(r));
    }
    pst::LocalSubnodes subnodes(sink);
    subnodes.WriteNode(kContents, pst::BuildTableContext(pst::ContentsTableLayout(), rows, subnodes.Sink()), 0);
    sink.Finish();
    return path;
}

struct OpenedStore {
    bm::StoreFile store;
    bm::StoreReader reader;
    explicit OpenedStore(const std::filesystem::path& path) {
        ok = bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead) == 0 && bm::BuildIndexes(store, reader) == 0;
    }
    ~OpenedStore() { bm::ReleaseStore(store); }
    bool ok = false;
};

std::string Describe(const bm::PropertyChunk& row) {
    std::string out;
    for (const auto& v : row.entries) {
        out += std::to_string(v.id) + "/" + std::to_string(v.type) + "/" + std::to_string(v.size) + "/" +
               (v.data ? std::to_string(v.data->size()) : std::string("-")) + (v.numericNamed ? "n" : "") +
               (v.stringNamed ? "s" + v.name : "") + " ";
    }
    return out;
}

bool SameRow(const bm::PropertyChunk& a, const bm::PropertyChunk& b) {
    if (a.entries.size() != b.entries.size()) return false;
    for (std::size_t i = 0; i < a.entries.size(); ++i) {
        const auto &x = a.entries[i], &y = b.entries[i];
        if (x.id != y.id || x.type != y.type || x.size != y.size || x.data != y.data || x.name != y.name ||
            x.stringNamed != y.stringNamed || x.numericNamed != y.numericNamed)
            return false;
    }
    return true;
}

// Reads the node both ways and expects the same verdict and rows; returns
// the rows compared.
std::size_t ExpectSameRows(bm::StoreFile& store, const bm::NodeEntry& node, std::size_t heapPagesKept) {
    if (node.dataBlock() == nullptr) return 0;
    bm::SubnodeList subnodes;
    if (node.subnodeBlock() != nullptr) bm::ReadSubnodes(store, *node.subnodeBlock(), subnodes);
    bm::PropertyReadContext ctx;
    ctx.names = bm::StoreNamedPropertyMap(store);
    ctx.subnodes = bm::MakeSubnodeDataReader(store, &subnodes);

    std::vector<bm::PropertyChunk> whole;
    std::optional<std::size_t> wholeCount;
    bm::TableHeap wholeKind = bm::TableHeap::None;
    if (auto blocks = bm::ReadNodeBlocks(store, *node.dataBlock())) {
        if (const auto heap = bm::HeapNode::Open(std::move(*blocks), bm::HidLayoutFor(store))) {
            wholeKind = heap->clientSignature() == bm::kTableContextSig ? bm::TableHeap::Table : bm::TableHeap::NotTable;
            if (wholeKind == bm::TableHeap::Table)
                wholeCount = bm::ForEachTableRow(*heap, ctx, [&](bm::PropertyChunk&& row) { whole.push_back(std::move(row)); });
        }
    }

    bm::BoundedTableOptions options;
    options.names = ctx.names;
    options.heapPagesKept = heapPagesKept;
    std::size_t at = 0, differing = 0;
    std::optional<std::size_t> count;
    const auto kind = bm::ForEachBoundedTableRow(store, *node.dataBlock(), &subnodes, options, [&](bm::PropertyChunk&& row) {
        if (at >= whole.size() || !SameRow(whole[at], row)) {
            if (differing++ == 0)
                ADD_FAILURE() << "node " << node.nid << " row " << at << ": bounded " << Describe(row) << " whole "
                              << (at < whole.size() ? Describe(whole[at]) : std::string("(none)"));
        }
        ++at;
    }, count);
    EXPECT_EQ(kind, wholeKind) << "node " << node.nid;
    EXPECT_EQ(count, wholeCount) << "node " << node.nid;
    EXPECT_EQ(at, whole.size()) << "node " << node.nid;
    EXPECT_EQ(differing, 0u) << "node " << node.nid;
    return whole.size();
}

TEST(BoundedTableRows, ALongTableReadsAsTheWholeTableReaderReadsIt) {
    const auto path = WriteLongTable("bounded_long");
    OpenedStore s(path);
    ASSERT_TRUE(s.ok);
    const bm::NodeEntry* node = bm::FindNode(s.store, kContents);
    ASSERT_NE(node, nullptr);
    ASSERT_NE(node->subnodeBlock(), nullptr);
    // The heap and the row matrix (the table's largest subnode) span many blocks.
    EXPECT_GT(bm::NodePages(s.store, *node->dataBlock()).count(), 3u);
    std::size_t matrixBlocks = 0;
    const bm::SubnodeList subnodes = bm::ReadSubnodes(s.store, *node->subnodeBlock());
    for (const auto& e : subnodes.entries())
        if (e.block != nullptr) matrixBlocks = std::max(matrixBlocks, bm::NodePages(s.store, *e.block).count());
    EXPECT_GT(matrixBlocks, 3u);

    for (const std::size_t kept : {std::size_t{2}, std::size_t{16}}) {
        EXPECT_EQ(ExpectSameRows(s.store, *node, kept), kRows) << kept << " heap pages kept";
    }
    // The last row comes first, with its subject and size.
    std::vector<std::uint32_t> sizes;
    std::optional<std::size_t> count;
    bm::ForEachBoundedTableRow(s.store, *node->dataBlock(), &subnodes, {}, [&](bm::PropertyChunk&& row) {
        for (const auto& v : row.entries)
            if (v.id == 0x0E08 && v.data && v.data->size() == 4) sizes.push_back(bm::ByteReader(*v.data).readU32());
    }, count);
    ASSERT_EQ(sizes.size(), kRows);
    EXPECT_EQ(sizes.front(), 1000 + kRows - 1);
    EXPECT_EQ(sizes.back(), 1000u);
}

TEST(BoundedTableRows, RowsOfChosenColumnsHoldThoseCellsAsTheFullRowsDo) {
    const auto path = WriteLongTable("bounded_columns");
    OpenedStore s(path);
    ASSERT_TRUE(s.ok);
    const bm::NodeEntry* node = bm::FindNode(s.store, kContents);
    ASSERT_NE(node, nullptr);
    const bm::SubnodeList subnodes = bm::ReadSubnodes(s.store, *node->subnodeBlock());
    const std::vector<std::uint16_t> chosen{0x67F2, 0x0E08};  // row id, message size

    std::vector<bm::PropertyChunk> full, narrow;
    std::optional<std::size_t> fullCount, narrowCount;
    bm::ForEachBoundedTableRow(s.store, *node->dataBlock(), &subnodes, {},
                               [&](bm::PropertyChunk&& row) { full.push_back(std::move(row)); }, fullCount);
    bm::BoundedTableOptions options;
    options.onlyColumns = chosen;
    bm::ForEachBoundedTableRow(s.store, *node->dataBlock(), &subnodes, options,
                               [&](bm::PropertyChunk&& row) { narrow.push_back(std::move(row)); }, narrowCount);
    EXPECT_EQ(narrowCount, fullCount);
    ASSERT_EQ(narrow.size(), full.size());
    ASSERT_EQ(full.size(), kRows);
    for (std::size_t i = 0; i < full.size(); ++i) {
        bm::PropertyChunk expected;
        for (const auto& v : full[i].entries) {
            if (std::find(chosen.begin(), chosen.end(), v.id) != chosen.end()) expected.entries.push_back(v);
        }
        ASSERT_EQ(expected.entries.size(), 2u) << "row " << i;
        EXPECT_TRUE(SameRow(expected, narrow[i])) << "row " << i << ": " << Describe(narrow[i]);
    }
}

TEST(BoundedTableRows, ARowMatrixThatLosesABlockInTheMiddleReadsAsTheWholeTableReaderReadsIt) {
    const auto path = WriteLongTable("bounded_damaged");
    std::uint64_t xblock = 0;
    {
        OpenedStore s(path);
        ASSERT_TRUE(s.ok);
        const bm::NodeEntry* node = bm::FindNode(s.store, kContents);
        ASSERT_NE(node, nullptr);
        ASSERT_NE(node->subnodeBlock(), nullptr);
        const bm::SubnodeList subnodes = bm::ReadSubnodes(s.store, *node->subnodeBlock());
        for (const auto& e : subnodes.entries())
            if (e.block != nullptr && bm::IsInternalBid(e.block->bid()) && bm::NodePages(s.store, *e.block).count() > 3)
                xblock = e.block->offset();
    }
    ASSERT_NE(xblock, 0u) << "no row matrix in a data tree";
    // The XBLOCK's third entry names a block the store does not hold.
    {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(static_cast<std::streamoff>(xblock + 8 + 2 * 8));
        const std::uint8_t missing[8] = {0xF0, 0xFF, 0xFF, 0x0F, 0, 0, 0, 0};
        f.write(reinterpret_cast<const char*>(missing), sizeof missing);
    }
    OpenedStore s(path);
    ASSERT_TRUE(s.ok);
    const bm::NodeEntry* node = bm::FindNode(s.store, kContents);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(ExpectSameRows(s.store, *node, 2), kRows);
    // Rows past the two blocks left have no cells, the first ones have theirs.
    std::size_t empty = 0, full = 0;
    std::optional<std::size_t> count;
    bm::SubnodeList subnodes;
    bm::ReadSubnodes(s.store, *node->subnodeBlock(), subnodes);
    bm::ForEachBoundedTableRow(s.store, *node->dataBlock(), &subnodes, {}, [&](bm::PropertyChunk&& row) {
        ++(row.entries.empty() ? empty : full);
    }, count);
    EXPECT_GT(empty, kRows / 2);
    EXPECT_GT(full, 0u);
}

TEST(BoundedTableRows, EveryTableOfTheSharedStoresReadsAsTheWholeTableReaderReadsIt) {
    if (bmtest::SharedStoresDir().empty()) GTEST_SKIP() << "shared stores not present";
    std::size_t tables = 0;
    for (const char* name : bmtest::kSharedStoreNames) {
        const auto path = bmtest::SharedStore(name);
        if (path.empty()) continue;
        SCOPED_TRACE(name);
        OpenedStore s(path);
        if (!s.ok) continue;
        std::size_t rows = 0;
        for (const bm::NodeEntry& node : s.store.forest.records()) {
            const std::uint32_t type = bm::NidTypeOf(node.nid);
            if (type == bm::kNidTypeHierarchyTable || type == bm::kNidTypeContentsTable || type == 0x0F) {
                rows += ExpectSameRows(s.store, node, 4);
                ++tables;
            }
        }
        EXPECT_GT(rows, 0u);
    }
    EXPECT_GT(tables, 20u);
}

}  // namespace
