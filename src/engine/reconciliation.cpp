#include "engine/reconciliation.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fmt/format.h>

#include "common/utf.h"
#include "engine/activity_log.h"
#include "store/nid_types.h"
#include "store/tables.h"

namespace bm {

std::string_view LossReasonName(LossReason reason) {
    switch (reason) {
    case LossReason::MissingBlock: return "missingBlock";
    case LossReason::UnreadableNode: return "unreadableNode";
    case LossReason::UnreadableFolder: return "unreadableFolder";
    case LossReason::WriteFailed: return "writeFailed";
    case LossReason::NotWritten: return "notWritten";
    case LossReason::OutputUnusable: return "outputUnusable";
    }
    return "unreadableNode";
}

std::string_view LossReasonText(LossReason reason) {
    switch (reason) {
    case LossReason::MissingBlock: return "missing block";
    case LossReason::UnreadableNode: return "unreadable node";
    case LossReason::UnreadableFolder: return "its folder cannot be read";
    case LossReason::WriteFailed: return "could not be written";
    case LossReason::NotWritten: return "not written";
    case LossReason::OutputUnusable: return "its part of the new store is unusable";
    }
    return "unreadable node";
}

bool IsCountedItemNid(std::uint32_t nid) {
    const std::uint32_t type = NidTypeOf(nid);
    return type == kNidTypeNormalMessage || type == kNidTypeAssociatedMessage;
}

FolderTally& Reconciliation::Tally(const std::string& folder) {
    const auto [it, added] = index_.try_emplace(folder, folders_.size());
    if (added) folders_.push_back(FolderTally{folder});
    return folders_[it->second];
}

void Reconciliation::Found(const std::string& folder, std::uint32_t nid) {
    FolderTally& t = Tally(folder);
    ++(byScan_ ? t.foundByScan : t.foundByIndex);
    if (IsAssociatedMessageNid(nid)) ++t.associated;
}

void Reconciliation::FoundUnlisted(UnlistedItem item) {
    FolderTally& t = Tally(item.folder);
    ++t.foundByIndex;
    if (IsAssociatedMessageNid(item.nid)) ++t.associated;
    unlisted_.push_back(std::move(item));
}

void Reconciliation::Read(const std::string& folder) { ++Tally(folder).read; }

void Reconciliation::Saved(const std::string& folder) { ++Tally(folder).saved; }

void Reconciliation::Lost(LostItem item) {
    ++Tally(item.folder).lost;
    lost_.push_back(std::move(item));
}

void Reconciliation::Duplicate(DuplicateItem item) {
    ++Tally(item.folder).duplicates;
    duplicates_.push_back(std::move(item));
}

void Reconciliation::Damaged(DamagedItem item) {
    ++Tally(item.folder).damaged;
    damaged_.push_back(std::move(item));
}

DamagedItem* Reconciliation::FindDamaged(std::uint32_t nid) {
    for (DamagedItem& item : damaged_) {
        if (item.nid == nid) return &item;
    }
    return nullptr;
}

void Reconciliation::Unsaved(LostItem item) {
    FolderTally& t = Tally(item.folder);
    if (t.saved > 0) --t.saved;
    Lost(std::move(item));
}

void Reconciliation::NotReached(const std::string& folder, std::int64_t items) {
    if (items > 0) Tally(folder).notReached += items;
}

void Reconciliation::LostWithFolder(const NodeForest& forest, const NodeEntry& folder, const std::string& path) {
    // Iterative pre-order over the folder's subtree; the forest can be deep.
    std::vector<const NodeEntry*> pending;
    for (const NodeEntry* child = forest.OldestChild(folder); child != nullptr; child = forest.NewerSibling(*child))
        pending.push_back(child);
    while (!pending.empty()) {
        const NodeEntry* node = pending.back();
        pending.pop_back();
        if (IsCountedItemNid(node->nid)) {
            Found(path, node->nid);
            Lost(LostItem{node->nid, path, {}, LossReason::UnreadableFolder, fmt::format("folder 0x{:x}", folder.nid)});
        }
        for (const NodeEntry* child = forest.OldestChild(*node); child != nullptr; child = forest.NewerSibling(*child))
            pending.push_back(child);
    }
}

void Reconciliation::Unreadable(const NodeForest& forest, const NodeEntry& node, bool noDataBlock, const std::string& currentPath) {
    if (IsFolderNid(node.nid)) {
        LostWithFolder(forest, node, currentPath + fmt::format("<unreadable folder 0x{:x}>\\", node.nid));
        return;
    }
    if (!IsCountedItemNid(node.nid)) return;
    Found(currentPath, node.nid);
    Lost(LostItem{node.nid, currentPath, {}, noDataBlock ? LossReason::MissingBlock : LossReason::UnreadableNode, {}});
}

FolderTally Reconciliation::totals() const {
    FolderTally all;
    for (const FolderTally& t : folders_) {
        all.foundByIndex += t.foundByIndex;
        all.foundByScan += t.foundByScan;
        all.read += t.read;
        all.saved += t.saved;
        all.lost += t.lost;
        all.associated += t.associated;
        all.damaged += t.damaged;
        all.notReached += t.notReached;
        all.leftOut += t.leftOut;
        all.duplicates += t.duplicates;
    }
    return all;
}

std::string FormatReconciliationTotals(const Reconciliation& account, bool saving) {
    const FolderTally t = account.totals();
    std::string text = fmt::format("Items found: {} (index {}, deep scan {}), read {}", t.found(), t.foundByIndex,
                                   t.foundByScan, t.read);
    if (saving) text += fmt::format(", saved {}", t.saved);
    text += fmt::format(", not recovered {}", t.lost);
    if (t.damaged > 0) text += fmt::format(", saved damaged {}", t.damaged);
    if (t.leftOut > 0) text += fmt::format(", left out by the filter {}", t.leftOut);
    if (t.duplicates > 0) text += fmt::format(", duplicates left out {}", t.duplicates);
    if (t.notReached > 0) {
        const auto folders = std::count_if(account.folders().begin(), account.folders().end(),
                                           [](const FolderTally& f) { return f.notReached > 0; });
        text += fmt::format("; not reached {} (in {} folder{})", t.notReached, folders, folders == 1 ? "" : "s");
    }
    return text;
}

std::size_t Reconciliation::unnamedValueCount() const {
    std::size_t n = 0;
    for (const UnnamedValuesItem& item : unnamed_) n += item.propertyIds.size();
    return n;
}

std::string FormatUnlistedItem(const UnlistedItem& item) {
    return fmt::format("0x{:x}  {}  {}", item.nid, item.folder, item.subject.empty() ? "-" : item.subject);
}

std::string FormatDuplicateItem(const DuplicateItem& item) {
    return fmt::format("0x{:x}  {}  {}  (a copy of 0x{:x})", item.nid, item.folder,
                       item.subject.empty() ? "-" : item.subject, item.duplicateOf);
}

std::string FormatUnnamedValuesItem(const UnnamedValuesItem& item) {
    std::string ids;
    for (const std::uint16_t id : item.propertyIds) ids += fmt::format(" 0x{:04x}", id);
    return fmt::format("0x{:x}  {}  {}  ({} {} without a name:{})", item.nid, item.folder,
                       item.subject.empty() ? "-" : item.subject, item.propertyIds.size(),
                       item.propertyIds.size() == 1 ? "value" : "values", ids);
}

std::string FormatDeletedAccount(const DeletedAccount& d) {
    return fmt::format(
        "Deleted items: {} from index pages no longer in use, {} from slots past a leaf's count, {} from free "
        "space; {} incomplete, {} older versions left out as equal to a newer one, {} no longer readable",
        d.fromStalePages, d.fromStaleSlots, d.fromFreeSpace, d.incomplete.size(), d.versionsMerged, d.unreadable);
}

std::string FormatIncompleteItem(const IncompleteItem& item) {
    return fmt::format("0x{:x}  {}  {}  (lost: {})", item.nid, item.folder, item.subject.empty() ? "-" : item.subject,
                       item.missing);
}

void LogReconciliation(const ActivityLog& log, const Reconciliation& account, bool saving) {
    log.Append(FormatReconciliationTotals(account, saving));
    if (const auto& d = account.deleted()) {
        log.Append(FormatDeletedAccount(*d));
        for (const IncompleteItem& item : d->incomplete) log.Append("Incomplete: " + FormatIncompleteItem(item));
    }
    const std::vector<LostItem>& lost = account.lost();
    for (std::size_t i = 0; i < lost.size() && i < kLoggedLostItems; ++i) log.Append("Not recovered: " + FormatLostItem(lost[i]));
    const std::vector<DamagedItem>& damaged = account.damaged();
    for (std::size_t i = 0; i < damaged.size() && i < kLoggedLostItems; ++i)
        log.Append("Damaged: " + FormatDamagedItem(damaged[i]));
    if (damaged.size() > kLoggedLostItems)
        log.Append(fmt::format("... and {} more items saved damaged (see the report)", damaged.size() - kLoggedLostItems));
    if (lost.size() > kLoggedLostItems)
        log.Append(fmt::format("... and {} more items not recovered (see the report)", lost.size() - kLoggedLostItems));
    if (!account.unlisted().empty())
        log.Append(fmt::format("Items their folder's contents table does not list: {} (kept in {})",
                               account.unlisted().size(), "Recovered Items\\Deleted"));
    for (std::size_t i = 0; i < account.unlisted().size() && i < kLoggedLostItems; ++i)
        log.Append("Not listed by its folder: " + FormatUnlistedItem(account.unlisted()[i]));
    const std::vector<UnnamedValuesItem>& unnamed = account.unnamedValues();
    for (std::size_t i = 0; i < unnamed.size() && i < kLoggedLostItems; ++i)
        log.Append("Saved without values: " + FormatUnnamedValuesItem(unnamed[i]));
}

std::string FormatLostItem(const LostItem& item) {
    std::string line = fmt::format("0x{:x}  {}  {}  ({}", item.nid, item.folder,
                                   item.subject.empty() ? "-" : item.subject, LossReasonText(item.reason));
    if (!item.detail.empty()) line += ": " + item.detail;
    return line + ")";
}

std::string FormatDamagedItem(const DamagedItem& item) {
    std::string what;
    for (const std::string& line : item.damage) what += (what.empty() ? "" : "; ") + line;
    std::string line = fmt::format("0x{:x}  {}  {}  (damaged: {}", item.nid, item.folder,
                                   item.subject.empty() ? "-" : item.subject, what);
    if (!item.wholeCopyFolder.empty()) line += "; an earlier whole copy saved in " + item.wholeCopyFolder;
    return line + ")";
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        // Length of a well-formed UTF-8 sequence starting here, 0 if none.
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n > 1) {
            if (i + n > text.size()) n = 0;
            for (std::size_t k = 1; n != 0 && k < n; ++k)
                if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) n = 0;
            if (n == 2 && c < 0xC2) n = 0;  // overlong
        }
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (n == 1) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F)
                    out += fmt::format("\\u{:04x}", c);
                else
                    out += static_cast<char>(c);
            }
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out + "\"";
}

