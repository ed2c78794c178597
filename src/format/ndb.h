// The words of a store's node database that every layout shares: the
// header's magic and markers, node types, the page types a trailer names,
// and how an
// internal block (XBLOCK, XXBLOCK, SLBLOCK, SIBLOCK) is known by its BID
// and its first byte. The reader, the writer and the checker all speak of
// these; what differs between layouts (sizes, offsets) is in the layout
// descriptions (store/layout.h) and the writer's own Unicode constants.
#pragma once

#include <cstdint>

namespace bm {

inline constexpr std::uint32_t kHeaderMagic = 0x4E444221;  // "!BDN"
inline constexpr std::uint16_t kMagicClientPst = 0x4D53;   // "SM"
inline constexpr std::uint16_t kMagicClientOst = 0x4F53;   // "SO"
inline constexpr std::uint8_t kSentinel = 0x80;            // bSentinel

enum class PageType : std::uint8_t {
    BlockBTree = 0x80,
    NodeBTree = 0x81,
    FreeMap = 0x82,
    PageMap = 0x83,
    AllocationMap = 0x84,
    FreePageMap = 0x85,
    DensityList = 0x86,
};

// The 5-bit type carried in the low bits of every NID; the upper 27 bits
// are its index.
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
    // Subnodes the mail client keeps beside some messages of its own.
    ClientSide = 0x16,
    Ltp = 0x1F,
};
inline constexpr std::uint32_t kNidTypeMask = 0x1F;

constexpr std::uint32_t NidTypeValue(NidType type) { return static_cast<std::uint32_t>(type); }
constexpr std::uint32_t MakeNid(NidType type, std::uint32_t index) { return (index << 5) | NidTypeValue(type); }
constexpr NidType TypeOfNid(std::uint32_t nid) { return static_cast<NidType>(nid & kNidTypeMask); }
constexpr std::uint32_t IndexOfNid(std::uint32_t nid) { return nid >> 5; }

// Internal blocks carry bit 1 of their BID.
constexpr bool IsInternalBid(std::uint64_t bid) { return (bid & 0x2) != 0; }

// The first byte of an internal block.
inline constexpr std::uint8_t kBlockTypeData = 0x01;     // XBLOCK, XXBLOCK
inline constexpr std::uint8_t kBlockTypeSubnode = 0x02;  // SLBLOCK, SIBLOCK

}  // namespace bm
