#include "check/check_size_rules.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "check/check_text.h"
#include "common/byte_reader.h"
#include "format/properties.h"
#include "messaging/heap_node.h"
#include "messaging/property_reader.h"
#include "store/blocks.h"
#include "store/nid_types.h"

namespace bm {

namespace {

// Subnodes the client keeps beside some messages of its own; no property
// names them and the client leaves them out of the message size.
constexpr std::uint32_t kNidTypeClientSide = NidTypeValue(NidType::ClientSide);

std::string Hex(std::uint64_t v) { return CheckHex(v); }

using Record = PcRecord;

// A property context of a message, attachment or embedded message, with
// its records.
struct Context {
    HeapNode heap;
    std::vector<Record> records;

    std::optional<std::uint32_t> Long(std::uint32_t id) const {
        for (const Record& r : records)
            if (r.id == id && r.type == kPtLong) return r.value;
        return std::nullopt;
    }
};

// A message, attachment or embedded message: its node data and the run of
// the flat subnode list below it.
struct Object {
    const BlockEntry* data = nullptr;
    std::size_t begin = 0, end = 0;  // its subnodes, nested ones included
    std::uint32_t childLevel = 0;    // the level of its own subnodes
};

class SizeWalk {
public:
    SizeWalk(StoreFile& store, std::uint32_t nid, const SubnodeList& list, const SizeFinding& finding)
        : store_(store), nid_(nid), list_(list.entries()), finding_(finding) {}

    void run(const BlockEntry& data) {
        checkMessage({&data, 0, list_.size(), 0}, "");
        for (std::size_t i = 0; i < list_.size(); ++i) {
            if (list_[i].block == nullptr) continue;
            const std::uint32_t type = NidTypeOf(list_[i].nid);
            if (type == kNidTypeAttachment) checkAttachment(i);
            if (type == kNidTypeNormalMessage) checkMessage(below(i), " for " + describe(i));
        }
    }

private:
    Object below(std::size_t i) const {
        std::size_t end = i + 1;
        while (end < list_.size() && list_[end].level > list_[i].level) ++end;
        return {list_[i].block, i + 1, end, list_[i].level + 1};
    }

    // "attachment 0x8025", "embedded message 0x200102 of attachment 0x8025".
    std::string describe(std::size_t i) const {
        std::string out = (NidTypeOf(list_[i].nid) == kNidTypeAttachment ? "attachment " : "embedded message ") +
                          Hex(list_[i].nid);
        for (std::size_t j = i; j-- > 0;) {
            if (list_[j].level + 1 == list_[i].level) return out + " of " + describe(j);
        }
        return out;
    }

    // The bytes of a node's data, from the block table: a data block's
    // size, or the sizes of the data blocks a data tree names.
    std::optional<std::uint64_t> dataBytes(const BlockEntry* entry, unsigned depth = 0) {
        if (entry == nullptr) return 0;
        if (!IsInternalBid(entry->bid())) return entry->size();
        if (depth > 1 || store_.layout == nullptr) return std::nullopt;
        Bytes block;
        if (ReadBlockEntry(store_, *entry, block) == 0) return std::nullopt;
        const ByteReader r(block);
        const auto btype = r.peekAt(0, 1), level = r.peekAt(1, 1), count = r.peekAt(2, 2);
        if (btype != kDataTreeBlockType || !level || !count || *level < 1 || *level > 2) return std::nullopt;
        if (depth > 0 && *level != 1) return std::nullopt;
        const std::size_t width = store_.layout->idWidth;
        const std::size_t first = store_.layout->internal.dataTreeEntriesAt;
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < *count; ++i) {
            const auto bid = r.peekAt(first + i * width, width);
            if (!bid) return std::nullopt;
            const BlockEntry* child = FindBlock(store_, *bid);
            if (child == nullptr || (*level == 1 && IsInternalBid(child->bid()))) return std::nullopt;
            const auto bytes = *level == 1 ? std::optional<std::uint64_t>(child->size()) : dataBytes(child, depth + 1);
            if (!bytes) return std::nullopt;
            total += *bytes;
        }
        return total;
    }

