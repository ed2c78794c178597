#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "output/pst/ndb_test_reader.h"
#include "output/pst/ndb_writer.h"
#include "support/test_paths.h"

namespace {

using bm::pst::Bid;
using bm::pst::MakeNid;
using bm::pst::Nid;
using bm::pst::NidType;
using bm::pst::NdbWriter;

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> out(size);
    std::mt19937 rng(seed);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

std::vector<std::uint8_t> FileHead(const std::filesystem::path& path, std::size_t n) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> out(n);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return out;
}

// A store holding every shape the writer produces: hundreds of small nodes,
// one XBLOCK tree, one XXBLOCK tree, a streamed value, given heap pieces and
// a subnode tree that needs an SIBLOCK.
struct MixedStore {
    std::filesystem::path path;
    std::map<Nid, std::vector<std::uint8_t>> expected;  // node data
    std::map<Nid, std::vector<std::uint8_t>> expectedSub;  // subnodes of kSubOwner
    static constexpr Nid kSubOwner = MakeNid(NidType::NormalMessage, 0x10000);

    explicit MixedStore(const std::string& name, bm::CryptMethod crypt = bm::CryptMethod::Permute) {
        path = bmtest::ScratchDir(name) / "store.pst";
        auto w = NdbWriter::Create(path, {false, crypt});
        for (std::uint32_t i = 0; i < 300; ++i) {
            const Nid nid = w->NewNid(NidType::NormalFolder);
            auto bytes = Pattern(20 + i * 7, i);
            w->SetNode(nid, w->WriteData(bytes), 0, MakeNid(NidType::NormalFolder, 9));
            expected[nid] = std::move(bytes);
        }
        auto big = Pattern(20000, 1001);  // three blocks: XBLOCK
        const Nid bigNid = MakeNid(NidType::Internal, 0x7001);
        w->SetNode(bigNid, w->WriteData(big), 0, 0);
        expected[bigNid] = std::move(big);

        auto huge = Pattern(NdbWriter::kMaxBlockData * 1021 + 5000, 1002);  // XXBLOCK
        const Nid hugeNid = MakeNid(NidType::Internal, 0x7002);
        w->SetNode(hugeNid, w->WriteData(huge), 0, 0);
        expected[hugeNid] = std::move(huge);

        auto streamed = Pattern(100000, 1003);
        std::size_t at = 0;
        const Bid streamBid = w->WriteDataStream(streamed.size(), [&](std::span<std::uint8_t> out) {
            const std::size_t n = std::min<std::size_t>({out.size(), 777, streamed.size() - at});
            std::copy_n(streamed.begin() + static_cast<std::ptrdiff_t>(at), n, out.begin());
            at += n;
            return n;
        });
        const Nid streamNid = MakeNid(NidType::Internal, 0x7003);
        w->SetNode(streamNid, streamBid, 0, 0);
        expected[streamNid] = std::move(streamed);

        std::vector<std::vector<std::uint8_t>> heap{Pattern(100, 1), Pattern(3000, 2), Pattern(8176, 3)};
        const Nid heapNid = MakeNid(NidType::Internal, 0x7004);
        w->SetNode(heapNid, w->WriteDataBlocks(heap), 0, 0);
        std::vector<std::uint8_t> joined;
        for (const auto& p : heap) joined.insert(joined.end(), p.begin(), p.end());
        expected[heapNid] = std::move(joined);

        std::vector<NdbWriter::Subnode> subs;
        for (std::uint32_t i = 0; i < 400; ++i) {  // more than one SLBLOCK holds
            const Nid nid = MakeNid(NidType::Ltp, 400 - i);
            auto bytes = Pattern(10 + i, 5000 + i);
            subs.push_back({nid, w->WriteData(bytes), 0});
            expectedSub[nid] = std::move(bytes);
        }
        auto ownerData = Pattern(64, 77);
        w->SetNode(kSubOwner, w->WriteData(ownerData), w->WriteSubnodes(subs), MakeNid(NidType::NormalFolder, 0x400));
        expected[kSubOwner] = std::move(ownerData);
        w->Finish();
    }
};

