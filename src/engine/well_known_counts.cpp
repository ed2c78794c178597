#include "engine/well_known_counts.h"

#include <utility>

#include <fmt/format.h>

namespace bm {

namespace {

using C = WellKnownCategory;

constexpr std::array<std::string_view, kWellKnownCategoryCount> kLabels{
    "Inbox    ",   "Outbox    ", "Drafts    ",       "Sent Items    ", "Deleted Items    ", "Tasks    ",
    "Contacts Items    ", "Junk E-mails    ", "Notes    ", "Journal    ",    "Calendar    ",      "Sync Issues    ",
};

constexpr std::array<WellKnownCategory, kWellKnownCategoryCount> kSummaryOrder{
    C::DeletedItems, C::Inbox, C::Outbox,   C::Journal,   C::Tasks,     C::Drafts,
    C::Contacts,     C::Notes, C::Calendar, C::JunkEmail, C::SentItems, C::SyncIssues,
};

constexpr std::array<std::pair<std::string_view, WellKnownCategory>, 7> kMailPrefixes{{
    {"Personal Folders\\Inbox", C::Inbox},
    {"Personal Folders\\Drafts", C::Drafts},
    {"Personal Folders\\Outbox", C::Outbox},
    {"Personal Folders\\Sent Items", C::SentItems},
    {"Personal Folders\\Sync Issues", C::SyncIssues},
    {"Personal Folders\\Deleted Items", C::DeletedItems},
    {"Personal Folders\\Junk E-mail", C::JunkEmail},
}};

}  // namespace

std::string_view CategoryLogLabel(WellKnownCategory category) { return kLabels[static_cast<std::size_t>(category)]; }

bool CategoryShownDuringWalk(WellKnownCategory category) {
    return category != C::JunkEmail && category != C::Tasks && category != C::Notes;
}

const std::array<WellKnownCategory, kWellKnownCategoryCount>& SummaryOrder() { return kSummaryOrder; }

std::optional<WellKnownCategory> MailFolderCategory(std::string_view folderPath) {
    for (const auto& [prefix, category] : kMailPrefixes)
        if (folderPath.starts_with(prefix)) return category;
    return std::nullopt;
}

std::string FormatSummary(const WellKnownCounts& counts) {
    std::string out;
    for (const WellKnownCategory c : kSummaryOrder) fmt::format_to(std::back_inserter(out), "{}{}\r\n", CategoryLogLabel(c), counts[c]);
    return out;
}

}  // namespace bm
