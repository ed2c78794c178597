// Which items of the selected folders a save or an export keeps: a time
// range, senders and message classes. An item the filter leaves out is
// counted apart in the account ("left out by the filter"), never as lost.
//
// The time of an item is its delivery time, else its submit time, else its
// creation time; an item with none of them is kept (nothing says it is out
// of the range). Senders match as case-insensitive substrings of the
// sender's address, name or the "From:" line of the transport headers (a
// domain "example.com" or "@example.com" works the same way); message
// classes as case-insensitive prefixes ("IPM.Note" keeps "IPM.Note.SMIME").
// Within one kind of test any entry matches; all kinds given must match.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/item_record.h"

namespace bm {

struct ItemFilter {
    std::optional<std::uint64_t> since;  // FILETIME; the item's time is at or after it
    std::optional<std::uint64_t> until;  // FILETIME; the item's time is before it
    std::vector<std::string> senders;
    std::vector<std::string> classPrefixes;
    bool empty() const { return !since && !until && senders.empty() && classPrefixes.empty(); }
};

// The FILETIME of "YYYY-MM-DD" (midnight UTC) or "YYYY-MM-DDTHH:MM[:SS]"
// (UTC, a final "Z" allowed); with `dayAfter` a bare date stands for the
// midnight that ends it, so that an "until" date keeps its own day.
// nullopt when the text is no such date.
std::optional<std::uint64_t> ParseFilterDate(std::string_view text, bool dayAfter);

// The item's time as the filter sees it; nullopt when it has none.
std::optional<std::uint64_t> FilterTimeOf(const ItemRecord& item);
// The year (UTC) of that time: the part a save by year puts the item in.
std::optional<int> FilterYearOf(const ItemRecord& item);

// Whether the filter keeps the item (an empty filter keeps every item).
bool FilterKeeps(const ItemFilter& filter, const ItemRecord& item);

// "since 2020-01-01, until 2021-01-01, from example.com, class IPM.Note";
// empty for an empty filter. Dates are shown as the FILETIMEs they stand
// for (UTC).
std::string DescribeFilter(const ItemFilter& filter);

}  // namespace bm
