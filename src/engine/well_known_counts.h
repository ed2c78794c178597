// The twelve per-category counters of an analysis (and of a saving run),
// their labels in the summary, and the folder-path prefixes of the mail
// categories.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bm {

// In the order the counters are kept.
enum class WellKnownCategory : int {
    Inbox,
    Outbox,
    Drafts,
    SentItems,
    DeletedItems,
    Tasks,
    Contacts,
    JunkEmail,
    Notes,
    Journal,
    Calendar,
    SyncIssues,
};
inline constexpr std::size_t kWellKnownCategoryCount = 12;

struct WellKnownCounts {
    std::array<std::int32_t, kWellKnownCategoryCount> values{};

    std::int32_t& operator[](WellKnownCategory c) { return values[static_cast<std::size_t>(c)]; }
    std::int32_t operator[](WellKnownCategory c) const { return values[static_cast<std::size_t>(c)]; }
    bool operator==(const WellKnownCounts&) const = default;
};

// The label of a category in the summary, with its four trailing blanks.
std::string_view CategoryLogLabel(WellKnownCategory category);
// Whether the analysis page shows the category's count while it walks.
bool CategoryShownDuringWalk(WellKnownCategory category);

// The twelve categories in the order of the summary lines.
const std::array<WellKnownCategory, kWellKnownCategoryCount>& SummaryOrder();

// Every folder path inside the tool starts with this.
inline constexpr std::string_view kRootFolderPath = "Personal Folders\\";

// The mail category whose path prefix `folderPath` begins with, tested in
// the order Inbox, Drafts, Outbox, Sent Items, Sync Issues, Deleted Items,
// Junk E-mail (plain, case-sensitive prefix tests).
std::optional<WellKnownCategory> MailFolderCategory(std::string_view folderPath);

// Twelve lines "label" + count + "\r\n" in the summary order.
std::string FormatSummary(const WellKnownCounts& counts);

}  // namespace bm
