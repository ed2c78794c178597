// Properties as the .pst writer takes them: typed tags, named-property tags,
// values already in their stored (little-endian) form, and the bag of them
// that makes up a message, a recipient or an attachment.
//
// A value is kept as the bytes a property context or a table stores for it:
// integers little-endian, strings as UTF-16LE without terminator, multi-valued
// fixed types as a plain array, multi-valued variable types as a count, an
// offset per value and the values. The typed setters build these bytes, so
// the layers below never look at what a value means.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "format/properties.h"

namespace bm::pst {

using ::bm::IsMultiValued;
using ::bm::kMultiValuedFlag;
using ::bm::PropType;

// Size of one value of a fixed-size type (the element size for multi-valued
// ones); 0 for variable-size types (strings, binary, object).
std::size_t FixedValueSize(PropType type);

// Whether a property context keeps the value in its 4-byte slot itself.
constexpr bool IsStoredInline(PropType type) {
    return type == PropType::Int16 || type == PropType::Int32 || type == PropType::Float ||
           type == PropType::ErrorCode || type == PropType::Boolean;
}

using ::bm::Guid;

// A GUID from its usual text form "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx",
// stored as Windows does: the first three groups little-endian.
Guid GuidFromText(std::string_view text);

// A property with a fixed identifier below 0x8000.
struct PropTag {
    std::uint16_t id = 0;
    PropType type = PropType::Int32;

    constexpr std::uint32_t value() const { return (std::uint32_t{id} << 16) | static_cast<std::uint16_t>(type); }
    friend constexpr bool operator==(const PropTag&, const PropTag&) = default;
};

// A named property: a property set and either a numeric id (LID) or a name.
// The store gives it an identifier from 0x8000 up through its name-to-ID map.
struct NamedPropTag {
    Guid propertySet{};
    std::variant<std::uint32_t, std::u16string> name;
    PropType type = PropType::Int32;

    friend bool operator==(const NamedPropTag&, const NamedPropTag&) = default;
};

// Identifies a property of a bag: a fixed id or a named property (without
// its type, so a name maps to one identifier whatever type it is set with).
struct PropKey {
    std::uint16_t id = 0;  // 0 for a named property
    Guid propertySet{};
    std::variant<std::uint32_t, std::u16string> name;

    bool isNamed() const { return id == 0; }
    friend bool operator==(const PropKey&, const PropKey&) = default;
};

struct PropKeyHash {
    std::size_t operator()(const PropKey& key) const;
};

struct Property {
    PropKey key;
    PropType type = PropType::Int32;
    std::vector<std::uint8_t> bytes;  // the stored form
};

using ::bm::FileTime;
using ::bm::FileTimeFromUnix;

// An ordered set of properties; setting a key again replaces its value and
// keeps its place. Each setter checks that the tag's type fits the value
// and throws std::invalid_argument otherwise.
class PropertyBag {
public:
    void SetInt16(PropTag tag, std::int16_t value);
    void SetInt32(PropTag tag, std::int32_t value);
    void SetBool(PropTag tag, bool value);
    void SetInt64(PropTag tag, std::int64_t value);
    void SetDouble(PropTag tag, double value);
    void SetSysTime(PropTag tag, FileTime value);
    void SetGuid(PropTag tag, const Guid& value);
    // UTF-8 in; stored as UTF-16LE (PT_UNICODE).
    void SetString(PropTag tag, std::string_view utf8);
    void SetBinary(PropTag tag, std::span<const std::uint8_t> bytes);
    void SetMultiInt32(PropTag tag, std::span<const std::int32_t> values);
    void SetMultiInt64(PropTag tag, std::span<const std::int64_t> values);
    void SetMultiString(PropTag tag, const std::vector<std::string>& utf8);
    void SetMultiBinary(PropTag tag, const std::vector<std::vector<std::uint8_t>>& values);

    void SetInt32(const NamedPropTag& tag, std::int32_t value);
    void SetBool(const NamedPropTag& tag, bool value);
    void SetDouble(const NamedPropTag& tag, double value);
    void SetSysTime(const NamedPropTag& tag, FileTime value);
    void SetString(const NamedPropTag& tag, std::string_view utf8);
    void SetBinary(const NamedPropTag& tag, std::span<const std::uint8_t> bytes);
    void SetMultiString(const NamedPropTag& tag, const std::vector<std::string>& utf8);

    // Sets a value given in its stored form (for copying properties read from
    // another store). Checks only that fixed-size types have a whole number
    // of values.
    void SetRaw(const PropKey& key, PropType type, std::vector<std::uint8_t> bytes);

    // Room for `count` properties in all.
    void Reserve(std::size_t count);

    void Remove(const PropKey& key);
    const Property* Find(const PropKey& key) const;
    const Property* Find(PropTag tag) const;
    std::optional<std::int32_t> GetInt32(PropTag tag) const;
    // The UTF-8 form of a PT_UNICODE value.
    std::optional<std::string> GetString(PropTag tag) const;

    const std::vector<Property>& properties() const { return props_; }
    std::size_t size() const { return props_.size(); }
    bool empty() const { return props_.empty(); }

private:
    // Where a key's property sits: its hash and its place in props_.
    struct IndexSlot {
        std::size_t hash = 0;
        std::size_t at = 0;
    };

    void Put(PropKey key, PropType type, std::vector<std::uint8_t> bytes);
    // The slot of `key` in index_, or index_.end().
    std::vector<IndexSlot>::const_iterator Slot(const PropKey& key, std::size_t hash) const;

    std::vector<Property> props_;
    // Sorted by hash: a bag holds a few dozen properties, so a flat index
    // serves it without a heap node per property.
    std::vector<IndexSlot> index_;
};

PropKey KeyOf(PropTag tag);
PropKey KeyOf(const NamedPropTag& tag);

}  // namespace bm::pst