TEST(NdbWriter, EveryNodeReadsBackWithItsExactBytes) {
    const MixedStore store("ndb_mixed");
    const bmtest::NdbTestReader reader(store.path);
    ASSERT_EQ(reader.nodes().size(), store.expected.size());
    for (const auto& [nid, bytes] : store.expected) {
        const auto it = reader.nodes().find(nid);
        ASSERT_NE(it, reader.nodes().end()) << "node " << nid;
        EXPECT_EQ(reader.data(it->second.data), bytes) << "node " << nid;
    }
    // 305 nodes fill 21 leaf pages, one more than a branch page holds; the
    // 1,800-odd blocks likewise need two branch levels.
    EXPECT_EQ(reader.nbtDepth(), 3);
    EXPECT_EQ(reader.bbtDepth(), 3);

    const auto& owner = reader.nodes().at(MixedStore::kSubOwner);
    EXPECT_EQ(owner.parent, MakeNid(NidType::NormalFolder, 0x400));
    ASSERT_TRUE(bm::pst::IsInternalBid(owner.subnodes));
    EXPECT_EQ(reader.block(owner.subnodes)[1], 1) << "400 subnodes need an SIBLOCK";
    const auto subs = reader.subnodes(owner.subnodes);
    ASSERT_EQ(subs.size(), store.expectedSub.size());
    for (const auto& [nid, bytes] : store.expectedSub) EXPECT_EQ(reader.data(subs.at(nid).data), bytes);
}

TEST(NdbWriter, DataTreesHaveTheShapeTheSizeCalls) {
    const MixedStore store("ndb_shapes");
    const bmtest::NdbTestReader reader(store.path);
    const auto levelOf = [&](Nid nid) {
        const Bid bid = reader.nodes().at(nid).data;
        return bm::pst::IsInternalBid(bid) ? reader.block(bid)[1] : 0;
    };
    EXPECT_EQ(levelOf(MakeNid(NidType::Internal, 0x7001)), 1);  // XBLOCK
    EXPECT_EQ(levelOf(MakeNid(NidType::Internal, 0x7002)), 2);  // XXBLOCK
    EXPECT_EQ(levelOf(MakeNid(NidType::Internal, 0x7004)), 1);  // given pieces
    // The given pieces stay exactly as handed over.
    const auto heap = reader.block(reader.nodes().at(MakeNid(NidType::Internal, 0x7004)).data);
    bm::ByteReader r(heap);
    r.skip(2);
    ASSERT_EQ(r.readU16(), 3);
    r.skip(4);
    EXPECT_EQ(reader.blocks().at(r.readU64()).cb, 100);
    EXPECT_EQ(reader.blocks().at(r.readU64()).cb, 3000);
    EXPECT_EQ(reader.blocks().at(r.readU64()).cb, 8176);
}

