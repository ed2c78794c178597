// The address entry IDs the export reads names and addresses from.
//
// A one-off entry ID: flags (4 bytes), the one-off provider's UID
// 812B1FA4-BEA3-1019-9D6E-00DD010F5402, version (2), flags (2; 0x8000:
// the strings are UTF-16LE), then the display name, address type and
// address, each ending in NUL.
// A wrapped entry ID (a distribution list's member): flags (4), the UID
// C091ADD3-519D-CF11-A4A9-00AA0047FAA4, a type byte whose low four bits
// are 0 when a one-off entry ID follows (other types name a contact of the
// store, which carries no address itself).
// A FLATENTRYLIST (the reply-to entries): count, total size, then per
// entry its size and bytes, padded to a multiple of four.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bm::mime {

struct EntryAddress {
    std::string name;
    std::string type;  // "SMTP", "EX", ...
    std::string address;
    bool isSmtp() const;
};

// `codePage` decodes 8-bit strings. nullopt when the bytes are neither kind.
std::optional<EntryAddress> ReadOneOffEntryId(std::span<const std::uint8_t> entryId, std::uint32_t codePage);
std::optional<EntryAddress> ReadMemberEntryId(std::span<const std::uint8_t> entryId, std::uint32_t codePage);

// The entries of a FLATENTRYLIST; empty when it is not well formed.
std::vector<std::vector<std::uint8_t>> ReadFlatEntryList(std::span<const std::uint8_t> bytes);

}  // namespace bm::mime
