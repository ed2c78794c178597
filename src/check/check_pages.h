// What the store checker's walks share about pages: the trailer every page
// carries (ptype twice, signature, CRC, bid), and the record of which bytes
// the pages and blocks take, which the allocation maps are compared with.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "check/check_report.h"
#include "format/ndb.h"
#include "store/layout.h"

namespace bm {

// How a page's trailer is held to account.
struct PageExpectation {
    PageType type;
    std::uint64_t bid;     // the bid the trailer must name
    bool signedPage;       // wSig is the signature of (offset, bid); else 0
    const char* name;      // "block B-tree", "AMap", ...
    FindingKind kind;      // what its findings count as
    FindingSeverity crcSeverity = FindingSeverity::Error;
};

// Adds a finding per fault of the trailer of the page at `ib`; false when
// the page is not sound (its entries then are not to be read).
bool CheckPageTrailer(const StoreLayout& layout, std::span<const std::uint8_t> page, std::uint64_t ib,
                      const PageExpectation& expected, CheckReport& report);

// Space in use, one bit per allocation unit from the first map on.
class UsedSpace {
public:
    UsedSpace() = default;
    UsedSpace(const StoreLayout& layout, std::uint64_t end);
    // False when some unit was already taken.
    bool mark(std::uint64_t ib, std::uint64_t length);
    bool used(std::uint64_t ib) const { return ib >= first_ && unit(ib) < bits_.size() && bits_[unit(ib)]; }
    // Whether `ib` lies where pages and blocks may be.
    bool covers(std::uint64_t ib) const { return ib >= first_; }

private:
    std::uint64_t unit(std::uint64_t ib) const { return (ib - first_) / unit_; }
    std::uint64_t first_ = 0;
    std::uint64_t unit_ = 64;
    std::vector<bool> bits_;
};

}  // namespace bm