namespace {

// `text` += head, line and a line break, piece by piece: a literal added to
// a string makes the optimiser warn of overlapping copies that cannot happen.
void AppendLine(std::string& text, std::string_view head, std::string_view line) {
    text += head;
    text += line;
    text += '\n';
}

}  // namespace

std::string FormatReportText(const ReportHeader& header, const Reconciliation& account) {
    // An export accounts for what it wrote as a save does.
    const bool exported = header.run == "export";
    const bool saving = header.run == "saving" || exported;
    std::string text = fmt::format("Brightmend {} report\nSource: {}\n", header.run, header.source);
    for (const std::filesystem::path& p : header.outputStores)
        AppendLine(text, exported ? "Export folder: " : "Output store: ", p.string());
    if (!header.filter.empty()) AppendLine(text, "Filter: ", header.filter);
    if (!header.resumed.empty()) AppendLine(text, "Resumed: ", header.resumed);
    text += fmt::format("Outcome: {}\n", header.outcome);
    if (!header.message.empty()) AppendLine(text, {}, header.message);
    text += '\n';
    text += FormatReconciliationTotals(account, saving);
    text += "\n\nFolders:\n";
    for (const FolderTally& t : account.folders()) {
        // Names from the store are escaped as on the terminal; the JSON report keeps them exact.
        text += fmt::format("  {}  found {} (index {}, deep scan {}), read {}", EscapeForTerminal(t.path), t.found(),
                            t.foundByIndex, t.foundByScan, t.read);
        if (saving) text += fmt::format(", saved {}", t.saved);
        text += fmt::format(", not recovered {}", t.lost);
        if (t.damaged > 0) text += fmt::format(", saved damaged {}", t.damaged);
        if (t.leftOut > 0) text += fmt::format(", left out by the filter {}", t.leftOut);
        if (t.duplicates > 0) text += fmt::format(", duplicates left out {}", t.duplicates);
        if (t.notReached > 0) text += fmt::format(", not reached {}", t.notReached);
        if (t.recordLost) text += ", the folder's own record lost";
        text += "\n";
    }
    if (const std::int64_t notReached = account.totals().notReached; notReached > 0) {
        text += fmt::format("\nItems not reached (the run ended before them): {}\n", notReached);
        for (const FolderTally& t : account.folders())
            if (t.notReached > 0) text += fmt::format("  {}  {}\n", EscapeForTerminal(t.path), t.notReached);
    }
    text += fmt::format("\nItems not recovered: {}\n", account.lost().size());
    for (const LostItem& item : account.lost()) AppendLine(text, "  ", EscapeForTerminal(FormatLostItem(item)));
    if (saving) {
        text += fmt::format("\nItems saved damaged: {}\n", account.damaged().size());
        for (const DamagedItem& item : account.damaged())
            AppendLine(text, "  ", EscapeForTerminal(FormatDamagedItem(item)));
    }
    if (!account.duplicates().empty()) {
        text += fmt::format("\nDuplicates left out: {}\n", account.duplicates().size());
        for (const DuplicateItem& item : account.duplicates())
            AppendLine(text, "  ", EscapeForTerminal(FormatDuplicateItem(item)));
    }
    if (!account.unlisted().empty()) {
        text += fmt::format("\nItems their folder's contents table does not list (kept in {}): {}\n",
                            "Recovered Items\\Deleted", account.unlisted().size());
        for (const UnlistedItem& item : account.unlisted())
            AppendLine(text, "  ", EscapeForTerminal(FormatUnlistedItem(item)));
    }
    if (!account.unnamedValues().empty()) {
        text += fmt::format("\nValues without a name, not saved: {} in {} items\n", account.unnamedValueCount(),
                            account.unnamedValues().size());
        for (const UnnamedValuesItem& item : account.unnamedValues())
            AppendLine(text, "  ", EscapeForTerminal(FormatUnnamedValuesItem(item)));
    }
    if (const auto& d = account.deleted()) {
        AppendLine(text, "\n", FormatDeletedAccount(*d));
        for (const IncompleteItem& item : d->incomplete)
            AppendLine(text, "  ", EscapeForTerminal(FormatIncompleteItem(item)));
    }
    return text;
}

