// Property contexts (PC): a heap whose client root is a BTH from the 2-byte
// property id to a 6-byte record (2-byte type, 4-byte value or reference).
// Values of at most 4 bytes (16- and 32-bit integers, floats, error codes,
// booleans) sit in the record itself; other values are a heap allocation
// when they fit one, or else a subnode of the node, named by its NID.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "output/pst/ltp_heap.h"
#include "output/pst/ndb_types.h"
#include "output/pst/props.h"

namespace bm::pst {

// Stores a value too large for the heap as a subnode of the node being built
// and returns the subnode's NID.
using LargeValueSink = std::function<Nid(std::span<const std::uint8_t>)>;

struct PcValue {
    std::uint16_t id = 0;
    PropType type = PropType::Int32;
    std::vector<std::uint8_t> bytes;
    // A value already written as a subnode (an attachment's data, say):
    // the record names this NID and bytes is ignored.
    std::optional<Nid> subnode;
    // Bytes kept by someone else for as long as the value is used (the
    // property bag of the message being written), taken instead of `bytes`
    // when not empty, so that a message's values are not copied to be written.
    std::span<const std::uint8_t> borrowed{};

    // The value's bytes in their stored form.
    std::span<const std::uint8_t> stored() const {
        return borrowed.empty() ? std::span<const std::uint8_t>(bytes) : borrowed;
    }
    // Gives the value bytes of its own.
    void Replace(std::vector<std::uint8_t> value) {
        bytes = std::move(value);
        borrowed = {};
    }
};

// The heap blocks of a property context. Ids must be unique
// (std::invalid_argument otherwise); inline types must carry exactly their
// size.
std::vector<std::vector<std::uint8_t>> BuildPropertyContext(const std::vector<PcValue>& values,
                                                            const LargeValueSink& sink);

// Replaces the value of an inline property (at most 4 bytes, in its
// record) in the heap blocks BuildPropertyContext made: for a value that
// depends on the size of the context itself. std::invalid_argument when
// the context holds no such property.
void SetInlineValue(std::vector<std::vector<std::uint8_t>>& heap, std::uint16_t id, std::uint32_t value);

// The values of a bag of fixed-id properties (std::invalid_argument for a
// named one, which needs the store's name-to-ID map).
std::vector<PcValue> PcValuesOf(const PropertyBag& bag);

// A reference to a value of the heap or a subnode: a heap allocation when
// it fits one, else whatever the sink returns.
std::uint32_t StoreValue(HeapBuilder& heap, std::span<const std::uint8_t> bytes, const LargeValueSink& sink);

}  // namespace bm::pst