TEST(NdbWriter, HeaderDescribesTheFinishedFile) {
    const MixedStore store("ndb_header");
    const bmtest::NdbTestReader reader(store.path);
    namespace hdr = bm::pst::hdr;
    const auto& file = reader.file();
    EXPECT_EQ(reader.field(hdr::kMagic, 4), bm::pst::kHeaderMagic);
    EXPECT_EQ(reader.field(hdr::kMagicClient, 2), bm::pst::kMagicClientPst);
    EXPECT_EQ(reader.field(hdr::kVersion, 2), 23u);
    EXPECT_EQ(reader.field(hdr::kCrcPartial, 4),
              bm::ComputeCrc(std::span(file).subspan(hdr::kMagicClient, hdr::kCrcPartialLength)));
    EXPECT_EQ(reader.field(hdr::kCrcFull, 4),
              bm::ComputeCrc(std::span(file).subspan(hdr::kMagicClient, hdr::kCrcFullLength)));
    EXPECT_EQ(reader.field(hdr::kFileEof, 8), file.size());
    EXPECT_EQ((file.size() - bm::pst::kFirstAMapOffset) % bm::pst::kAMapCoverage, 0u);
    EXPECT_EQ(reader.field(hdr::kAMapLast, 8), file.size() - bm::pst::kAMapCoverage);
    EXPECT_EQ(reader.field(hdr::kAMapValidFlag, 1), bm::pst::kAMapValid);
    EXPECT_EQ(reader.field(hdr::kSentinelAt, 1), bm::pst::kSentinel);
    EXPECT_EQ(reader.field(hdr::kCryptMethod, 1), 1u);
    // Counters continue after what was handed out, and past every index in
    // use: a message node set with its own NID, internal nodes, subnodes.
    const auto mark = [&](std::uint32_t type) { return reader.field(hdr::kRgnid + 4 * type, 4); };
    EXPECT_EQ(mark(0x02), 0x400u + 300);
    EXPECT_EQ(mark(0x04), 0x10001u);
    EXPECT_GE(mark(0x01), 0x7005u);
    EXPECT_GE(mark(0x1F), 401u);
    // The folder tables share their folder's index.
    for (std::uint32_t table : {0x0Du, 0x0Eu, 0x0Fu}) EXPECT_GE(mark(table), mark(0x02)) << table;
    EXPECT_GT(reader.field(hdr::kBidNextB, 8), reader.blocks().rbegin()->first);
    // An 8 MB store has PMaps (every 8th interval) but no FMap yet.
    EXPECT_EQ(file[bm::pst::kFirstAMapOffset + 512 + bm::pst::kTrailerPType],
              static_cast<std::uint8_t>(bm::pst::PageType::PageMap));
}

TEST(NdbWriter, BlocksCarryReferenceCountsOneAboveTheirReferences) {
    const auto path = bmtest::ScratchDir("ndb_refs") / "refs.pst";
    Bid shared = 0, replaced = 0, orphan = 0, kept = 0;
    {
        auto w = NdbWriter::Create(path, {});
        shared = w->WriteData(Pattern(50, 1));
        w->SetNode(MakeNid(NidType::Internal, 0x500), shared, 0, 0);
        w->SetNode(MakeNid(NidType::Internal, 0x501), shared, 0, 0);
        w->AddBlockReference(shared);
        replaced = w->WriteData(Pattern(20000, 2));
        w->SetNode(MakeNid(NidType::Internal, 0x502), replaced, 0, 0);
        kept = w->WriteData(Pattern(60, 3));
        w->SetNode(MakeNid(NidType::Internal, 0x502), kept, 0, 0);  // replaces the tree
        orphan = w->WriteData(Pattern(70, 4));
        w->Finish();
    }
    const bmtest::NdbTestReader reader(path);
    EXPECT_EQ(reader.blocks().at(shared).cRef, 4);  // two nodes + one shared use + 1
    EXPECT_EQ(reader.blocks().at(kept).cRef, 2);
    EXPECT_EQ(reader.blocks().count(replaced), 0u) << "a replaced tree is released";
    EXPECT_EQ(reader.blocks().count(orphan), 0u) << "a block nobody references is dropped";
    EXPECT_EQ(reader.blocks().size(), 2u) << "the replaced tree's data blocks go with it";
    EXPECT_EQ(reader.data(reader.nodes().at(MakeNid(NidType::Internal, 0x502)).data), Pattern(60, 3));
}

TEST(NdbWriter, AnUnfinishedStoreNeverLooksValid) {
    const auto path = bmtest::ScratchDir("ndb_unfinished") / "cut.pst";
    {
        auto w = NdbWriter::Create(path, {});
        for (int i = 0; i < 2000; ++i) w->SetNode(w->NewNid(NidType::NormalMessage), w->WriteData(Pattern(5000, i)), 0, 0);
        EXPECT_GT(w->FileSize(), 10'000'000u);
        // Dropped without Finish, as a crash would.
    }
    const auto head = FileHead(path, 4);
    ASSERT_EQ(head.size(), 4u);
    EXPECT_NE(bm::ByteReader(head).peekAt(0, 4), std::optional<std::uint64_t>(bm::pst::kHeaderMagic));
}

