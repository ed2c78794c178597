// The words of a store's property layer: property types, the ids of the
// properties that the reader, the writer and the checker all speak of,
// the property sets of named properties, and FILETIME.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace bm {

// wPropType: the low 16 bits of a property tag.
enum class PropType : std::uint16_t {
    Int16 = 0x0002,
    Int32 = 0x0003,
    Float = 0x0004,
    Double = 0x0005,
    Currency = 0x0006,
    AppTime = 0x0007,
    ErrorCode = 0x000A,
    Boolean = 0x000B,
    Object = 0x000D,
    Int64 = 0x0014,
    String8 = 0x001E,
    Unicode = 0x001F,
    SysTime = 0x0040,
    Guid = 0x0048,
    Binary = 0x0102,
    MvInt16 = 0x1002,
    MvInt32 = 0x1003,
    MvFloat = 0x1004,
    MvDouble = 0x1005,
    MvCurrency = 0x1006,
    MvAppTime = 0x1007,
    MvInt64 = 0x1014,
    MvString8 = 0x101E,
    MvUnicode = 0x101F,
    MvSysTime = 0x1040,
    MvGuid = 0x1048,
    MvBinary = 0x1102,
};

inline constexpr std::uint16_t kMultiValuedFlag = 0x1000;

constexpr std::uint32_t TypeValue(PropType type) { return static_cast<std::uint16_t>(type); }
constexpr bool IsMultiValued(PropType type) { return (TypeValue(type) & kMultiValuedFlag) != 0; }

// Ids (wPropId) of the properties more than one layer reads or writes.
namespace prop {
inline constexpr std::uint16_t kMessageFlags = 0x0E07;
inline constexpr std::uint16_t kMessageSize = 0x0E08;
inline constexpr std::uint16_t kAttachSize = 0x0E20;
inline constexpr std::uint16_t kDisplayName = 0x3001;
inline constexpr std::uint16_t kContentCount = 0x3602;
inline constexpr std::uint16_t kContentUnreadCount = 0x3603;
inline constexpr std::uint16_t kSubfolders = 0x360A;
inline constexpr std::uint16_t kInternetCodepage = 0x3FDE;
inline constexpr std::uint16_t kMessageCodepage = 0x3FFD;
// The table row's id and version that every table context row carries.
inline constexpr std::uint16_t kLtpRowId = 0x67F2;
inline constexpr std::uint16_t kLtpRowVer = 0x67F3;
}  // namespace prop

using Guid = std::array<std::uint8_t, 16>;

namespace detail {
constexpr int GuidHexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace detail

// A GUID from its text form "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", stored
// as Windows does: Data1, Data2 and Data3 little-endian. Text that is not a
// GUID gives all zeros (at compile time the property sets below are checked).
constexpr Guid ParseGuid(std::string_view text) {
    Guid raw{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '-' || text[i] == '{' || text[i] == '}') continue;
        const int hi = detail::GuidHexDigit(text[i]);
        const int lo = i + 1 < text.size() ? detail::GuidHexDigit(text[i + 1]) : -1;
        if (hi < 0 || lo < 0 || n >= raw.size()) return Guid{};
        raw[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
        ++i;
    }
    if (n != raw.size()) return Guid{};
    return Guid{raw[3], raw[2], raw[1], raw[0], raw[5], raw[4], raw[7], raw[6],
                raw[8], raw[9], raw[10], raw[11], raw[12], raw[13], raw[14], raw[15]};
}

// Property sets of named properties.
namespace propsets {
inline constexpr Guid kMapi = ParseGuid("00020328-0000-0000-C000-000000000046");
inline constexpr Guid kPublicStrings = ParseGuid("00020329-0000-0000-C000-000000000046");
inline constexpr Guid kAppointment = ParseGuid("00062002-0000-0000-C000-000000000046");
inline constexpr Guid kTask = ParseGuid("00062003-0000-0000-C000-000000000046");
inline constexpr Guid kAddress = ParseGuid("00062004-0000-0000-C000-000000000046");
inline constexpr Guid kCommon = ParseGuid("00062008-0000-0000-C000-000000000046");
inline constexpr Guid kInternetHeaders = ParseGuid("00020386-0000-0000-C000-000000000046");
static_assert(kMapi[0] == 0x28 && kMapi[2] == 0x02 && kMapi[8] == 0xC0 && kMapi[15] == 0x46);
}  // namespace propsets

// FILETIME: 100-nanosecond intervals since 1601-01-01 UTC.
using FileTime = std::int64_t;
inline constexpr std::int64_t kFileTimeUnixEpochSeconds = 11644473600LL;  // 1601 to 1970
inline constexpr std::int64_t kFileTimeTicksPerSecond = 10000000LL;
// FILETIME of a Unix time in seconds.
constexpr FileTime FileTimeFromUnix(std::int64_t seconds) {
    return (seconds + kFileTimeUnixEpochSeconds) * kFileTimeTicksPerSecond;
}
// Unix seconds of a FILETIME, rounded down to the second.
constexpr std::int64_t UnixFromFileTime(std::uint64_t filetime) {
    return static_cast<std::int64_t>(filetime / static_cast<std::uint64_t>(kFileTimeTicksPerSecond)) -
           kFileTimeUnixEpochSeconds;
}

}  // namespace bm
