#include "output/pst/props.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "common/byte_reader.h"
#include "common/utf.h"

namespace bm::pst {

namespace {

std::string TypeText(PropType type) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(type));
    return buf;
}

void RequireType(PropType tagType, PropType expected) {
    if (tagType != expected) {
        throw std::invalid_argument("property of type " + TypeText(tagType) + " set with a value of type " +
                                    TypeText(expected));
    }
}

template <typename T>
void AppendLe(std::vector<std::uint8_t>& out, T value, std::size_t width) {
    const std::size_t at = out.size();
    out.resize(at + width);
    PutLe(out.data() + at, static_cast<std::uint64_t>(value), width);
}

std::vector<std::uint8_t> LeBytes(std::uint64_t value, std::size_t width) {
    std::vector<std::uint8_t> out(width);
    PutLe(out.data(), value, width);
    return out;
}

std::vector<std::uint8_t> Utf16Bytes(std::string_view utf8) {
    const std::string bytes = Utf8ToUtf16LeBytes(utf8);
    return {bytes.begin(), bytes.end()};
}

// Count, one offset per value (from the start of the whole value), values.
std::vector<std::uint8_t> VariableArray(const std::vector<std::vector<std::uint8_t>>& values) {
    std::vector<std::uint8_t> out;
    AppendLe(out, values.size(), 4);
    std::size_t offset = 4 + 4 * values.size();
    for (const auto& v : values) {
        AppendLe(out, offset, 4);
        offset += v.size();
    }
    for (const auto& v : values) out.insert(out.end(), v.begin(), v.end());
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::size_t FixedValueSize(PropType type) {
    switch (static_cast<PropType>(static_cast<std::uint16_t>(type) & ~kMultiValuedFlag)) {
        case PropType::Int16: return 2;
        case PropType::Boolean: return 1;
        case PropType::Int32:
        case PropType::Float:
        case PropType::ErrorCode: return 4;
        case PropType::Double:
        case PropType::Currency:
        case PropType::AppTime:
        case PropType::Int64:
        case PropType::SysTime: return 8;
        case PropType::Guid: return 16;
        default: return 0;
    }
}

Guid GuidFromText(std::string_view text) {
    std::array<std::uint8_t, 16> raw{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '-' || text[i] == '{' || text[i] == '}') continue;
        const int hi = HexDigit(text[i]);
        const int lo = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        if (hi < 0 || lo < 0 || n >= raw.size()) throw std::invalid_argument("bad GUID text: " + std::string(text));
        raw[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
        ++i;
    }
    if (n != raw.size()) throw std::invalid_argument("bad GUID text: " + std::string(text));
    // Data1 (4 bytes), Data2 and Data3 (2 bytes each) are stored little-endian.
    Guid g = raw;
    std::swap(g[0], g[3]);
    std::swap(g[1], g[2]);
    std::swap(g[4], g[5]);
    std::swap(g[6], g[7]);
    return g;
}

std::size_t PropKeyHash::operator()(const PropKey& key) const {
    std::size_t h = key.id;
    for (auto b : key.propertySet) h = h * 131 + b;
    if (const auto* lid = std::get_if<std::uint32_t>(&key.name)) {
        h = h * 31 + *lid;
    } else {
        h = h * 31 + std::hash<std::u16string>{}(std::get<std::u16string>(key.name));
    }
    return h;
}

PropKey KeyOf(PropTag tag) {
    if (tag.id == 0 || tag.id >= 0x8000) throw std::invalid_argument("fixed property ids lie in 0x0001..0x7FFF");
    PropKey key;
    key.id = tag.id;
    return key;
}

PropKey KeyOf(const NamedPropTag& tag) {
    PropKey key;
    key.propertySet = tag.propertySet;
    key.name = tag.name;
    return key;
}

std::vector<PropertyBag::IndexSlot>::const_iterator PropertyBag::Slot(const PropKey& key, std::size_t hash) const {
    auto it = std::lower_bound(index_.begin(), index_.end(), hash,
                               [](const IndexSlot& slot, std::size_t h) { return slot.hash < h; });
    for (; it != index_.end() && it->hash == hash; ++it) {
        if (props_[it->at].key == key) return it;
    }
    return index_.end();
}

void PropertyBag::Put(PropKey key, PropType type, std::vector<std::uint8_t> bytes) {
    const std::size_t hash = PropKeyHash{}(key);
    if (const auto it = Slot(key, hash); it != index_.end()) {
        props_[it->at].type = type;
        props_[it->at].bytes = std::move(bytes);
        return;
    }
    const auto place = std::upper_bound(index_.begin(), index_.end(), hash,
                                        [](std::size_t h, const IndexSlot& slot) { return h < slot.hash; });
    index_.insert(place, IndexSlot{hash, props_.size()});
    props_.push_back(Property{std::move(key), type, std::move(bytes)});
}

void PropertyBag::SetInt16(PropTag tag, std::int16_t value) {
    RequireType(tag.type, PropType::Int16);
    Put(KeyOf(tag), tag.type, LeBytes(static_cast<std::uint16_t>(value), 2));
}

void PropertyBag::SetInt32(PropTag tag, std::int32_t value) {
    RequireType(tag.type, PropType::Int32);
    Put(KeyOf(tag), tag.type, LeBytes(static_cast<std::uint32_t>(value), 4));
}

void PropertyBag::SetBool(PropTag tag, bool value) {
    RequireType(tag.type, PropType::Boolean);
    Put(KeyOf(tag), tag.type, {static_cast<std::uint8_t>(value ? 1 : 0)});
}

void PropertyBag::SetInt64(PropTag tag, std::int64_t value) {
    RequireType(tag.type, PropType::Int64);
    Put(KeyOf(tag), tag.type, LeBytes(static_cast<std::uint64_t>(value), 8));
}

void PropertyBag::SetDouble(PropTag tag, double value) {
    RequireType(tag.type, PropType::Double);
    Put(KeyOf(tag), tag.type, LeBytes(std::bit_cast<std::uint64_t>(value), 8));
}

void PropertyBag::SetSysTime(PropTag tag, FileTime value) {
    RequireType(tag.type, PropType::SysTime);
    Put(KeyOf(tag), tag.type, LeBytes(static_cast<std::uint64_t>(value), 8));
}

void PropertyBag::SetGuid(PropTag tag, const Guid& value) {
    RequireType(tag.type, PropType::Guid);
    Put(KeyOf(tag), tag.type, {value.begin(), value.end()});
}

void PropertyBag::SetString(PropTag tag, std::string_view utf8) {
    RequireType(tag.type, PropType::Unicode);
    Put(KeyOf(tag), tag.type, Utf16Bytes(utf8));
}

void PropertyBag::SetBinary(PropTag tag, std::span<const std::uint8_t> bytes) {
    RequireType(tag.type, PropType::Binary);
    Put(KeyOf(tag), tag.type, {bytes.begin(), bytes.end()});
}

void PropertyBag::SetMultiInt32(PropTag tag, std::span<const std::int32_t> values) {
    RequireType(tag.type, PropType::MvInt32);
    std::vector<std::uint8_t> out;
    for (auto v : values) AppendLe(out, static_cast<std::uint32_t>(v), 4);
    Put(KeyOf(tag), tag.type, std::move(out));
}

void PropertyBag::SetMultiInt64(PropTag tag, std::span<const std::int64_t> values) {
    RequireType(tag.type, PropType::MvInt64);
    std::vector<std::uint8_t> out;
    for (auto v : values) AppendLe(out, static_cast<std::uint64_t>(v), 8);
    Put(KeyOf(tag), tag.type, std::move(out));
}

namespace {
// Multi-valued strings keep each value's terminating NUL.
std::vector<std::uint8_t> MultiStringBytes(const std::vector<std::string>& utf8) {
    std::vector<std::vector<std::uint8_t>> values;
    values.reserve(utf8.size());
    for (const auto& s : utf8) {
        auto v = Utf16Bytes(s);
        v.push_back(0);
        v.push_back(0);
        values.push_back(std::move(v));
    }
    return VariableArray(values);
}
}  // namespace

void PropertyBag::SetMultiString(PropTag tag, const std::vector<std::string>& utf8) {
    RequireType(tag.type, PropType::MvUnicode);
    Put(KeyOf(tag), tag.type, MultiStringBytes(utf8));
}

void PropertyBag::SetMultiBinary(PropTag tag, const std::vector<std::vector<std::uint8_t>>& values) {
    RequireType(tag.type, PropType::MvBinary);
    Put(KeyOf(tag), tag.type, VariableArray(values));
}

void PropertyBag::SetInt32(const NamedPropTag& tag, std::int32_t value) {
    RequireType(tag.type, PropType::Int32);
    Put(KeyOf(tag), tag.type, LeBytes(static_cast<std::uint32_t>(value), 4));
}

void PropertyBag::SetBool(const NamedPropTag& tag, bool value) {
    RequireType(tag.type, PropType::Boolean);
    Put(KeyOf(tag), tag.type, {static_cast<std::uint8_t>(value ? 1 : 0)});
}

void PropertyBag::SetDouble(const NamedPropTag& tag, double value) {
    RequireType(tag.type, PropType::Double);
    Put(KeyOf(tag), tag.type, LeBytes(std::bit_cast<std::uint64_t>(value), 8));
}

void PropertyBag::SetSysTime(const NamedPropTag& tag, FileTime value) {
    RequireType(tag.type, PropType::SysTime);
    Put(KeyOf(tag), tag.type, LeBytes(static_cast<std::uint64_t>(value), 8));
}

void PropertyBag::SetString(const NamedPropTag& tag, std::string_view utf8) {
    RequireType(tag.type, PropType::Unicode);
    Put(KeyOf(tag), tag.type, Utf16Bytes(utf8));
}

void PropertyBag::SetBinary(const NamedPropTag& tag, std::span<const std::uint8_t> bytes) {
    RequireType(tag.type, PropType::Binary);
    Put(KeyOf(tag), tag.type, {bytes.begin(), bytes.end()});
}

void PropertyBag::SetMultiString(const NamedPropTag& tag, const std::vector<std::string>& utf8) {
    RequireType(tag.type, PropType::MvUnicode);
    Put(KeyOf(tag), tag.type, MultiStringBytes(utf8));
}

void PropertyBag::SetRaw(const PropKey& key, PropType type, std::vector<std::uint8_t> bytes) {
    if (!key.isNamed() && key.id >= 0x8000) throw std::invalid_argument("fixed property ids lie in 0x0001..0x7FFF");
    const std::size_t unit = FixedValueSize(type);
    if (unit != 0) {
        const bool ok = IsMultiValued(type) ? bytes.size() % unit == 0 : bytes.size() == unit;
        if (!ok) throw std::invalid_argument("value size does not fit property type " + TypeText(type));
    }
    Put(key, type, std::move(bytes));
}

void PropertyBag::Reserve(std::size_t count) {
    props_.reserve(count);
    index_.reserve(count);
}

void PropertyBag::Remove(const PropKey& key) {
    const auto it = Slot(key, PropKeyHash{}(key));
    if (it == index_.end()) return;
    const std::size_t at = it->at;
    index_.erase(it);
    props_.erase(props_.begin() + static_cast<std::ptrdiff_t>(at));
    for (auto& slot : index_) {
        if (slot.at > at) --slot.at;
    }
}

const Property* PropertyBag::Find(const PropKey& key) const {
    const auto it = Slot(key, PropKeyHash{}(key));
    return it == index_.end() ? nullptr : &props_[it->at];
}

const Property* PropertyBag::Find(PropTag tag) const {
    const Property* p = Find(KeyOf(tag));
    return p != nullptr && p->type == tag.type ? p : nullptr;
}

std::optional<std::int32_t> PropertyBag::GetInt32(PropTag tag) const {
    const Property* p = Find(tag);
    if (p == nullptr || p->bytes.size() != 4) return std::nullopt;
    ByteReader r(p->bytes);
    return r.readI32();
}

std::optional<std::string> PropertyBag::GetString(PropTag tag) const {
    const Property* p = Find(tag);
    if (p == nullptr || p->type != PropType::Unicode) return std::nullopt;
    return Utf16LeToUtf8(p->bytes);
}

}  // namespace bm::pst
