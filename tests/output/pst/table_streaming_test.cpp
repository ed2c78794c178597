// The streamed side of the table writer: heap blocks handed over as they are
// finished, table contexts written row by row, and rows that wait in a
// temporary file beside the output. Each streamed form is compared with the
// whole-in-memory form the writer had before, byte for byte, and stores
// written through it are read back.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "common/byte_reader.h"
#include "common/utf.h"
#include "ltp_reader_for_tests.h"
#include "memory_node_sink.h"
#include "output/output_readback.h"
#include "output/pst/ltp_bth.h"
#include "output/pst/ltp_heap.h"
#include "output/pst/ltp_subnodes.h"
#include "output/pst/ltp_tc.h"
#include "output/pst/ltp_tc_writer.h"
#include "output/pst/output_write_error.h"
#include "output/pst/packed_rows.h"
#include "output/pst/props_tags.h"
#include "output/pst/row_spill_file.h"
#include "output/pst/store_writer.h"
#include "support/heap_image.h"
#include "support/test_paths.h"

namespace bm::pst {
namespace {

using bmtest::Utf16;

namespace fs = std::filesystem;

// ---- heap ----

// Allocations of many sizes over more than two bitmap blocks' worth of
// blocks, then the first block's allocations overwritten as a client does.
std::size_t AllocSize(std::size_t i) { return (i * 37) % 301 + (i % 97 == 0 ? 3000 : 0) + (i % 50 == 0 ? 0 : 1); }

void FillHeap(HeapBuilder& heap) {
    for (std::size_t i = 0; i < 9000; ++i) {
        heap.Allocate(std::vector<std::uint8_t>(AllocSize(i), static_cast<std::uint8_t>(i)));
    }
    heap.Overwrite(0x20, std::vector<std::uint8_t>(AllocSize(0), 0xEE));
    heap.SetUserRoot(0x40);
}

TEST(HeapStreaming, HandsOverTheSameBlocksAsTheWholeHeapWithFewHeldAtOnce) {
    HeapBuilder whole(HeapClient::TableContext);
    FillHeap(whole);
    const auto expected = whole.Finish();
    ASSERT_GT(expected.size(), 8u + 128u + 10u) << "the heap must reach past its second bitmap block";

    HeapBuilder streamed(HeapClient::TableContext);
    std::map<std::size_t, std::vector<std::uint8_t>> got;
    std::size_t heldMost = 0;
    streamed.StreamBlocks([&](std::size_t index, std::vector<std::uint8_t> bytes) {
        EXPECT_EQ(got.count(index), 0u) << "block " << index << " handed over twice";
        got[index] = std::move(bytes);
    });
    std::size_t handedBefore = 0;
    for (std::size_t i = 0; i < 9000; ++i) {
        streamed.Allocate(std::vector<std::uint8_t>(AllocSize(i), static_cast<std::uint8_t>(i)));
        // Held: the blocks opened minus those handed over.
        heldMost = std::max(heldMost, streamed.blockCount() - got.size());
        handedBefore = got.size();
    }
    EXPECT_GT(handedBefore, 0u);
    EXPECT_LE(heldMost, 3u) << "the first block, a bitmap block and the current one";
    streamed.Overwrite(0x20, std::vector<std::uint8_t>(AllocSize(0), 0xEE));
    streamed.SetUserRoot(0x40);
    // A block already written cannot change any more.
    EXPECT_THROW(streamed.Overwrite((5u << 16) | 0x20, std::vector<std::uint8_t>(1, 0)), std::invalid_argument);
    streamed.FinishStreaming();

    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "heap block " << i;
    const auto view = bmtest::ReadHeap(expected);
    EXPECT_EQ(view.error, "");
}

TEST(HeapStreaming, AHeapOfOneBlockAndOneEndingOnABitmapBlockMatchTheWholeHeap) {
    for (std::size_t allocations : {std::size_t{3}, std::size_t{0}}) {
        HeapBuilder whole(HeapClient::PropertyContext);
        HeapBuilder streamed(HeapClient::PropertyContext);
        std::map<std::size_t, std::vector<std::uint8_t>> got;
        streamed.StreamBlocks([&](std::size_t i, std::vector<std::uint8_t> b) { got[i] = std::move(b); });
        for (std::size_t i = 0; i < allocations; ++i) {
            whole.Allocate(std::vector<std::uint8_t>(10, 1));
            streamed.Allocate(std::vector<std::uint8_t>(10, 1));
        }
        streamed.FinishStreaming();
        const auto expected = whole.Finish();
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(got[i], expected[i]);
    }
    // Nine blocks of one 3,580-byte allocation each: the last block is the
    // first bitmap block, written last and not padded.
    HeapBuilder whole(HeapClient::TableContext);
    HeapBuilder streamed(HeapClient::TableContext);
    std::map<std::size_t, std::vector<std::uint8_t>> got;
    streamed.StreamBlocks([&](std::size_t i, std::vector<std::uint8_t> b) { got[i] = std::move(b); });
    for (std::size_t i = 0; i < 17; ++i) {
        whole.Allocate(std::vector<std::uint8_t>(kMaxHeapAllocation, static_cast<std::uint8_t>(i)));
        streamed.Allocate(std::vector<std::uint8_t>(kMaxHeapAllocation, static_cast<std::uint8_t>(i)));
    }
    streamed.FinishStreaming();
    const auto expected = whole.Finish();
    ASSERT_EQ(expected.size(), 9u);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "heap block " << i;
}

// ---- table contexts ----

// Keeps data blocks, data trees and subnode lists by BID.
class RecordingSink final : public bmtest::MemoryNodeSinkBase {
public:
    Bid WriteData(std::span<const std::uint8_t> bytes) override {
        if (bytes.empty()) return 0;
        std::vector<std::vector<std::uint8_t>> pieces;
        for (std::size_t at = 0; at < bytes.size(); at += 8176) {
            const auto n = std::min<std::size_t>(8176, bytes.size() - at);
            pieces.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        return Put(std::move(pieces));
    }
    Bid WriteDataStream(std::uint64_t, const std::function<std::size_t(std::span<std::uint8_t>)>&) override {
        throw std::logic_error("not used by tables");
    }
    Bid WriteDataTree(const std::vector<NdbWriter::DataPiece>& pieces) override {
        if (pieces.size() == 1) return pieces.front().bid;
        std::vector<std::vector<std::uint8_t>> all;
        for (const auto& p : pieces) {
            const auto& block = blocks.at(p.bid);
            EXPECT_EQ(block.size(), 1u) << "a tree is made of single blocks";
            EXPECT_EQ(block.front().size(), p.size);
            all.push_back(block.front());
        }
        ++trees;
        return Put(std::move(all));
    }
    void SetNode(Nid nid, Bid data, Bid sub, Nid) override { nodes[nid] = {data, sub}; }
    Nid NewNid(NidType type) override { return MakeNid(type, 0x400); }

    // The node's heap blocks and its subnodes' data, by subnode NID.
    struct Table {
        std::vector<std::vector<std::uint8_t>> heap;
        std::map<Nid, std::vector<std::uint8_t>> values;
    };
    Table Read(Nid nid) const {
        Table t;
        const auto& [data, sub] = nodes.at(nid);
        t.heap = blocks.at(data);
        if (sub != 0) {
            for (const auto& s : subnodes.at(sub)) t.values[s.nid] = Flat(s.data);
        }
        return t;
    }

    std::map<Nid, std::pair<Bid, Bid>> nodes;
    int trees = 0;
};

TableLayout MailLayout() {
    return TableLayout::Arrange({tags::kSubject.value(), tags::kMessageFlags.value(),
                                 tags::kMessageDeliveryTime.value(), tags::kSenderName.value()});
}

// Rows with subjects of varying length, some too long for the heap, and
// ids out of order.
std::vector<TableRow> MailRows(std::size_t count) {
    std::vector<TableRow> rows;
    for (std::uint32_t i = 0; i < count; ++i) {
        TableRow r;
        r.id = 0x200004 + 0x20 * ((i * 7919) % static_cast<std::uint32_t>(count));
        r.version = i + 1;
        std::string subject = "subject " + std::to_string(i);
        if (i % 1000 == 3) subject.append(2000, 'x');  // 4,000 bytes of UTF-16: a subnode
        r.cells.push_back({tags::kSubject.value(), Utf16(subject)});
        if (i % 3 != 0) r.cells.push_back({tags::kSenderName.value(), Utf16("sender " + std::to_string(i % 17))});
        r.cells.push_back({tags::kMessageFlags.value(), {static_cast<std::uint8_t>(i), 0, 0, 0}});
        r.cells.push_back({tags::kMessageDeliveryTime.value(), std::vector<std::uint8_t>(8, static_cast<std::uint8_t>(i))});
        rows.push_back(std::move(r));
    }
    return rows;
}

void ExpectSameTable(const TableLayout& layout, const std::vector<TableRow>& rows) {
    constexpr Nid kNid = 0x8E;
    RecordingSink whole;
    {
        LocalSubnodes subnodes(whole);
        subnodes.WriteNode(kNid, BuildTableContext(layout, rows, subnodes.Sink()), 0);
    }
    RecordingSink streamed;
    int readings = 0;
    WriteTableContext(streamed, kNid, 0, layout, [&](const TableRowVisitor& visit) {
        ++readings;
        for (const TableRow& r : rows) visit(r);
    });
    EXPECT_EQ(readings, 2);
    const auto a = whole.Read(kNid);
    const auto b = streamed.Read(kNid);
    ASSERT_EQ(a.heap.size(), b.heap.size()) << rows.size() << " rows";
    for (std::size_t i = 0; i < a.heap.size(); ++i) EXPECT_EQ(a.heap[i], b.heap[i]) << "heap block " << i;
    ASSERT_EQ(a.values.size(), b.values.size());
    for (const auto& [nid, bytes] : a.values) {
        ASSERT_EQ(b.values.count(nid), 1u) << "subnode " << nid;
        EXPECT_EQ(b.values.at(nid), bytes) << "subnode " << nid;
    }
    // And it reads as the table it is.
    const auto view = bmtest::ReadHeap(b.heap);
    EXPECT_EQ(view.error, "");
    const auto tc = bmtest::ReadTcInfo(view);
    EXPECT_EQ(tc.error, "");
    EXPECT_EQ(tc.rowIndex.records.size(), rows.size());
}

TEST(TableContextWriter, WritesTheSameTableAsTheWholeBuilder) {
    ExpectSameTable(MailLayout(), {});
    ExpectSameTable(MailLayout(), MailRows(1));
    ExpectSameTable(MailLayout(), MailRows(40));  // the row matrix in the heap
    ExpectSameTable(MailLayout(), MailRows(90));  // one matrix block
    ExpectSameTable(MailLayout(), MailRows(1200));
    // Heaps past the first and second bitmap blocks (blocks 8 and 136).
    ExpectSameTable(MailLayout(), MailRows(60000));
}

TEST(TableContextWriter, RefusesRepeatedRowIdsAndRowsThatChangeBetweenReadings) {
    RecordingSink sink;
    std::vector<TableRow> rows = MailRows(5);
    rows[3].id = rows[1].id;
    EXPECT_THROW(WriteTableContext(sink, 0x8E, 0, MailLayout(),
                                   [&](const TableRowVisitor& visit) {
                                       for (const auto& r : rows) visit(r);
                                   }),
                 std::invalid_argument);
    int reading = 0;
    const std::vector<TableRow> more = MailRows(6);
    EXPECT_THROW(WriteTableContext(sink, 0x8E, 0, MailLayout(),
                                   [&](const TableRowVisitor& visit) {
                                       const std::size_t n = reading++ == 0 ? 5 : 6;
                                       for (std::size_t i = 0; i < n; ++i) visit(more[i]);
                                   }),
                 std::logic_error);
}

// ---- rows waiting in a file ----

// The file size limit stands in for a full disk: a write past it fails
// (EFBIG) the way it fails with ENOSPC. Restored when the scope ends.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        savedSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedSignal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*savedSignal_)(int) = SIG_DFL;
};

std::size_t FilesIn(const fs::path& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
    return n;
}

TEST(RowSpill, RowsComeBackInOrderFromTheFileWithLittleHeldInMemory) {
    const fs::path dir = bmtest::ScratchDir("row-spill-order");
    const std::vector<TableRow> rows = MailRows(20000);
    std::optional<RowSpillFile> spill(std::in_place, dir);
    PackedRows packed(*spill);
    PackedRows other(*spill);  // a second folder's rows interleaved in the same file
    for (std::size_t i = 0; i < rows.size(); ++i) {
        packed.Add(rows[i]);
        if (i % 4 == 0) other.Add(rows[rows.size() - 1 - i]);
    }
    EXPECT_EQ(packed.size(), rows.size());
    EXPECT_GT(packed.bytesSpilled(), 10 * PackedRows::kBlockBytes);
    EXPECT_LT(packed.bytesHeld(), PackedRows::kBlockBytes + 64 * 1024) << "one block and the extents' list";
    // The file's name is gone as soon as it is made: nothing to leave behind.
    EXPECT_FALSE(spill->madeAs().empty());
    EXPECT_EQ(spill->madeAs().parent_path(), dir);
    EXPECT_EQ(FilesIn(dir), 0u);

    for (int pass = 0; pass < 2; ++pass) {
        std::size_t i = 0;
        packed.ForEach([&](const TableRow& r) {
            ASSERT_LT(i, rows.size());
            EXPECT_EQ(r.id, rows[i].id);
            EXPECT_EQ(r.version, rows[i].version);
            ASSERT_EQ(r.cells.size(), rows[i].cells.size());
            for (std::size_t c = 0; c < r.cells.size(); ++c) EXPECT_EQ(r.cells[c].bytes, rows[i].cells[c].bytes);
            ++i;
        });
        EXPECT_EQ(i, rows.size());
    }
    other.SpillPending();
    EXPECT_EQ(other.bytesHeld() < 4096, true);
    const auto back = other.Unpack();
    ASSERT_EQ(back.size(), (rows.size() + 3) / 4);
    EXPECT_EQ(back.back().id, rows[rows.size() - 1 - 4 * (back.size() - 1)].id);
    packed.Clear();
    EXPECT_TRUE(packed.empty());
}

TEST(RowSpill, AFailedWriteOfTheFileNamesItsReasonAndEveryLaterUseFailsToo) {
    const fs::path dir = bmtest::ScratchDir("row-spill-fails");
    RowSpillFile spill(dir);
    PackedRows packed(spill);
    const std::vector<TableRow> rows = MailRows(5000);
    std::string message;
    {
        FileSizeLimit limit(96 * 1024);  // the second block does not fit
        try {
            for (const auto& r : rows) packed.Add(r);
        } catch (const OutputWriteError& e) {
            message = e.what();
        }
    }
    ASSERT_FALSE(message.empty()) << "a write past the limit must fail";
    EXPECT_NE(message.find(std::strerror(EFBIG)), std::string::npos) << message;
    EXPECT_NE(message.find("temporary file of table rows"), std::string::npos) << message;
    EXPECT_NE(message.find(dir.string()), std::string::npos) << message;
    // The limit is back, but the file stays failed.
    EXPECT_THROW(spill.ThrowIfFailed(), OutputWriteError);
    EXPECT_THROW(packed.ForEach([](const TableRow&) {}), OutputWriteError);
    EXPECT_EQ(FilesIn(dir), 0u);
}

// ---- whole stores ----

Message Mail(const std::string& subject) {
    Message m;
    m.properties.SetString(tags::kMessageClass, "IPM.Note");
    m.properties.SetString(tags::kSubject, subject);
    m.properties.SetString(tags::kSenderName, "Sender of " + subject);
    return m;
}

TEST(RowSpillStore, AStoreWhoseRowsWaitedInAFileListsEveryMessageAndLeavesOnlyItself) {
    const fs::path dir = bmtest::ScratchDir("row-spill-store");
    const fs::path path = dir / "out.pst";
    constexpr int kInbox = 3000, kSent = 700;
    const auto fill = [](PstStore& store) {
        const auto inbox = store.CreateFolder(store.ipmSubtree(), "Inbox");
        const auto sent = store.CreateFolder(store.ipmSubtree(), "Sent Items");
        for (int i = 0; i < kInbox; ++i) {
            store.AddMessage(inbox, Mail("inbox mail " + std::to_string(i)));
            if (i < kSent) store.AddMessage(sent, Mail("sent mail " + std::to_string(i)));
        }
        store.Finish();
    };
    {
        auto store = PstStore::Create(path, {.seed = 1, .defaultMessageTime = 1700000000});
        fill(*store);
    }
    EXPECT_EQ(FilesIn(dir), 1u) << "only the store itself";
    const auto back = bmtest::ReadBack(path);
    EXPECT_EQ(back.In("Inbox").size(), static_cast<std::size_t>(kInbox));
    EXPECT_EQ(back.In("Sent Items").size(), static_cast<std::size_t>(kSent));

    // The same content with its rows kept in memory gives the same file,
    // byte for byte: where rows wait changes nothing written.
    const fs::path inMemory = dir / "in-memory.pst";
    {
        auto store = PstStore::CreateOn(
            std::make_unique<NdbNodeSink>(NdbWriter::Create(inMemory, {false, CryptMethod::Permute})),
            {.seed = 1, .defaultMessageTime = 1700000000});
        fill(*store);
    }
    auto bytesOf = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_TRUE(bytesOf(inMemory) == bytesOf(path));
}

}  // namespace
}  // namespace bm::pst