std::string FormatReportJson(const ReportHeader& header, const Reconciliation& account) {
    std::string out = "{\"schema\":\"brightmend.report/2\",\"run\":" + JsonString(header.run) +
                      ",\"source\":" + JsonString(header.source) + ",\"outputStores\":[";
    for (std::size_t i = 0; i < header.outputStores.size(); ++i) {
        if (i > 0) out += ',';
        out += JsonString(header.outputStores[i].string());
    }
    out += "],\"outcome\":" + JsonString(header.outcome) + ",\"message\":" + JsonString(header.message);
    out += ",\"filter\":";
    out += header.filter.empty() ? std::string("null") : JsonString(header.filter);
    if (!header.resumed.empty()) out += ",\"resumed\":" + JsonString(header.resumed);
    out += ",\"reconciliation\":" + ReconciliationJson(account);
    return out + "}";
}

std::string ReconciliationJson(const Reconciliation& account) {
    const auto tally = [](const FolderTally& t) {
        return fmt::format("\"foundByIndex\":{},\"foundByScan\":{},\"read\":{},\"saved\":{},\"notRecovered\":{},"
                           "\"associatedCount\":{},\"damaged\":{},\"notReached\":{},\"leftOutByFilter\":{},"
                           "\"duplicates\":{}",
                           t.foundByIndex, t.foundByScan, t.read, t.saved, t.lost, t.associated, t.damaged,
                           t.notReached, t.leftOut, t.duplicates);
    };
    std::string out = "{\"totals\":{" + tally(account.totals()) + "},\"folders\":[";
    bool first = true;
    for (const FolderTally& t : account.folders()) {
        out += std::string(first ? "" : ",") + "{\"path\":" + JsonString(t.path) + "," + tally(t) +
               ",\"recordLost\":" + (t.recordLost ? "true" : "false") + "}";
        first = false;
    }
    out += "],\"notRecovered\":[";
    first = true;
    for (const LostItem& item : account.lost()) {
        out += std::string(first ? "" : ",") + fmt::format("{{\"nid\":{},\"folder\":", item.nid) +
               JsonString(item.folder) + ",\"subject\":" + (item.subject.empty() ? "null" : JsonString(item.subject)) +
               ",\"reason\":" + JsonString(LossReasonName(item.reason)) +
               ",\"detail\":" + (item.detail.empty() ? "null" : JsonString(item.detail)) + "}";
        first = false;
    }
    out += "],\"damaged\":[";
    first = true;
    for (const DamagedItem& item : account.damaged()) {
        out += std::string(first ? "" : ",") + fmt::format("{{\"nid\":{},\"folder\":", item.nid) +
               JsonString(item.folder) + ",\"subject\":" + (item.subject.empty() ? "null" : JsonString(item.subject)) +
               ",\"damage\":[";
        for (std::size_t i = 0; i < item.damage.size(); ++i) {
            // Piece by piece: a literal before a string makes the optimiser
            // warn of overlapping copies that cannot happen.
            if (i > 0) out += ',';
            out += JsonString(item.damage[i]);
        }
        out += "],\"wholeCopyFolder\":" + (item.wholeCopyFolder.empty() ? "null" : JsonString(item.wholeCopyFolder)) +
               "}";
        first = false;
    }
    out += "]";
    if (!account.duplicates().empty()) {
        out += ",\"duplicates\":[";
        first = true;
        for (const DuplicateItem& item : account.duplicates()) {
            out += std::string(first ? "" : ",") + fmt::format("{{\"nid\":{},\"folder\":", item.nid) +
                   JsonString(item.folder) + ",\"subject\":" +
                   (item.subject.empty() ? "null" : JsonString(item.subject)) +
                   fmt::format(",\"duplicateOf\":{}}}", item.duplicateOf);
            first = false;
        }
        out += "]";
    }
    if (!account.unlisted().empty()) {
        out += fmt::format(",\"unlisted\":{{\"count\":{},\"items\":[", account.unlisted().size());
        first = true;
        for (const UnlistedItem& item : account.unlisted()) {
            out += std::string(first ? "" : ",") + fmt::format("{{\"nid\":{},\"folder\":", item.nid) +
                   JsonString(item.folder) + ",\"subject\":" +
                   (item.subject.empty() ? "null" : JsonString(item.subject)) + "}";
            first = false;
        }
        out += "]}";
    }
    if (!account.unnamedValues().empty()) {
        out += fmt::format(",\"unnamedValues\":{{\"count\":{},\"items\":[", account.unnamedValueCount());
        first = true;
        for (const UnnamedValuesItem& item : account.unnamedValues()) {
            out += std::string(first ? "" : ",") + fmt::format("{{\"nid\":{},\"folder\":", item.nid) +
                   JsonString(item.folder) + ",\"subject\":" +
                   (item.subject.empty() ? "null" : JsonString(item.subject)) + ",\"propertyIds\":[";
            for (std::size_t i = 0; i < item.propertyIds.size(); ++i)
                out += fmt::format("{}{}", i > 0 ? "," : "", item.propertyIds[i]);
            out += "]}";
            first = false;
        }
        out += "]}";
    }
    if (const auto& d = account.deleted()) {
        out += fmt::format(",\"deleted\":{{\"fromStalePages\":{},\"fromStaleSlots\":{},\"fromFreeSpace\":{},"
                           "\"versionsMerged\":{},\"unreadable\":{},\"incomplete\":[",
                           d->fromStalePages, d->fromStaleSlots, d->fromFreeSpace, d->versionsMerged, d->unreadable);
        for (std::size_t i = 0; i < d->incomplete.size(); ++i) {
            const IncompleteItem& item = d->incomplete[i];
            out += std::string(i > 0 ? "," : "") + fmt::format("{{\"nid\":{},\"folder\":", item.nid) +
                   JsonString(item.folder) + ",\"subject\":" +
                   (item.subject.empty() ? "null" : JsonString(item.subject)) + ",\"missing\":" +
                   JsonString(item.missing) + "}";
        }
        out += "]}";
    }
    return out + "}";
}

