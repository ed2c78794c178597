// A small store written by our writer, and damage made inside chosen
// items of it: the byte of a body's block, of an attachment's data, of the
// index page that lists an item, or the item's subnode block zeroed; and
// the categories a saved store gives its messages.
// Header-only; the including program links the core.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "engine/engine_test_helpers.h"
#include "messaging/messaging.h"
#include "output/source_copy.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "store/nid_types.h"
#include "store/store.h"
#include "support/store_damage.h"

namespace bmtest {

namespace fs = std::filesystem;
namespace tags = bm::pst::tags;
using namespace bm;

inline std::vector<std::uint8_t> Noise(std::size_t n, std::uint64_t seed) {
    DamageRandom random{seed};
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(random.Next());
    return out;
}

inline std::string LongText(std::size_t n) {
    std::string text;
    for (int i = 0; text.size() < n; ++i) text += "Line " + std::to_string(i) + " of a long body that needs blocks of its own.\n";
    return text;
}

// Inbox: a short mail, one with a long body (kept in a data tree of its own),
// one with a recipient and a 100 KiB attachment, and another short one.
inline fs::path WriteMailStore(const fs::path& dir) {
    const fs::path path = dir / "source.ost";
    auto store = pst::PstStore::Create(path, {});
    const auto inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    store->AddMessage(inbox, MessageOf("IPM.Note", "short one"));
    pst::Message body = MessageOf("IPM.Note", "long body");
    body.properties.SetString(tags::kBody, LongText(40000));
    body.properties.SetMultiString(pst::named::kKeywords, {"Work"});
    store->AddMessage(inbox, body);
    pst::Message attached = MessageOf("IPM.Note", "with attachment");
    pst::PropertyBag to;
    to.SetString(tags::kDisplayName, "Ann Example");
    to.SetString(tags::kEmailAddress, "ann@example.com");
    to.SetInt32(tags::kRecipientType, 1);
    attached.recipients.push_back(to);
    attached.attachments.push_back(pst::Attachment::FromBytes("report.bin", Noise(100 * 1024, 7)));
    store->AddMessage(inbox, attached);
    store->AddMessage(inbox, MessageOf("IPM.Note", "short two"));
    store->Finish();
    return path;
}

// BodyByte: in the body's own block; OwnBlockByte: in the message's own
// data block (for an item small enough to hold its values there).
enum class Spot { BodyByte, OwnBlockByte, AttachmentByte, IndexPageByte, SubnodeBlockZeroed };

// Where to damage the store: file offsets found through its own index.
class StoreMap {
public:
    explicit StoreMap(const fs::path& path) {
        store_.keepPagesEntered = true;
        EXPECT_EQ(OpenStore(store_, path, StoreOpenMode::SharedRead), 0);
        EXPECT_EQ(BuildIndexes(store_, reader_), 0);
        LoadNamedPropertyMap(store_);
    }
    ~StoreMap() { ReleaseStore(store_); }