    // The message size as the client counts it: the object's data and
    // that of every subnode below it, but for client-side subnodes and
    // what lies below them.
    std::optional<std::uint64_t> treeBytes(const Object& o) {
        auto total = dataBytes(o.data);
        for (std::size_t j = o.begin; total && j < o.end; ++j) {
            if (NidTypeOf(list_[j].nid) == kNidTypeClientSide) {
                const std::uint32_t level = list_[j].level;
                while (j + 1 < o.end && list_[j + 1].level > level) ++j;
                continue;
            }
            const auto bytes = dataBytes(list_[j].block);
            total = bytes ? std::optional(*total + *bytes) : std::nullopt;
        }
        return total;
    }

    std::optional<Context> read(const Object& o) {
        auto blocks = ReadNodeBlocks(store_, *o.data);
        if (!blocks) return std::nullopt;
        auto heap = HeapNode::Open(std::move(*blocks), HidLayoutFor(store_));
        if (!heap) return std::nullopt;
        auto records = ReadPcRecords(*heap);
        if (!records) return std::nullopt;
        return Context{std::move(*heap), std::move(*records)};
    }

    // The own subnode of `o` with that NID (its index in the list).
    std::optional<std::size_t> child(const Object& o, std::uint32_t nid) const {
        for (std::size_t j = o.begin; j < o.end; ++j)
            if (list_[j].level == o.childLevel && list_[j].nid == nid) return j;
        return std::nullopt;
    }

    // The bytes an object value holds: an embedded message by its message
    // size (as counted, so that a wrong stored one is one finding, of the
    // message), other objects by their data.
    std::optional<std::uint64_t> objectBytes(const Object& o, const Context& c, const Record& r) {
        const auto ref = c.heap.Allocation(r.value);
        if (!ref) return std::nullopt;
        const ByteReader reader(*ref);
        const auto nid = reader.peekAt(0, 4), size = reader.peekAt(4, 4);
        if (!nid || !size) return std::nullopt;
        const auto at = child(o, static_cast<std::uint32_t>(*nid));
        if (!at) return *size;
        if (NidTypeOf(list_[*at].nid) != kNidTypeNormalMessage) return dataBytes(list_[*at].block);
        return treeBytes(below(*at));
    }

    // The sum of the object's property values, each by its stored size.
    std::optional<std::uint64_t> valueBytes(const Object& o, const Context& c) {
        std::uint64_t total = 0;
        for (const Record& r : c.records) {
            std::optional<std::uint64_t> bytes;
            switch (r.type) {
                case kPtBoolean: bytes = 1; break;
                case kPtShort: bytes = 2; break;
                case kPtLong:
                case kPtFloat:
                case kPtError: bytes = 4; break;
                case kPtObject: bytes = objectBytes(o, c, r); break;
                default:
                    // Everything else is kept outside the record: a heap
                    // allocation (HID, low five bits 0) or a subnode.
                    if (r.value == 0) {
                        bytes = 0;
                    } else if ((r.value & kNidTypeMask) == 0) {
                        if (const auto alloc = c.heap.Allocation(r.value)) bytes = alloc->size();
                    } else if (const auto at = child(o, r.value)) {
                        bytes = dataBytes(list_[*at].block);
                    }
            }
            if (!bytes) return std::nullopt;
            total += *bytes;
        }
        return total;
    }

    void checkMessage(const Object& o, const std::string& what) {
        const auto context = read(o);
        if (!context) return;
        const auto stored = context->Long(prop::kMessageSize);
        const auto expected = treeBytes(o);
        if (!stored || !expected || *stored == *expected) return;
        if (const auto values = valueBytes(o, *context); values && *values == *stored) return;
        finding_(o.data->offset(), nid_, kRuleMessageSize,
                 std::to_string(*expected) + what + " (bytes of its data and subnodes)", std::to_string(*stored));
    }

    void checkAttachment(std::size_t i) {
        const Object o = below(i);
        const auto context = read(o);
        if (!context) return;
        const auto stored = context->Long(prop::kAttachSize);
        if (!stored) return;
        const auto expected = valueBytes(o, *context);
        if (!expected || *expected == *stored) return;
        finding_(o.data->offset(), nid_, kRuleAttachmentSize,
                 std::to_string(*expected) + " for " + describe(i) + " (sum of its property values)",
                 std::to_string(*stored));
    }

    StoreFile& store_;
    std::uint32_t nid_;
    const std::vector<SubnodeEntry>& list_;
    const SizeFinding& finding_;
};

}  // namespace

void CheckMessageSizes(StoreFile& store, std::uint32_t nid, const BlockEntry& data, const SubnodeList& subnodes,
                       const SizeFinding& finding) {
    SizeWalk(store, nid, subnodes, finding).run(data);
}

}  // namespace bm
