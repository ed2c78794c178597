// The client's rules of the strict check, each on a store broken on purpose
// in exactly one place: the broken store gives exactly one finding of that
// rule, naming the node, what was expected and what was found, and the same
// store unbroken gives none.
#include "check/check_store_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "check/store_checker.h"
#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "output/pst/ltp_node_sink.h"
#include "output/pst/ltp_subnodes.h"
#include "output/pst/ltp_tc.h"
#include "output/pst/message.h"
#include "output/pst/message_writer.h"
#include "output/pst/ndb_layout.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_templates.h"
#include "output/pst/store_writer.h"
#include "support/heap_image.h"
#include "support/file_bytes.h"
#include "support/test_paths.h"

namespace {

using bmtest::Le32;

namespace pst = bm::pst;
using pst::MakeNid;
using pst::NidType;

constexpr pst::Nid kMessageStoreNid = 0x21;
constexpr pst::Nid kNameToIdMapNid = 0x61;
constexpr pst::Nid kMessage = MakeNid(NidType::NormalMessage, 0x10020);
constexpr pst::Nid kFirstContents = MakeNid(NidType::ContentsTable, 0x400);
constexpr pst::Nid kSecondContents = MakeNid(NidType::ContentsTable, 0x401);
constexpr pst::Nid kPieces = MakeNid(NidType::Internal, 0x7000);

struct RuleStore {
    std::uint32_t firstVersion = 1;
    std::uint32_t secondVersion = 2;
    std::uint32_t unique = 3;
    std::vector<std::size_t> pieces{pst::NdbWriter::kMaxBlockData, pst::NdbWriter::kMaxBlockData, 100};
    std::uint32_t messageMark = 0;  // rgnid[NormalMessage] written over the header's, when not 0
    // On the message and in its contents row; none: the message's size as
    // the client counts it (the bytes of its property context).
    std::optional<std::uint32_t> messageSize;
    std::optional<std::uint32_t> rowSize;
    // String names of the name-to-ID map, in PS_PUBLIC_STRINGS, one ID each.
    std::vector<std::u16string> names{u"Content-Type", u"X-Mailer"};
};

// The name-to-ID map's property context: GUID, entry and string streams.
std::vector<pst::PcValue> NameMap(const std::vector<std::u16string>& names) {
    std::vector<std::uint8_t> entries, strings;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto at = static_cast<std::uint32_t>(strings.size());
        const auto length = static_cast<std::uint32_t>(names[i].size() * 2);
        for (int b = 0; b < 4; ++b) strings.push_back(static_cast<std::uint8_t>(length >> (8 * b)));
        for (char16_t c : names[i]) {
            strings.push_back(static_cast<std::uint8_t>(c & 0xFF));
            strings.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        while (strings.size() % 4 != 0) strings.push_back(0);
        const std::uint32_t guidWord = (2u << 1) | 1u;  // PS_PUBLIC_STRINGS, a string name
        const std::uint32_t record[2] = {at, guidWord | (static_cast<std::uint32_t>(i) << 16)};
        for (std::uint32_t v : record)
            for (int b = 0; b < 4; ++b) entries.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    }
    return {{0x0002, pst::PropType::Binary, {}, std::nullopt},
            {0x0003, pst::PropType::Binary, entries, std::nullopt},
            {0x0004, pst::PropType::Binary, strings, std::nullopt}};
}

void FixHeaderCrcs(std::vector<std::uint8_t>& f) {
    namespace hdr = pst::hdr;
    bm::PutLe(&f[hdr::kCrcPartial], bm::ComputeCrc(std::span(f).subspan(hdr::kMagicClient, hdr::kCrcPartialLength)), 4);
    bm::PutLe(&f[hdr::kCrcFull], bm::ComputeCrc(std::span(f).subspan(hdr::kMagicClient, hdr::kCrcFullLength)), 4);
}

std::filesystem::path Write(const std::string& name, const RuleStore& s) {
    const auto path = bmtest::ScratchDir(name) / "rules.pst";
    {
        pst::NdbNodeSink sink(pst::NdbWriter::Create(path, {false, bm::CryptMethod::None}));
        const std::vector<std::uint8_t> bytes(64, 0x5A);
        // The node index is read from the message store node on.
        sink.SetNode(kMessageStoreNid, sink.WriteData(bytes), 0, 0);
        std::uint32_t ownSize = 0;
        {
            std::vector<pst::PcValue> message{{0x0E08, pst::PropType::Int32, Le32(0), std::nullopt}};
            for (const auto& block : pst::BuildPropertyContext(message, {})) ownSize += static_cast<std::uint32_t>(block.size());
            message[0].bytes = Le32(s.messageSize.value_or(ownSize));
            pst::LocalSubnodes subnodes(sink);
            subnodes.WriteNode(kMessage, pst::BuildPropertyContext(message, subnodes.Sink()),
                               MakeNid(NidType::NormalFolder, 0x400));
        }
        auto table = [&](pst::Nid nid, std::uint32_t row, std::uint32_t version) {
            pst::TableRow r;
            r.id = row;
            r.version = version;
            r.cells.push_back({pst::tags::kMessageSize.value(), Le32(s.rowSize.value_or(ownSize))});
            pst::LocalSubnodes subnodes(sink);
            subnodes.WriteNode(nid, pst::BuildTableContext(pst::ContentsTableLayout(), {r}, subnodes.Sink()), 0);
        };
        {
            pst::LocalSubnodes subnodes(sink);
            subnodes.WriteNode(kNameToIdMapNid, pst::BuildPropertyContext(NameMap(s.names), subnodes.Sink()), 0);
        }
        table(kFirstContents, kMessage, s.firstVersion);
        table(kSecondContents, MakeNid(NidType::NormalMessage, 0x10021), s.secondVersion);
        std::vector<std::vector<std::uint8_t>> pieces;
        for (std::size_t n : s.pieces) pieces.emplace_back(n, 0x33);
        sink.SetNode(kPieces, sink.WriteDataBlocks(pieces), 0, 0);
        sink.SetUnique(s.unique);
        sink.Finish();
    }
    if (s.messageMark != 0) {
        std::vector<std::uint8_t> f = bmtest::ReadWholeFile(path);
        bm::PutLe(&f[pst::hdr::kRgnid + 4 * static_cast<std::size_t>(NidType::NormalMessage)], s.messageMark, 4);
        FixHeaderCrcs(f);
        bmtest::WriteWholeFile(path, f);
    }
    return path;
}

std::vector<std::string> FindingsOf(const std::filesystem::path& path, const std::string& rule) {
    bm::CheckReport report;
    bm::CheckStoreRules(path, report);
    std::vector<std::string> out;
    for (const auto& f : report.findings)
        if (f.text.find(": " + rule + ": ") != std::string::npos) out.push_back(f.text);
    return out;
}

std::string All(const std::filesystem::path& path) {
    bm::CheckReport report;
    bm::CheckStoreRules(path, report);
    std::string out;
    for (const auto& f : report.findings) out += bm::FormatFinding(f) + "\n";
    return out;
}

TEST(ClientRules, ASoundStoreGivesNoFinding) {
    const auto path = Write("rules-sound", {});
    EXPECT_EQ(All(path), "");
}

TEST(ClientRules, ANidCounterBelowTheHighestIndexInUseIsOneFinding) {
    RuleStore s;
    s.messageMark = (kMessage >> 5) - 1;
    const auto path = Write("rules-nid", s);
    const auto found = FindingsOf(path, bm::kRuleNidCounter);
    ASSERT_EQ(found.size(), 1u) << All(path);
    EXPECT_NE(found[0].find("node 0x4:"), std::string::npos) << found[0];
    EXPECT_NE(found[0].find("expected rgnid[0x4] at least the highest index in use (0x10020)"), std::string::npos)
        << found[0];
    EXPECT_NE(found[0].find("found 0x1001f"), std::string::npos) << found[0];
    // The counter at the highest index in use itself is enough.
    s.messageMark = kMessage >> 5;
    EXPECT_TRUE(FindingsOf(Write("rules-nid-equal", s), bm::kRuleNidCounter).empty());
}

TEST(ClientRules, RowVersionsTwiceOrNotBelowDwUniqueAreOneFindingEach) {
    RuleStore twice;
    twice.secondVersion = twice.firstVersion;
    const auto path = Write("rules-rowver-twice", twice);
    auto found = FindingsOf(path, bm::kRuleRowVersion);
    ASSERT_EQ(found.size(), 1u) << All(path);
    EXPECT_NE(found[0].find("node 0x802e:"), std::string::npos) << found[0];
    EXPECT_NE(found[0].find("found 0x1, also on row 0x200404 of node 0x800e"), std::string::npos) << found[0];

    RuleStore high;
    high.unique = high.secondVersion;  // the second row's version is not below it
    const auto highPath = Write("rules-rowver-unique", high);
    found = FindingsOf(highPath, bm::kRuleRowVersion);
    ASSERT_EQ(found.size(), 1u) << All(highPath);
    EXPECT_NE(found[0].find("node 0x802e: row version: expected below dwUnique 0x2 for row 0x200424, found 0x2"),
              std::string::npos)
        << found[0];
}

TEST(ClientRules, AShortMiddleBlockOfADataTreeIsOneFinding) {
    RuleStore s;
    s.pieces = {pst::NdbWriter::kMaxBlockData, 7424, 100};
    const auto path = Write("rules-middle", s);
    const auto found = FindingsOf(path, bm::kRuleMiddleBlock);
    ASSERT_EQ(found.size(), 1u) << All(path);
    EXPECT_NE(found[0].find("node 0xe0001: middle block size: expected 8176 bytes in block 2 of 3, found 7424"),
              std::string::npos)
        << found[0];
    // The last block may be short; a single block is no tree.
    s.pieces = {pst::NdbWriter::kMaxBlockData, 10};
    EXPECT_TRUE(FindingsOf(Write("rules-middle-last", s), bm::kRuleMiddleBlock).empty());
}

TEST(ClientRules, AStringNameUnderTwoIdsByCaseIsOneFinding) {
    RuleStore s;
    s.names = {u"Content-Type", u"X-Mailer", u"Content-type", u"\u00C9t\u00E9"};
    const auto path = Write("rules-names", s);
    const auto found = FindingsOf(path, bm::kRuleStringName);
    ASSERT_EQ(found.size(), 1u) << All(path);
    EXPECT_EQ(found[0],
              "node 0x61: string name case: expected one ID for \"Content-Type\" in property set 0x2 whatever its "
              "case (0x8000), found 0x8002 for \"Content-type\"");
    // Latin-1 letters fold too; other names are apart.
    s.names = {u"\u00C9t\u00E9", u"\u00E9t\u00E9", u"Content-Type"};
    EXPECT_EQ(FindingsOf(Write("rules-names-latin", s), bm::kRuleStringName).size(), 1u);
}

TEST(ClientRules, AContentsRowCellThatDiffersFromItsMessageIsOneFinding) {
    RuleStore s;
    s.messageSize = 100;
    s.rowSize = 120;
    const auto path = Write("rules-row", s);
    const auto found = FindingsOf(path, bm::kRuleContentsRow);
    ASSERT_EQ(found.size(), 1u) << All(path);
    EXPECT_EQ(found[0],
              "node 0x800e: contents row: expected property 0xe08 of message 0x200404 as 4 byte(s) 64000000, found 4 "
              "byte(s) 78000000");
}

// A message with recipients, attachments of every kind and an embedded
// message with an attachment of its own, written by the message writer
// into a store of its own; `id` of the `nth` property context holding it
// (from 1, in the order they are written) is set to 7 on the way.
struct SizedStore {
    std::filesystem::path path;
    std::uint32_t messageSize = 0;  // as the writer gave it
};

class BreakingSink final : public pst::NodeSink {
public:
    BreakingSink(pst::NodeSink& next, std::uint16_t id, int nth) : next_(next), id_(id), nth_(nth) {}
    pst::Bid WriteData(std::span<const std::uint8_t> bytes) override { return next_.WriteData(bytes); }
    pst::Bid WriteDataBlocks(const std::vector<std::vector<std::uint8_t>>& pieces) override {
        if (id_ != 0 && !pieces.empty() && pieces[0].size() > 3 && pieces[0][3] == 0xBC) {
            auto broken = pieces;
            try {
                pst::SetInlineValue(broken, id_, 7);
                if (++seen_ == nth_) return next_.WriteDataBlocks(broken);
            } catch (const std::invalid_argument&) {
                // Another property context.
            }
        }
        return next_.WriteDataBlocks(pieces);
    }
    pst::Bid WriteDataStream(std::uint64_t size,
                             const std::function<std::size_t(std::span<std::uint8_t>)>& read) override {
        return next_.WriteDataStream(size, read);
    }
    pst::Bid WriteDataTree(const std::vector<pst::NdbWriter::DataPiece>& pieces) override {
        return next_.WriteDataTree(pieces);
    }
    pst::Bid WriteSubnodes(std::vector<pst::NdbWriter::Subnode> entries) override {
        return next_.WriteSubnodes(std::move(entries));
    }
    void SetNode(pst::Nid nid, pst::Bid data, pst::Bid subnodes, pst::Nid parent) override {
        next_.SetNode(nid, data, subnodes, parent);
    }
    pst::Nid NewNid(NidType type) override { return next_.NewNid(type); }
    void Finish() override { next_.Finish(); }
    std::uint64_t FileSize() const override { return next_.FileSize(); }

private:
    pst::NodeSink& next_;
    std::uint16_t id_;
    int nth_;
    int seen_ = 0;
};

SizedStore WriteSized(const std::string& name, std::uint16_t id = 0, int nth = 0) {
    SizedStore out;
    out.path = bmtest::ScratchDir(name) / "sizes.pst";
    pst::NdbNodeSink sink(pst::NdbWriter::Create(out.path, {false, bm::CryptMethod::None}));
    sink.SetNode(kMessageStoreNid, sink.WriteData(std::vector<std::uint8_t>(64, 0x5A)), 0, 0);

    pst::Message inner;
    inner.properties.SetString(pst::tags::kSubject, "inner");
    inner.AddRecipient("Cy", "cy@example.org", pst::kRecipientTo);
    inner.attachments.push_back(pst::Attachment::FromBytes("deep.txt", std::vector<std::uint8_t>(300, 'd')));
    pst::Message m;
    m.properties.SetString(pst::tags::kSubject, "sizes");
    m.properties.SetString(pst::tags::kBody, std::string(6000, 'b'));
    m.AddRecipient("Ann", "ann@example.org", pst::kRecipientTo);
    m.attachments.push_back(pst::Attachment::FromBytes("small.txt", {'h', 'i'}));
    m.attachments.push_back(pst::Attachment::FromBytes("big.bin", std::vector<std::uint8_t>(20000, 'g')));
    m.attachments.push_back(pst::Attachment::FromMessage("inner", inner));
    m.attachments.push_back(pst::Attachment::FromBytes("drawing", std::vector<std::uint8_t>(9000, 'o')));
    m.attachments.back().objectData = true;

    BreakingSink breaking(sink, id, nth);
    pst::NameToIdMap names;
    const pst::WrittenMessage w = pst::MessageWriter(breaking, names, pst::FileTimeFromUnix(1700000000)).Write(m);
    sink.SetNode(kMessage, w.data, w.subnodes, MakeNid(NidType::NormalFolder, 0x400));
    sink.Finish();
    out.messageSize = w.size;
    return out;
}

TEST(ClientRules, MessageSizesOtherThanTheirDataAndSubnodesAreOneFindingEach) {
    const SizedStore sound = WriteSized("sizes-sound");
    EXPECT_TRUE(FindingsOf(sound.path, bm::kRuleMessageSize).empty()) << All(sound.path);
    EXPECT_TRUE(FindingsOf(sound.path, bm::kRuleAttachmentSize).empty()) << All(sound.path);

    // The message's own property context is the last one written.
    const SizedStore top = WriteSized("sizes-message", 0x0E08, 2);
    auto found = FindingsOf(top.path, bm::kRuleMessageSize);
    ASSERT_EQ(found.size(), 1u) << All(top.path);
    EXPECT_EQ(found[0], "node 0x200404: message size: expected " + std::to_string(top.messageSize) +
                            " (bytes of its data and subnodes), found 7");
    EXPECT_TRUE(FindingsOf(top.path, bm::kRuleAttachmentSize).empty()) << All(top.path);

    // The embedded message's comes first; its attachment still counts it
    // by what it holds.
    const SizedStore embedded = WriteSized("sizes-embedded", 0x0E08, 1);
    found = FindingsOf(embedded.path, bm::kRuleMessageSize);
    ASSERT_EQ(found.size(), 1u) << All(embedded.path);
    EXPECT_NE(found[0].find("node 0x200404: message size: expected "), std::string::npos) << found[0];
    EXPECT_NE(found[0].find(" for embedded message 0x2044 of attachment 0x"), std::string::npos) << found[0];
    EXPECT_NE(found[0].find(" (bytes of its data and subnodes), found 7"), std::string::npos) << found[0];
    EXPECT_TRUE(FindingsOf(embedded.path, bm::kRuleAttachmentSize).empty()) << All(embedded.path);
}

TEST(ClientRules, AttachmentSizesOtherThanTheSumOfTheirValuesAreOneFindingEach) {
    // Attachments are written in order, the embedded message's own one
    // (the third) before the attachment that holds the message.
    const SizedStore first = WriteSized("sizes-attachment", 0x0E20, 1);
    auto found = FindingsOf(first.path, bm::kRuleAttachmentSize);
    ASSERT_EQ(found.size(), 1u) << All(first.path);
    EXPECT_NE(found[0].find("node 0x200404: attachment size: expected "), std::string::npos) << found[0];
    EXPECT_NE(found[0].find(" for attachment 0x8025 (sum of its property values), found 7"), std::string::npos)
        << found[0];
    EXPECT_TRUE(FindingsOf(first.path, bm::kRuleMessageSize).empty()) << All(first.path);

    const SizedStore deep = WriteSized("sizes-deep-attachment", 0x0E20, 3);
    found = FindingsOf(deep.path, bm::kRuleAttachmentSize);
    ASSERT_EQ(found.size(), 1u) << All(deep.path);
    EXPECT_NE(found[0].find(" for attachment 0x"), std::string::npos) << found[0];
    EXPECT_NE(found[0].find(" of embedded message 0x2044 of attachment 0x"), std::string::npos) << found[0];
    EXPECT_NE(found[0].find(", found 7"), std::string::npos) << found[0];

    // An OLE object counts by the bytes of its storage.
    const SizedStore object = WriteSized("sizes-object", 0x0E20, 5);
    found = FindingsOf(object.path, bm::kRuleAttachmentSize);
    ASSERT_EQ(found.size(), 1u) << All(object.path);
    EXPECT_NE(found[0].find(", found 7"), std::string::npos) << found[0];
}

// The client's own stores against the size rules: the counts are the
// residual the rules' comment accounts for, store by store (none for the
// layouts the rules pass over).
TEST(ClientRules, ClientWrittenStoresKeepToTheSizeRulesButForTheirKnownResidual) {
    struct Residual {
        const char* store;
        std::size_t messages, attachments;
    };
    const Residual residuals[] = {
        {"ansi-sample.pst", 0, 0},          {"unicode-sample.pst", 2, 0}, {"unicode-submessage.pst", 0, 0},
        {"unicode-dist-list.pst", 1, 0},    {"unicode-sample.ost", 7, 0}, {"unicode-enron.pst", 71, 70},
        {"4k-sample.ost", 0, 0},
    };
    for (const Residual& r : residuals) {
        BM_REQUIRE_STORE(path, r.store);
        EXPECT_EQ(FindingsOf(path, bm::kRuleMessageSize).size(), r.messages) << r.store;
        EXPECT_EQ(FindingsOf(path, bm::kRuleAttachmentSize).size(), r.attachments) << r.store;
    }
}

// Stores the store writer makes follow every rule, folder tables and the
// receive-folder table included.
TEST(ClientRules, AWrittenStoreWithFoldersAndMessagesGivesNoFinding) {
    const auto path = bmtest::ScratchDir("rules-written") / "written.pst";
    {
        auto store = pst::PstStore::Create(path, {});
        const pst::Nid inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
        const pst::Nid sub = store->CreateFolder(inbox, "Sub");
        for (int i = 0; i < 5; ++i) {
            pst::Message m;
            m.properties.SetString(pst::tags::kSubject, "message " + std::to_string(i));
            store->AddMessage(i % 2 ? inbox : sub, m);
        }
        store->Finish();
    }
    EXPECT_EQ(All(path), "");
}

}  // namespace