std::optional<ReportFiles> WriteReportFiles(const std::filesystem::path& outputStore, const ReportHeader& header,
                                            const Reconciliation& account) {
    const std::filesystem::path dir = outputStore.parent_path();
    const std::string stem = outputStore.stem().string();
    // Like the store itself, a report never replaces a file: the first pair
    // of names that are both free is taken, each file created exclusively.
    const auto create = [](const std::filesystem::path& path, const std::string& content) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) return errno == EEXIST ? 0 : -1;
        std::size_t done = 0;
        while (done < content.size()) {
            const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        const bool ok = ::close(fd) == 0 && done == content.size();
        // A report cut short (a full disk) would say less than the run did.
        if (!ok) ::unlink(path.c_str());
        return ok ? 1 : -1;
    };
    const std::string text = FormatReportText(header, account);
    const std::string json = FormatReportJson(header, account) + "\n";
    for (int n = 1; n < 1000; ++n) {
        const std::string suffix = n == 1 ? " report" : " report (" + std::to_string(n) + ")";
        ReportFiles files{dir / (stem + suffix + ".txt"), dir / (stem + suffix + ".json")};
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(files.json, ec))) continue;
        const int wroteText = create(files.text, text);
        if (wroteText == 0) continue;
        if (wroteText < 0) return std::nullopt;
        const int wroteJson = create(files.json, json);
        if (wroteJson > 0) return files;
        std::filesystem::remove(files.text, ec);
        if (wroteJson < 0) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace bm