TEST(NdbWriter, EveryEncodingReadsBack) {
    for (const auto crypt : {bm::CryptMethod::None, bm::CryptMethod::Cyclic}) {
        const auto path = bmtest::ScratchDir("ndb_crypt") / ("c" + std::to_string(int(crypt)) + ".pst");
        const auto bytes = Pattern(30000, 9);
        {
            auto w = NdbWriter::Create(path, {true, crypt});
            w->SetNode(MakeNid(NidType::Internal, 0x600), w->WriteData(bytes), 0, 0);
            w->Finish();
        }
        const bmtest::NdbTestReader reader(path);
        EXPECT_EQ(reader.field(bm::pst::hdr::kCryptMethod, 1), static_cast<std::uint64_t>(crypt));
        EXPECT_EQ(reader.field(bm::pst::hdr::kMagicClient, 2), bm::pst::kMagicClientOst);
        EXPECT_EQ(reader.data(reader.nodes().at(MakeNid(NidType::Internal, 0x600)).data), bytes);
    }
}

TEST(NdbWriter, EmptyDataWritesNoBlock) {
    const auto path = bmtest::ScratchDir("ndb_empty") / "empty.pst";
    {
        auto w = NdbWriter::Create(path, {});
        EXPECT_EQ(w->WriteData({}), 0u);
        EXPECT_EQ(w->WriteDataStream(0, [](std::span<std::uint8_t>) { return std::size_t{0}; }), 0u);
        w->SetNode(MakeNid(NidType::Internal, 0x1E), 0, 0, 0);
        w->SetNode(MakeNid(NidType::Internal, 0x500), w->WriteData(Pattern(10, 1)), 0, 0);
        w->Finish();
    }
    const bmtest::NdbTestReader reader(path);
    EXPECT_EQ(reader.nodes().at(MakeNid(NidType::Internal, 0x1E)).data, 0u) << "an empty node has bidData 0";
    ASSERT_EQ(reader.blocks().size(), 1u);
    for (const auto& [bid, b] : reader.blocks()) EXPECT_GT(b.cb, 0u) << "block " << bid;
}

// Blocks fill the first interval up to 64 bytes before the next one, so the
// next 512-byte page would align onto the second interval's AMap.
TEST(NdbWriter, NothingIsPlacedOnAnAllocationMapPage) {
    const auto path = bmtest::ScratchDir("ndb_mapslot") / "slot.pst";
    const std::uint64_t second = bm::pst::kFirstAMapOffset + bm::pst::kAMapCoverage;
    std::map<Nid, std::vector<std::uint8_t>> expected;
    {
        auto w = NdbWriter::Create(path, {});
        std::uint32_t seed = 0;
        while (w->FileSize() < second - 64) {
            const std::uint64_t room = second - 64 - w->FileSize();
            const std::size_t span = static_cast<std::size_t>(std::min<std::uint64_t>(room, 8192));
            auto bytes = Pattern(span - 16, ++seed);
            const Nid nid = MakeNid(NidType::Internal, 0x500 + seed);
            w->SetNode(nid, w->WriteData(bytes), 0, 0);
            expected[nid] = std::move(bytes);
        }
        ASSERT_EQ(w->FileSize(), second - 64);
        w->Finish();
    }
    const bmtest::NdbTestReader reader(path);
    const auto& file = reader.file();
    for (std::uint64_t base = bm::pst::kFirstAMapOffset; base < file.size(); base += bm::pst::kAMapCoverage) {
        EXPECT_EQ(file[base + bm::pst::kTrailerPType], static_cast<std::uint8_t>(bm::pst::PageType::AllocationMap))
            << "interval at 0x" << std::hex << base;
    }
    EXPECT_NE(reader.field(bm::pst::hdr::kNbtRoot + 8, 8) % bm::pst::kAMapCoverage,
              bm::pst::kFirstAMapOffset % bm::pst::kAMapCoverage);
    ASSERT_EQ(reader.nodes().size(), expected.size());
    for (const auto& [nid, bytes] : expected) EXPECT_EQ(reader.data(reader.nodes().at(nid).data), bytes);
}