    const NodeEntry& Message(const std::string& subject) {
        for (const NodeEntry& node : store_.forest.records()) {
            if (!IsNormalMessageNid(node.nid)) continue;
            const auto record = ReadItem(store_, node, &reader_);
            if (record && record->messageFields && record->messageFields->subject &&
                record->messageFields->subject->text == subject)
                return node;
        }
        ADD_FAILURE() << "no message " << subject;
        return *store_.forest.first();
    }
    // The first data block of the first value subnode at `level` (0 the
    // message's own, 1 an attachment's).
    const BlockEntry& ValueDataBlock(const NodeEntry& message, std::uint32_t level) {
        const SubnodeList subnodes = ReadSubnodes(store_, *message.subnodeBlock());
        for (const SubnodeEntry& e : subnodes.entries()) {
            if (e.level != level || NidTypeOf(e.nid) != 0x1F) continue;
            if (!IsInternalBid(e.block->bid())) return *e.block;
            Bytes xblock;
            ReadBlock(store_, e.block->bid(), xblock);
            const std::uint64_t child = ByteReader(xblock).peekAt(store_.layout->internal.dataTreeEntriesAt, 8).value_or(0);
            return *FindBlock(store_, child);
        }
        ADD_FAILURE() << "no value subnode at level " << level;
        return *message.dataBlock();
    }
    // The offset of the second byte of a node's subnode BID in the leaf
    // page of the node index that lists it.
    std::uint64_t NodeIndexSubnodeField(const NodeEntry& node) {
        for (const std::uint64_t page : store_.nbtPagesEntered) {
            Bytes bytes;
            ReadAt(store_, page, store_.layout->page.size, bytes);
            const ByteReader r(bytes);
            for (std::size_t at = 0; at + 24 <= bytes.size(); at += 8) {
                if (r.peekAt(at, 8) == node.nid && r.peekAt(at + 8, 8) == node.bidData() &&
                    r.peekAt(at + 16, 8) == node.bidSub())
                    return page + at + 17;
            }
        }
        ADD_FAILURE() << "node not in a leaf page";
        return 0;
    }

private:
    StoreFile store_;
    StoreReader reader_;
};


// Damages the store at `path` in place, at `spot` of the message `subject`.
inline void Damage(const fs::path& path, Spot spot, const char* subject) {
    std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    {
        StoreMap map(path);
        const NodeEntry& message = map.Message(subject);
        switch (spot) {
        case Spot::BodyByte: {
            const BlockEntry& b = map.ValueDataBlock(message, 0);
            bytes[b.offset() + b.size() / 2] ^= 0x20;
            break;
        }
        case Spot::OwnBlockByte: {
            const BlockEntry& b = *message.dataBlock();
            bytes[b.offset() + b.size() / 2] ^= 0x20;
            break;
        }
        case Spot::AttachmentByte: {
            const BlockEntry& b = map.ValueDataBlock(message, 1);
            bytes[b.offset() + b.size() / 3] ^= 0x01;
            break;
        }
        case Spot::IndexPageByte:
            bytes[map.NodeIndexSubnodeField(message)] ^= 0x10;
            break;
        case Spot::SubnodeBlockZeroed: {
            const BlockEntry& b = *message.subnodeBlock();
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(b.offset()), b.size(), 0);
            break;
        }
        }
    }
    WriteWholeFile(path, bytes);
}

// The categories of every message of a written store, by subject.
inline std::map<std::string, std::vector<std::string>> CategoriesBySubject(const fs::path& path) {
    std::map<std::string, std::vector<std::string>> out;
    StoreFile store;
    StoreReader reader;
    EXPECT_EQ(OpenStore(store, path, StoreOpenMode::SharedRead), 0);
    BuildIndexes(store, reader);
    LoadNamedPropertyMap(store);
    for (const NodeEntry& node : store.forest.records()) {
        if (!IsNormalMessageNid(node.nid)) continue;
        const auto copy = CopySourceMessage(store, node);
        if (!copy) continue;
        const std::string subject = copy->properties.GetString(tags::kSubject).value_or("");
        std::vector<std::string>& categories = out[subject];
        const pst::Property* p = copy->properties.Find(pst::KeyOf(pst::named::kKeywords));
        if (p == nullptr) continue;
        // A list of UTF-16 strings: the count, their offsets, then the strings.
        const ByteReader r(p->bytes);
        const std::size_t count = r.peekAt(0, 4).value_or(0);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t begin = r.peekAt(4 + 4 * i, 4).value_or(0);
            const std::size_t end = i + 1 < count ? r.peekAt(8 + 4 * i, 4).value_or(0) : p->bytes.size();
            std::string text;
            for (std::size_t k = begin; k + 1 < end; k += 2)
                if (p->bytes[k] != 0 || p->bytes[k + 1] != 0) text += static_cast<char>(p->bytes[k]);
            categories.push_back(text);
        }
    }
    ReleaseStore(store);
    return out;
}

}  // namespace bmtest
