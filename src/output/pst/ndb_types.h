// Identifiers and fixed sizes of the node database (NDB) layer of a Unicode
// Personal Folders store, shared by the writer, its upper layers and the
// store checker.
//
// A NID is 32 bits: the low 5 bits are its type, the upper 27 bits its
// index. A BID is 64 bits: bit 0 is reserved, bit 1 marks an internal block
// (XBLOCK, XXBLOCK, SLBLOCK, SIBLOCK), and block BIDs advance by 4; page BIDs
// come from a separate counter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bm::pst {

using Nid = std::uint32_t;
using Bid = std::uint64_t;

// The 5-bit type carried in the low bits of every NID.
enum class NidType : std::uint8_t {
    Hid = 0x00,
    Internal = 0x01,
    NormalFolder = 0x02,
    SearchFolder = 0x03,
    NormalMessage = 0x04,
    Attachment = 0x05,
    SearchUpdateQueue = 0x06,
    SearchCriteriaObject = 0x07,
    AssocMessage = 0x08,
    ContentsTableIndex = 0x0A,
    ReceiveFolderTable = 0x0B,
    OutgoingQueueTable = 0x0C,
    HierarchyTable = 0x0D,
    ContentsTable = 0x0E,
    AssocContentsTable = 0x0F,
    SearchContentsTable = 0x10,
    AttachmentTable = 0x11,
    RecipientTable = 0x12,
    SearchTableIndex = 0x13,
    Ltp = 0x1F,
};

constexpr Nid MakeNid(NidType type, std::uint32_t index) {
    return (index << 5) | static_cast<std::uint32_t>(type);
}
constexpr NidType TypeOfNid(Nid nid) { return static_cast<NidType>(nid & 0x1F); }
constexpr std::uint32_t IndexOfNid(Nid nid) { return nid >> 5; }

// Internal blocks carry bit 1 of their BID.
constexpr bool IsInternalBid(Bid bid) { return (bid & 0x2) != 0; }

// Sizes of the Unicode layout.
inline constexpr std::size_t kPageSize = 512;
inline constexpr std::size_t kPageTrailerSize = 16;
inline constexpr std::size_t kBlockTrailerSize = 16;
inline constexpr std::size_t kBlockAlign = 64;
inline constexpr std::size_t kMaxBlockSize = 8192;
inline constexpr std::size_t kMaxBlockData = kMaxBlockSize - kBlockTrailerSize;  // 8176

}  // namespace bm::pst