// A heap streamed to the file finishes its first block last: the node's data
// tree lists blocks written earlier in the order given, not the order they
// were written in, and a block set twice as a node keeps only its last entry.
TEST(NdbWriter, ADataTreeOverBlocksWrittenOutOfOrderReadsBackInTheGivenOrder) {
    const auto path = bmtest::ScratchDir("ndb_data_tree") / "t.pst";
    const std::vector<std::uint8_t> first = Pattern(8176, 1), second = Pattern(8176, 2), last = Pattern(300, 3);
    const Nid tree = MakeNid(NidType::Internal, 0x501), single = MakeNid(NidType::Internal, 0x502);
    {
        auto w = NdbWriter::Create(path, {});
        const Bid b2 = w->WriteData(second);
        const Bid b3 = w->WriteData(last);
        const Bid b1 = w->WriteData(first);
        w->SetNode(tree, w->WriteDataTree({{b1, first.size()}, {b2, second.size()}, {b3, last.size()}}), 0, 0);
        const Bid alone = w->WriteData(last);
        EXPECT_EQ(w->WriteDataTree({{alone, last.size()}}), alone) << "one block is its own tree";
        w->SetNode(single, w->WriteData(first), 0, 0);
        w->SetNode(single, alone, 0, 0);
        // Not a data block of that size, an internal block, no block at all.
        EXPECT_THROW(w->WriteDataTree({{b1, 100}}), std::invalid_argument);
        EXPECT_THROW(w->WriteDataTree({{b1 | 2, first.size()}}), std::invalid_argument);
        EXPECT_THROW(w->WriteDataTree({}), std::invalid_argument);
        w->Finish();
    }
    const bmtest::NdbTestReader reader(path);
    std::vector<std::uint8_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(reader.data(reader.nodes().at(tree).data), expected);
    EXPECT_EQ(reader.nodes().size(), 2u);
    EXPECT_EQ(reader.data(reader.nodes().at(single).data), last);
    // The three tree leaves, the XBLOCK and the block the single node now names.
    EXPECT_EQ(reader.blocks().size(), 5u) << "the block the node named first is dropped";
}

TEST(NdbWriter, MisuseIsRefusedWithAClearError) {
    EXPECT_THROW(NdbWriter::Create("/nonexistent-dir/x.pst", {}), std::runtime_error);
    const auto path = bmtest::ScratchDir("ndb_misuse") / "m.pst";
    auto w = NdbWriter::Create(path, {});
    EXPECT_THROW(w->WriteDataBlocks({std::vector<std::uint8_t>(8177)}), std::invalid_argument);
    EXPECT_THROW(w->WriteDataBlocks({}), std::invalid_argument);
    EXPECT_THROW(w->SetNode(0x21, 0x9994, 0, 0), std::invalid_argument);
    const Bid data = w->WriteData(Pattern(10, 1));
    EXPECT_THROW(w->SetNode(0x21, data | 2, 0, 0), std::invalid_argument);
    EXPECT_THROW(w->WriteSubnodes({{0x3F, data, 0}, {0x3F, data, 0}}), std::invalid_argument);
    EXPECT_THROW(w->WriteDataStream(100, [](std::span<std::uint8_t> out) { return std::min<std::size_t>(out.size(), 10) * 0; }),
                 std::runtime_error);
    EXPECT_EQ(w->WriteSubnodes({}), 0u);
    EXPECT_EQ(w->NewNid(NidType::NormalMessage), MakeNid(NidType::NormalMessage, 0x10000));
    EXPECT_EQ(w->NewNid(NidType::SearchFolder), MakeNid(NidType::SearchFolder, 0x4000));
    w->Finish();
    EXPECT_THROW(w->WriteData(Pattern(10, 1)), std::logic_error);
}

}  // namespace
