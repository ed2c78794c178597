// Identifiers and fixed sizes of the node database (NDB) layer of a Unicode
// Personal Folders store as the writer and its upper layers use them. The
// node types and the internal-block test are the format's (format/ndb.h);
// the sizes are the writer's own, which the store checker does not share,
// so that it catches a wrong one.
//
// A NID is 32 bits: the low 5 bits are its type, the upper 27 bits its
// index. A BID is 64 bits: bit 0 is reserved, bit 1 marks an internal block
// (XBLOCK, XXBLOCK, SLBLOCK, SIBLOCK), and block BIDs advance by 4; page BIDs
// come from a separate counter.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/ndb.h"

namespace bm::pst {

using Nid = std::uint32_t;
using Bid = std::uint64_t;

using ::bm::IndexOfNid;
using ::bm::MakeNid;
using ::bm::NidType;
using ::bm::TypeOfNid;
using ::bm::IsInternalBid;

// Sizes of the Unicode layout.
inline constexpr std::size_t kPageSize = 512;
inline constexpr std::size_t kPageTrailerSize = 16;
inline constexpr std::size_t kBlockTrailerSize = 16;
inline constexpr std::size_t kBlockAlign = 64;
inline constexpr std::size_t kMaxBlockSize = 8192;
inline constexpr std::size_t kMaxBlockData = kMaxBlockSize - kBlockTrailerSize;  // 8176

}  // namespace bm::pst
