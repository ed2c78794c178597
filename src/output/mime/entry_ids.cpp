#include "output/mime/entry_ids.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "common/byte_reader.h"
#include "output/mime/message_fields.h"

namespace bm::mime {
namespace {

constexpr std::array<std::uint8_t, 16> kOneOffProvider = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                                          0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
constexpr std::array<std::uint8_t, 16> kWrappedProvider = {0xC0, 0x91, 0xAD, 0xD3, 0x51, 0x9D, 0xCF, 0x11,
                                                           0xA4, 0xA9, 0x00, 0xAA, 0x00, 0x47, 0xFA, 0xA4};
constexpr std::uint16_t kUnicodeStrings = 0x8000;

bool ReadProvider(ByteReader& r, const std::array<std::uint8_t, 16>& expected) {
    r.skip(4);
    const auto provider = r.readBytes(16);
    return r.ok() && std::equal(provider.begin(), provider.end(), expected.begin());
}

// The next string and its NUL; nullopt when the bytes end first.
std::optional<std::string> ReadString(ByteReader& r, bool unicode, std::uint32_t codePage) {
    const std::size_t start = r.position();
    const std::size_t width = unicode ? 2 : 1;
    bool ended = false;
    while (!ended && r.canRead(width)) ended = r.readUint(width) == 0;
    if (!ended) return std::nullopt;
    const auto bytes = r.data().subspan(start, r.position() - start - width);
    if (unicode) return Utf16ToUtf8(bytes);
    return ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                  CharsetOfCodePage(codePage));
}

}  // namespace

bool EntryAddress::isSmtp() const {
    return (type.empty() || type == "SMTP" || type == "smtp") && address.find('@') != std::string::npos;
}

std::optional<EntryAddress> ReadOneOffEntryId(std::span<const std::uint8_t> entryId, std::uint32_t codePage) {
    ByteReader r(entryId);
    if (!ReadProvider(r, kOneOffProvider)) return std::nullopt;
    r.skip(2);
    const bool unicode = (r.readU16() & kUnicodeStrings) != 0;
    if (!r.ok()) return std::nullopt;
    auto name = ReadString(r, unicode, codePage);
    auto type = ReadString(r, unicode, codePage);
    auto address = ReadString(r, unicode, codePage);
    if (!name || !type || !address) return std::nullopt;
    return EntryAddress{std::move(*name), std::move(*type), std::move(*address)};
}

std::optional<EntryAddress> ReadMemberEntryId(std::span<const std::uint8_t> entryId, std::uint32_t codePage) {
    if (auto direct = ReadOneOffEntryId(entryId, codePage)) return direct;
    ByteReader r(entryId);
    if (!ReadProvider(r, kWrappedProvider)) return std::nullopt;
    const std::uint8_t type = r.readU8();
    if (!r.ok() || (type & 0x0F) != 0) return std::nullopt;
    return ReadOneOffEntryId(entryId.subspan(r.position()), codePage);
}

std::vector<std::vector<std::uint8_t>> ReadFlatEntryList(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    const std::uint32_t count = r.readU32();
    r.skip(4);  // the entries' total size
    std::vector<std::vector<std::uint8_t>> entries;
    for (std::uint32_t i = 0; i < count && r.ok(); ++i) {
        const std::uint32_t size = r.readU32();
        const auto entry = r.readBytes(size);
        if (!r.ok()) return {};
        entries.emplace_back(entry.begin(), entry.end());
        if (i + 1 < count) r.skip((4 - size % 4) % 4);
    }
    return r.ok() ? entries : std::vector<std::vector<std::uint8_t>>{};
}

}  // namespace bm::mime
