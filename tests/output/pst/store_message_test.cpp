// Message and folder writing into an in-memory node sink: which nodes and
// subnodes a message becomes, what its tables hold, and the folder tables
// and counts written at the end.
#include <gtest/gtest.h>

#include <map>

#include "common/byte_reader.h"
#include "common/utf.h"
#include "ltp_reader_for_tests.h"
#include "memory_node_sink.h"
#include "output/pst/folder_state.h"
#include "output/pst/message_writer.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "support/test_paths.h"

namespace bm::pst {
namespace {

constexpr FileTime kSomeTime = FileTimeFromUnix(1700000000);

class MemorySink final : public bmtest::MemoryNodeSinkBase {
public:
    Bid WriteData(std::span<const std::uint8_t> bytes) override {
        return Put({std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
    }
    Bid WriteDataStream(std::uint64_t size, const std::function<std::size_t(std::span<std::uint8_t>)>& read) override {
        std::vector<std::uint8_t> all(size);
        std::size_t done = 0;
        while (done < size) {
            const std::size_t n = read(std::span<std::uint8_t>(all).subspan(done, std::min<std::size_t>(8176, size - done)));
            if (n == 0) throw std::runtime_error("stream ended early");
            done += n;
        }
        ++streams;
        return Put({all});
    }
    // A tree over blocks of single pieces: the same pieces, in that order.
    Bid WriteDataTree(const std::vector<NdbWriter::DataPiece>& pieces) override {
        std::vector<std::vector<std::uint8_t>> all;
        for (const auto& p : pieces) {
            for (const auto& piece : blocks.at(p.bid)) all.push_back(piece);
        }
        return pieces.size() == 1 ? pieces.front().bid : Put(std::move(all));
    }
    void SetNode(Nid nid, Bid data, Bid sub, Nid parent) override { nodes[nid] = {data, sub, parent}; }
    Nid NewNid(NidType type) override { return MakeNid(type, nextNid_++); }

    struct Node {
        Bid data, subnodes;
        Nid parent;
    };
    std::map<Nid, Node> nodes;
    int streams = 0;

    // The subnode nid of a subnode list.
    const NdbWriter::Subnode* Subnode(Bid list, Nid nid) const {
        auto it = subnodes.find(list);
        if (it == subnodes.end()) return nullptr;
        for (const auto& s : it->second) {
            if (s.nid == nid) return &s;
        }
        return nullptr;
    }

private:
    std::uint32_t nextNid_ = 0x400;
};

struct PcRead {
    std::map<std::uint16_t, bmtest::PcEntryView> entries;
    std::string error;
    std::string Text(std::uint16_t id) { return Utf16LeToUtf8(entries[id].heapValue); }
};

PcRead ReadPcAt(const MemorySink& sink, Bid data) {
    PcRead r;
    r.entries = bmtest::ReadPc(bmtest::ReadHeap(sink.blocks.at(data)), r.error);
    return r;
}

struct TableRead {
    bmtest::HeapView heap;
    bmtest::TcView tc;
    std::vector<std::uint8_t> matrix;
    bool inSubnode = false;
    std::size_t rows() const { return tc.rowIndex.records.size(); }
    const bmtest::TcColumnView* Column(std::uint32_t tag) const {
        for (const auto& c : tc.columns) {
            if (c.tag == tag) return &c;
        }
        return nullptr;
    }
    std::uint32_t Cell(std::size_t row, std::uint32_t tag) const {
        auto bytes = bmtest::RowAt(matrix, tc, row, inSubnode);
        const auto* c = Column(tag);
        if (c == nullptr || !bmtest::CellExists(bytes, tc, *c)) return 0xDEADBEEF;
        return static_cast<std::uint32_t>(ByteReader(bytes).peekAt(c->offset, 4).value_or(0));
    }
    std::string Text(std::size_t row, std::uint32_t tag) const {
        auto v = heap.Alloc(Cell(row, tag));
        return v ? Utf16LeToUtf8(*v) : "<none>";
    }
};

TableRead ReadTableAt(const MemorySink& sink, Bid data, Bid subnodeList) {
    TableRead t;
    t.heap = bmtest::ReadHeap(sink.blocks.at(data));
    t.tc = bmtest::ReadTcInfo(t.heap);
    if (t.tc.rowsRef != 0) {
        if ((t.tc.rowsRef & 0x1F) == 0) {
            t.matrix = *t.heap.Alloc(t.tc.rowsRef);
        } else {
            t.inSubnode = true;
            t.matrix = sink.Flat(sink.Subnode(subnodeList, t.tc.rowsRef)->data);
        }
    }
    return t;
}

Message SampleMail() {
    Message m;
    m.properties.SetString(tags::kSubject, "Отчёт 😀");
    m.properties.SetString(named::kAppointmentLocation, "Room 1");
    m.properties.SetString(tags::kBody, std::string(5000, 'b'));
    m.AddRecipient("Ann", "ann@example.org", kRecipientTo);
    m.AddRecipient("Bob", "bob@example.org", kRecipientCc);
    return m;
}

TEST(MessageWriter, PropertiesNamedIdsDefaultsAndLargeBodyLandInTheMessageNode) {
    MemorySink sink;
    NameToIdMap names;
    MessageWriter writer(sink, names, kSomeTime);
    const WrittenMessage w = writer.Write(SampleMail());
    PcRead pc = ReadPcAt(sink, w.data);
    EXPECT_EQ(pc.error, "");
    EXPECT_EQ(pc.Text(0x0037), "Отчёт 😀");
    EXPECT_EQ(pc.Text(0x001A), "IPM.Note") << "message class defaults to IPM.Note";
    EXPECT_EQ(pc.Text(0x8000), "Room 1") << "the named property got the first named id";
    EXPECT_EQ(names.size(), 1u);
    EXPECT_EQ(pc.entries[0x0E07].ref, static_cast<std::uint32_t>(kMessageFlagRead));
    EXPECT_EQ(pc.entries[0x0E08].ref, w.size);
    // The 10,000-byte body is a subnode of the message.
    const std::uint32_t bodyRef = pc.entries[0x1000].ref;
    ASSERT_NE(bodyRef & 0x1F, 0u);
    const auto* body = sink.Subnode(w.subnodes, bodyRef);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(Utf16LeToUtf8(sink.Flat(body->data)), std::string(5000, 'b'));
    EXPECT_EQ(sink.Subnode(w.subnodes, 0x671), nullptr) << "no attachment table without attachments";
    // The contents-table row cells carry the subject and the flags.
    bool subjectCell = false;
    for (const auto& c : w.rowCells) subjectCell |= c.tag == tags::kSubject.value();
    EXPECT_TRUE(subjectCell);
}

TEST(MessageWriter, RecipientTableHoldsEveryRecipientWithItsExtraColumns) {
    MemorySink sink;
    NameToIdMap names;
    const WrittenMessage w = MessageWriter(sink, names, kSomeTime).Write(SampleMail());
    const auto* table = sink.Subnode(w.subnodes, 0x692);
    ASSERT_NE(table, nullptr);
    TableRead t = ReadTableAt(sink, table->data, table->subnodes);
    EXPECT_EQ(t.tc.error, "");
    ASSERT_EQ(t.rows(), 2u);
    EXPECT_EQ(t.Text(1, tags::kSmtpAddress.value()), "bob@example.org");
    EXPECT_EQ(t.Text(0, tags::kDisplayName.value()), "Ann");
    EXPECT_EQ(t.Cell(1, tags::kRecipientType.value()), static_cast<std::uint32_t>(kRecipientCc));
    ASSERT_NE(t.Column(tags::kRecipientType.value()), nullptr);
    EXPECT_EQ(t.Column(tags::kRecipientType.value())->offset, 24) << "template columns keep their places";
}

TEST(MessageWriter, ValuesTheWriterFillsInReplaceTheBagsAndLeaveItAlone) {
    MemorySink sink;
    NameToIdMap names;
    MessageWriter writer(sink, names, kSomeTime);
    Message first = SampleMail();
    first.properties.SetInt32(tags::kMessageFlags, 0);  // unread
    first.properties.SetInt32(tags::kMessageSize, 7);
    first.attachments.push_back(Attachment::FromBytes("a.txt", {'x'}));
    const WrittenMessage w1 = writer.Write(first);
    Message second;
    second.properties.SetString(tags::kSubject, "second");
    second.properties.SetInt32(tags::kMessageFlags, kMessageFlagRead);
    const WrittenMessage w2 = writer.Write(second);

    PcRead pc1 = ReadPcAt(sink, w1.data);
    EXPECT_EQ(pc1.entries[0x0E07].ref, static_cast<std::uint32_t>(kMessageFlagHasAttachment));
    EXPECT_EQ(pc1.entries[0x0E08].ref, w1.size);
    EXPECT_NE(w1.size, 7u);
    EXPECT_EQ(pc1.Text(0x0037), "Отчёт 😀");
    EXPECT_EQ(first.properties.GetInt32(tags::kMessageFlags), 0) << "the message's own bag is not written to";
    EXPECT_EQ(first.properties.GetInt32(tags::kMessageSize), 7);
    PcRead pc2 = ReadPcAt(sink, w2.data);
    EXPECT_EQ(pc2.Text(0x0037), "second");
    EXPECT_EQ(pc2.entries[0x0E07].ref, static_cast<std::uint32_t>(kMessageFlagRead));
    EXPECT_EQ(pc2.entries.count(0x1000), 0u) << "nothing of the first message";
    // The row cells are the values as written, not as the bag had them.
    for (const auto& [w, flags] : {std::pair{&w1, kMessageFlagHasAttachment}, std::pair{&w2, kMessageFlagRead}}) {
        bool flagsCell = false;
        for (const auto& c : w->rowCells) {
            if (c.tag != tags::kMessageFlags.value()) continue;
            flagsCell = true;
            EXPECT_EQ(ByteReader(c.bytes).readU32(), static_cast<std::uint32_t>(flags));
        }
        EXPECT_TRUE(flagsCell);
    }
    bool subjectCell = false;
    for (const auto& c : w2.rowCells) {
        if (c.tag != tags::kSubject.value()) continue;
        subjectCell = true;
        EXPECT_EQ(Utf16LeToUtf8(c.bytes), "second");
    }
    EXPECT_TRUE(subjectCell);
}

TEST(MessageWriter, AttachmentsBecomeSubnodesWithTableRowsAndTheirData) {
    MemorySink sink;
    NameToIdMap names;
    Message m = SampleMail();
    m.attachments.push_back(Attachment::FromBytes("small.txt", {'h', 'i'}));
    std::vector<std::uint8_t> big(20000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 13);
    std::size_t at = 0;
    m.attachments.push_back(Attachment::FromStream("big.bin", big.size(), [&](std::span<std::uint8_t> buf) {
        const std::size_t n = std::min(buf.size(), big.size() - at);
        std::copy_n(big.begin() + static_cast<std::ptrdiff_t>(at), n, buf.begin());
        at += n;
        return n;
    }));
    const WrittenMessage w = MessageWriter(sink, names, kSomeTime).Write(m);
    EXPECT_EQ(ReadPcAt(sink, w.data).entries[0x0E07].ref & kMessageFlagHasAttachment,
              static_cast<std::uint32_t>(kMessageFlagHasAttachment));
    const auto* table = sink.Subnode(w.subnodes, 0x671);
    ASSERT_NE(table, nullptr);
    TableRead t = ReadTableAt(sink, table->data, table->subnodes);
    ASSERT_EQ(t.rows(), 2u);
    EXPECT_EQ(t.Text(1, tags::kAttachFilename.value()), "big.bin");
    EXPECT_GT(t.Cell(1, tags::kAttachSize.value()), 20000u) << "the data and the attachment's other values";
    EXPECT_EQ(t.Cell(0, tags::kAttachMethod.value()), static_cast<std::uint32_t>(kAttachByValue));
    // Row ids name the attachment subnodes.
    const auto* small = sink.Subnode(w.subnodes, t.Cell(0, tags::kLtpRowId.value()));
    const auto* large = sink.Subnode(w.subnodes, t.Cell(1, tags::kLtpRowId.value()));
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(TypeOfNid(small->nid), NidType::Attachment);
    PcRead smallPc = ReadPcAt(sink, small->data);
    EXPECT_EQ(smallPc.entries[0x3701].heapValue, (std::vector<std::uint8_t>{'h', 'i'}));
    EXPECT_EQ(smallPc.Text(0x3707), "small.txt");
    EXPECT_EQ(smallPc.entries[0x370B].ref, 0xFFFFFFFFu);
    PcRead largePc = ReadPcAt(sink, large->data);
    const auto* data = sink.Subnode(large->subnodes, largePc.entries[0x3701].ref);
    ASSERT_NE(data, nullptr) << "large attachment data is a subnode of the attachment";
    EXPECT_EQ(sink.Flat(data->data), big);
    EXPECT_EQ(sink.streams, 1);
}

TEST(MessageWriter, EmbeddedMessageIsANestedMessageNodeNamedByTheObjectValue) {
    MemorySink sink;
    NameToIdMap names;
    Message inner;
    inner.properties.SetString(tags::kSubject, "inner");
    inner.attachments.push_back(Attachment::FromBytes("deep.txt", {'d'}));
    Message outer = SampleMail();
    outer.attachments.push_back(Attachment::FromMessage("inner", inner));
    const WrittenMessage w = MessageWriter(sink, names, kSomeTime).Write(outer);
    TableRead t = ReadTableAt(sink, sink.Subnode(w.subnodes, 0x671)->data, 0);
    const auto* attachment = sink.Subnode(w.subnodes, t.Cell(0, tags::kLtpRowId.value()));
    ASSERT_NE(attachment, nullptr);
    PcRead pc = ReadPcAt(sink, attachment->data);
    EXPECT_EQ(pc.entries[0x3705].ref, static_cast<std::uint32_t>(kAttachEmbeddedMessage));
    ASSERT_EQ(pc.entries[0x3701].type, 0x000D);
    ByteReader object(pc.entries[0x3701].heapValue);
    const Nid innerNid = object.readU32();
    const std::uint32_t innerSize = object.readU32();
    EXPECT_EQ(TypeOfNid(innerNid), NidType::NormalMessage);
    const auto* node = sink.Subnode(attachment->subnodes, innerNid);
    ASSERT_NE(node, nullptr);
    PcRead innerPc = ReadPcAt(sink, node->data);
    EXPECT_EQ(innerPc.Text(0x0037), "inner");
    EXPECT_EQ(innerPc.entries[0x0E08].ref, innerSize);
    EXPECT_NE(sink.Subnode(node->subnodes, 0x671), nullptr) << "the inner message keeps its own attachments";
}

// The client's sizes, counted here from what reached the sink: a message's
// size is the bytes of its node data and of every subnode's data below it;
// an attachment's the sum of its property values (booleans one byte, the
// data and an embedded message by what they hold).
std::uint64_t TreeBytes(const MemorySink& sink, Bid data, Bid subnodes) {
    std::uint64_t total = data == 0 ? 0 : sink.Flat(data).size();
    if (subnodes != 0) {
        for (const auto& s : sink.subnodes.at(subnodes)) total += TreeBytes(sink, s.data, s.subnodes);
    }
    return total;
}

std::uint64_t ValueBytes(const MemorySink& sink, const NdbWriter::Subnode& attachment) {
    PcRead pc = ReadPcAt(sink, attachment.data);
    EXPECT_EQ(pc.error, "");
    std::uint64_t total = 0;
    for (const auto& [id, e] : pc.entries) {
        switch (e.type) {
            case 0x000B: total += 1; break;
            case 0x0002: total += 2; break;
            case 0x0003:
            case 0x0004:
            case 0x000A: total += 4; break;
            case 0x000D: {
                const auto* object = sink.Subnode(attachment.subnodes, ByteReader(e.heapValue).readU32());
                EXPECT_NE(object, nullptr);
                if (object == nullptr) break;
                total += TypeOfNid(object->nid) == NidType::NormalMessage ? ReadPcAt(sink, object->data).entries[0x0E08].ref
                                                                          : sink.Flat(object->data).size();
                break;
            }
            default:
                if ((e.ref & 0x1F) != 0) {
                    total += sink.Flat(sink.Subnode(attachment.subnodes, e.ref)->data).size();
                } else {
                    total += e.heapValue.size();
                }
        }
    }
    return total;
}

TEST(MessageWriter, SizesAreTheClientsDataBytesAndValueSumsAtEveryDepth) {
    MemorySink sink;
    NameToIdMap names;
    Message inner;
    inner.properties.SetString(tags::kSubject, "inner");
    inner.properties.SetString(tags::kBody, std::string(4000, 'i'));
    inner.AddRecipient("Cy", "cy@example.org", kRecipientTo);
    inner.attachments.push_back(Attachment::FromBytes("deep.txt", std::vector<std::uint8_t>(300, 'd')));
    Message outer = SampleMail();
    outer.attachments.push_back(Attachment::FromBytes("small.txt", {'h', 'i'}));
    outer.attachments.back().properties.SetBool(PropTag{0x7FFE, PropType::Boolean}, true);  // hidden
    outer.attachments.push_back(Attachment::FromBytes("big.bin", std::vector<std::uint8_t>(20000, 'b')));
    outer.attachments.push_back(Attachment::FromMessage("inner", inner));
    outer.attachments.push_back(Attachment::FromBytes("drawing", std::vector<std::uint8_t>(9000, 'o')));
    outer.attachments.back().objectData = true;
    const WrittenMessage w = MessageWriter(sink, names, kSomeTime).Write(outer);

    // The message, its PC value and its contents-row cell agree.
    const std::uint64_t outerBytes = TreeBytes(sink, w.data, w.subnodes);
    EXPECT_EQ(w.size, outerBytes);
    EXPECT_EQ(ReadPcAt(sink, w.data).entries[0x0E08].ref, outerBytes);
    bool sizeCell = false;
    for (const auto& c : w.rowCells) {
        if (c.tag != tags::kMessageSize.value()) continue;
        sizeCell = true;
        EXPECT_EQ(ByteReader(c.bytes).readU32(), outerBytes);
    }
    EXPECT_TRUE(sizeCell) << "the contents row carries the size";

    // Every attachment, its row in the attachment table, and the embedded
    // message with its own attachment.
    const auto* table = sink.Subnode(w.subnodes, 0x671);
    ASSERT_NE(table, nullptr);
    TableRead t = ReadTableAt(sink, table->data, table->subnodes);
    ASSERT_EQ(t.rows(), 4u);
    for (std::size_t row = 0; row < t.rows(); ++row) {
        const auto* attachment = sink.Subnode(w.subnodes, t.Cell(row, tags::kLtpRowId.value()));
        ASSERT_NE(attachment, nullptr);
        const std::uint64_t sum = ValueBytes(sink, *attachment);
        EXPECT_EQ(ReadPcAt(sink, attachment->data).entries[0x0E20].ref, sum) << "row " << row;
        EXPECT_EQ(t.Cell(row, tags::kAttachSize.value()), sum) << "row " << row;
    }
    const auto* embeddedAttachment = sink.Subnode(w.subnodes, t.Cell(2, tags::kLtpRowId.value()));
    PcRead pc = ReadPcAt(sink, embeddedAttachment->data);
    ByteReader object(pc.entries[0x3701].heapValue);
    const Nid innerNid = object.readU32();
    const std::uint32_t innerSize = object.readU32();
    const auto* node = sink.Subnode(embeddedAttachment->subnodes, innerNid);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(innerSize, TreeBytes(sink, node->data, node->subnodes));
    EXPECT_EQ(ReadPcAt(sink, node->data).entries[0x0E08].ref, innerSize);
    EXPECT_GT(ReadPcAt(sink, embeddedAttachment->data).entries[0x0E20].ref, innerSize);
    const auto* deepTable = sink.Subnode(node->subnodes, 0x671);
    ASSERT_NE(deepTable, nullptr);
    TableRead deep = ReadTableAt(sink, deepTable->data, deepTable->subnodes);
    ASSERT_EQ(deep.rows(), 1u);
    const auto* deepAttachment = sink.Subnode(node->subnodes, deep.Cell(0, tags::kLtpRowId.value()));
    ASSERT_NE(deepAttachment, nullptr);
    EXPECT_EQ(ReadPcAt(sink, deepAttachment->data).entries[0x0E20].ref, ValueBytes(sink, *deepAttachment));
    // The embedded message's data counts into the outer message once.
    EXPECT_GT(outerBytes, innerSize + 20000);
}

TEST(MessageWriter, MissingAttachmentFileIsReportedNotSkipped) {
    MemorySink sink;
    NameToIdMap names;
    Message m;
    m.attachments.push_back(Attachment::FromFile("x", bmtest::ScratchDir("missing_attachment") / "absent.bin"));
    EXPECT_THROW(MessageWriter(sink, names, kSomeTime).Write(m), std::runtime_error);
}

TEST(FolderSet, CountsTablesAndSubfolderFlagsFollowWhatWasAdded) {
    MemorySink sink;
    FolderSet folders;
    const Nid root = 0x122;
    folders.Add(root, root, "", "");
    const Nid top = MakeNid(NidType::NormalFolder, 0x400);
    const Nid inbox = MakeNid(NidType::NormalFolder, 0x401);
    folders.Add(top, root, "Top of Personal Folders", "");
    folders.Add(inbox, top, "Inbox", "IPF.Note");
    for (int i = 0; i < 1200; ++i) {
        PropertyBag subject;
        subject.SetString(tags::kSubject, "m" + std::to_string(i));
        folders.AddContentsRow(inbox, MakeNid(NidType::NormalMessage, 0x1000 + static_cast<std::uint32_t>(i)), i % 4 != 0,
                               {{tags::kSubject.value(), subject.properties()[0].bytes}});
    }
    EXPECT_EQ(folders.FindChild(top, "Inbox"), inbox);
    EXPECT_FALSE(folders.FindChild(top, "Outbox").has_value());
    folders.WriteAll(sink);

    ASSERT_EQ(sink.nodes.count(inbox), 1u);
    EXPECT_EQ(sink.nodes[inbox].parent, top);
    EXPECT_EQ(sink.nodes[root].parent, root);
    PcRead pc = ReadPcAt(sink, sink.nodes[inbox].data);
    EXPECT_EQ(pc.entries[0x3602].ref, 1200u);
    EXPECT_EQ(pc.entries[0x3603].ref, 300u);
    EXPECT_EQ(pc.entries[0x360A].ref, 0u);
    // The associated content count is there like the content count, also
    // when the folder has no associated items.
    ASSERT_EQ(pc.entries.count(0x3617), 1u);
    EXPECT_EQ(pc.entries[0x3617].ref, 0u);
    EXPECT_EQ(pc.Text(0x3613), "IPF.Note");
    EXPECT_EQ(ReadPcAt(sink, sink.nodes[top].data).entries[0x360A].ref, 1u);

    const Nid contentsNid = MakeNid(NidType::ContentsTable, IndexOfNid(inbox));
    ASSERT_EQ(sink.nodes.count(contentsNid), 1u);
    TableRead contents = ReadTableAt(sink, sink.nodes[contentsNid].data, sink.nodes[contentsNid].subnodes);
    EXPECT_EQ(contents.tc.error, "");
    ASSERT_EQ(contents.rows(), 1200u);
    EXPECT_TRUE(contents.inSubnode);
    EXPECT_EQ(contents.tc.rowSize, 122);
    EXPECT_EQ(contents.Text(1199, tags::kSubject.value()), "m1199");
    EXPECT_EQ(contents.Cell(5, tags::kLtpRowId.value()), MakeNid(NidType::NormalMessage, 0x1005));

    const Nid hierarchyNid = MakeNid(NidType::HierarchyTable, IndexOfNid(top));
    TableRead hierarchy = ReadTableAt(sink, sink.nodes[hierarchyNid].data, sink.nodes[hierarchyNid].subnodes);
    ASSERT_EQ(hierarchy.rows(), 1u);
    EXPECT_EQ(hierarchy.Text(0, tags::kDisplayName.value()), "Inbox");
    EXPECT_EQ(hierarchy.Cell(0, tags::kContentCount.value()), 1200u);
    EXPECT_EQ(sink.nodes.count(MakeNid(NidType::AssocContentsTable, IndexOfNid(inbox))), 1u);
}

TEST(PstStore, WritesTheNodesEveryStoreNeedsAndNamesItsSpecialFolders) {
    auto owned = std::make_unique<MemorySink>();
    MemorySink& sink = *owned;  // observed; the store owns it
    auto store = PstStore::CreateOn(std::move(owned), {.displayName = "Мой архив"});
    const FolderId inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    EXPECT_EQ(store->FindFolder(store->ipmSubtree(), "Inbox"), inbox);
    EXPECT_EQ(store->FindFolder(store->ipmSubtree(), "Deleted Items"), store->deletedItems());
    EXPECT_THROW(store->CreateFolder(0x12345, "x"), std::invalid_argument);
    Message m;
    m.properties.SetString(tags::kSubject, "named");
    m.properties.SetSysTime(named::kTaskDueDate, 5);
    store->AddMessage(inbox, m);
    store->Finish();
    EXPECT_THROW(store->AddMessage(inbox, m), std::logic_error);

    for (Nid nid : {0x21u, 0x61u, 0x122u, 0x12Du, 0x12Eu, 0x12Fu, 0x1E1u, 0x201u, 0x261u, 0x281u, 0x321u, 0x60Du,
                    0x60Eu, 0x60Fu, 0x610u, 0x62Bu, 0x671u, 0x692u, 0x2223u, 0x2226u, 0x2227u, 0x2230u}) {
        EXPECT_EQ(sink.nodes.count(nid), 1u) << std::hex << nid;
    }
    for (Nid nid : {0x1E1u, 0x201u, 0x261u, 0x281u, 0x321u, 0x2226u}) {
        EXPECT_EQ(sink.nodes[nid].data, 0u) << "empty node 0x" << std::hex << nid << " has no data block";
    }
    EXPECT_EQ(sink.nodes[0x122].parent, 0x122u);
    EXPECT_EQ(sink.nodes[store->ipmSubtree()].parent, 0x122u);
    EXPECT_EQ(sink.nodes[store->searchRoot()].parent, 0x122u);
    EXPECT_EQ(sink.nodes[store->deletedItems()].parent, store->ipmSubtree());
    EXPECT_EQ(sink.nodes[0x2223].parent, 0x122u) << "the spam search folder sits in the root folder";

    PcRead storePc = ReadPcAt(sink, sink.nodes[0x21].data);
    EXPECT_EQ(storePc.error, "");
    EXPECT_EQ(storePc.Text(0x3001), "Мой архив");
    const auto& recordKey = storePc.entries[0x0FF9].heapValue;
    ASSERT_EQ(recordKey.size(), 16u);
    auto entryIdNames = [&](std::uint16_t id, Nid folder) {
        const auto& e = storePc.entries[id].heapValue;
        ASSERT_EQ(e.size(), 24u);
        EXPECT_TRUE(std::equal(recordKey.begin(), recordKey.end(), e.begin() + 4));
        EXPECT_EQ(ByteReader(e).peekAt(20, 4), folder);
    };
    entryIdNames(0x35E0, store->ipmSubtree());
    entryIdNames(0x35E3, store->deletedItems());
    entryIdNames(0x35E7, store->searchRoot());

    PcRead map = ReadPcAt(sink, sink.nodes[0x61].data);
    // The message's named property and the two every store lists so that
    // neither the GUID stream nor the string stream is empty.
    EXPECT_EQ(map.entries[0x0003].heapValue.size(), 3 * 8u) << "three named properties in the entry stream";
    EXPECT_FALSE(map.entries[0x0002].heapValue.empty());
    EXPECT_FALSE(map.entries[0x0004].heapValue.empty());
    TableRead root = ReadTableAt(sink, sink.nodes[0x12D].data, sink.nodes[0x12D].subnodes);
    ASSERT_EQ(root.rows(), 3u);
    EXPECT_EQ(root.Text(0, tags::kDisplayName.value()), "Top of Personal Folders");
    EXPECT_EQ(root.Text(1, tags::kDisplayName.value()), "Search Root");
    EXPECT_EQ(root.Text(2, tags::kDisplayName.value()), "SPAM Search Folder 2");
}

}  // namespace
}  // namespace bm::pst
