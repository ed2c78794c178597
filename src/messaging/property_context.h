// Property and table contexts: turning a heap into a PropertyList.
//
// Property context (heap client signature 0xBC): the root allocation is a
// BTH with 2-byte keys; its leaf records are 8 bytes,
//   0 u16 wPropId, 2 u16 wPropType, 4 u32 value (inline or an HNID).
// Table context (0x7C): see table_context.cpp. Both produce PropertyValue
// entries by the same record conversion.
//
// An HNID whose low five bits are 0 is a HID into the heap; any other is the
// NID of a subnode of the node. Values that cannot be resolved are dropped;
// a value kept in a subnode that cannot be read stays in the list without
// data and with the subnode's NID in place of its type, so that nothing that
// selects by type uses it and the item mapping can fetch it later.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/properties.h"
#include "messaging/heap_node.h"
#include "messaging/named_properties.h"

namespace bm {

using Bytes = std::vector<std::uint8_t>;

// Property types the reader knows, by the format's words.
enum PropertyType : std::uint32_t {
    kPtShort = TypeValue(PropType::Int16),
    kPtLong = TypeValue(PropType::Int32),
    kPtFloat = TypeValue(PropType::Float),
    kPtDouble = TypeValue(PropType::Double),
    kPtCurrency = TypeValue(PropType::Currency),
    kPtAppTime = TypeValue(PropType::AppTime),
    kPtError = TypeValue(PropType::ErrorCode),
    kPtBoolean = TypeValue(PropType::Boolean),
    kPtObject = TypeValue(PropType::Object),
    kPtI8 = TypeValue(PropType::Int64),
    kPtString8 = TypeValue(PropType::String8),
    kPtUnicode = TypeValue(PropType::Unicode),
    kPtSysTime = TypeValue(PropType::SysTime),
    kPtClsid = TypeValue(PropType::Guid),
    kPtBinary = TypeValue(PropType::Binary),
    kPtMvLong = TypeValue(PropType::MvInt32),
    kPtMvI8 = TypeValue(PropType::MvInt64),
    kPtMvString8 = TypeValue(PropType::MvString8),
    kPtMvBinary = TypeValue(PropType::MvBinary),
};

// The id of every string-named property.
inline constexpr std::uint32_t kStringNamedId = 2;

struct PropertyValue {
    std::uint32_t id = 0;       // wPropId, the LID of a numeric name, or 2 for a string name
    std::optional<Bytes> data;  // none when there is no value
    std::uint32_t type = 0;     // wPropType; the subnode's NID when a kept value could not be read
    std::uint32_t size = 0;     // bytes of data
    std::string name;           // a string-named property's name
    bool stringNamed = false;   // id 2 stands for a string name, not for property 0x0002
    bool numericNamed = false;  // id is a LID from the name-to-ID map
    bool hasData() const { return data.has_value(); }
};

// One row of a table, or the whole of a property context.
struct PropertyChunk {
    std::vector<PropertyValue> entries;  // in record (column) order
    std::size_t count() const { return entries.size(); }
};

struct PropertyList {
    std::int32_t rowCount = 1;          // 1 for a property context
    std::vector<PropertyChunk> chunks;  // the head first: for a table, the last row first
};

// Reads the data of a subnode of the node being read, block by block;
// nullopt when the node has no such subnode (or no subnode list at all).
using SubnodeDataReader = std::function<std::optional<HeapBlocks>(std::uint32_t nid)>;

struct PropertyReadContext {
    const NamedPropertyMap* names = nullptr;
    SubnodeDataReader subnodes;  // empty: every value kept in a subnode is unreadable
    // Table rows: leave out the cells the row's cell existence block marks
    // absent (a copy must not invent values); the item mapping reads every
    // column as before.
    bool onlyExistingCells = false;
    // Read the multi-valued types beyond the known ones (strings, times,
    // GUIDs, ...) too, for a copy of the whole item.
    bool everyType = false;
    // List an empty string or binary value (a heap reference of 0) as a
    // value with no bytes, for a copy that must keep it; otherwise, as the
    // item mapping expects, such a value is left out.
    bool keepEmptyValues = false;
    // Counts the values left out because they fail their own checks (see
    // ConvertPropertyRecord); nullptr: not counted.
    std::size_t* valuesDropped = nullptr;
};

// Record conversion shared by property contexts and table cells. `field` is
// the 4-byte value field. nullopt when the record is dropped. A value that
// fails its own checks is dropped and counted (ctx.valuesDropped): a heap
// reference that names no allocation of the heap (or one past its page), a
// fixed-size value shorter than its type, a
// time past the last one the format can hold (the top bit set), a
// multi-valued value whose count and offsets do not fit its bytes. None of
// these is ever true of a sound store; all of them are what a changed byte
// makes of a heap that otherwise holds together.
std::optional<PropertyValue> ConvertPropertyRecord(const HeapNode& heap, const PropertyReadContext& ctx,
                                                   std::uint16_t propId, std::uint16_t propType,
                                                   std::span<const std::uint8_t> field);

// The identifier a property is listed under: the LID of a numeric name
// (numericNamed set on `value`), 2 for a string name (with its name and
// stringNamed set), else the property identifier.
std::uint32_t TranslatePropertyId(const NamedPropertyMap* names, std::uint16_t propId, PropertyValue& value);

// One record of a property context as stored: the value field is the value
// itself (types of up to 4 bytes) or an HNID.
struct PcRecord {
    std::uint16_t id = 0;
    std::uint16_t type = 0;
    std::uint32_t value = 0;
};
// The records of a property context in key order; nullopt when the heap is
// not one (wrong client signature or BTH header).
std::optional<std::vector<PcRecord>> ReadPcRecords(const HeapNode& heap);

// A property context read from its heap; nullopt when the heap is not one.
std::optional<PropertyList> ReadPropertyContext(const HeapNode& heap, const PropertyReadContext& ctx);
// A table context; nullopt when the heap is not one or has no rows.
std::optional<PropertyList> ReadTableContext(const HeapNode& heap, const PropertyReadContext& ctx);
// The rows of a table context one at a time, in the order ReadTableContext
// lists them (the last row first), none kept past its call: for tables of
// any length. Returns the row count, or nullopt (before any call) when
// ReadTableContext gives nullopt.
using TableRowVisitor = std::function<void(PropertyChunk&& row)>;
std::optional<std::size_t> ForEachTableRow(const HeapNode& heap, const PropertyReadContext& ctx,
                                           const TableRowVisitor& visit);
// Either, by the heap's client signature.
std::optional<PropertyList> ReadPropertyObject(const HeapNode& heap, const PropertyReadContext& ctx);

}  // namespace bm
