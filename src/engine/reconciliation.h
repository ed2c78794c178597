// What a run found, read, saved and lost, folder by folder: the account a
// run gives of every item so nothing is lost without a word.
//
// An item is a message node (normal or associated) below the mail folder
// subtree. The walk reports each one it meets: found by the index, or by
// the deep scan when it comes from the scan's recovered folders and
// "Recovered Items"; read when its object could be read; saved when the
// writer took it; lost otherwise, with the reason and, where known, its
// subject. Items below a folder that cannot be read are lost with it.
// Associated items (a folder's views, rules and settings) are counted like
// the others, and apart as well, so that the account can say how many of a
// folder's items a mail program does not show as its contents.
//
// The report is plain text and JSON (written without a JSON library, the
// core has none); its schema is "brightmend.report/2", documented in
// docs/json.md.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace bm {

class NodeEntry;
class NodeForest;

enum class LossReason : std::uint8_t {
    MissingBlock,      // the node's data block is not in the block index
    UnreadableNode,    // the block is there but cannot be read or mapped
    UnreadableFolder,  // the item's folder cannot be read, so its items are not either
    WriteFailed,       // the writer failed on the item
    NotWritten,        // read, in a selected folder, but not written (no rule saves it)
    OutputUnusable,    // written, but into a part of the new store that failed its check (set apart or removed)
};

// "missingBlock", "unreadableNode", ... (JSON values).
std::string_view LossReasonName(LossReason reason);
// "missing block", "unreadable node", ... (text report and log).
std::string_view LossReasonText(LossReason reason);

struct LostItem {
    std::uint32_t nid = 0;
    std::string folder;
    std::string subject;  // empty when unknown
    LossReason reason = LossReason::UnreadableNode;
    std::string detail;   // what the writer said, when it failed
};

// An item that came back from outside the live index without part of it.
struct IncompleteItem {
    std::uint32_t nid = 0;
    std::string folder;
    std::string subject;  // empty when unknown
    std::string missing;  // what is gone: "recipients and attachments"
};

// An item saved with all that could be kept of it, but from blocks that
// failed their checks or parts that could not be read: its saved content
// may differ from what the store once held.
struct DamagedItem {
    std::uint32_t nid = 0;
    std::string folder;
    std::string subject;               // empty when unknown
    std::vector<std::string> damage;   // one line per damaged part: "body: 1 block failed its checksum"
    // Where an earlier copy of the item, whole, was saved as well; empty
    // when the scan found none.
    std::string wholeCopyFolder;
};

// An item saved without some of its values: named properties whose name
// the source store's name-to-ID map does not give, so that no other store
// can take them. One id per value left out (an id may repeat: recipient
// rows, attachments and embedded messages have their own values).
struct UnnamedValuesItem {
    std::uint32_t nid = 0;
    std::string folder;
    std::string subject;  // empty when unknown
    std::vector<std::uint16_t> propertyIds;
};

// An item the index holds under a folder whose contents table does not
// list it (most likely deleted, not yet purged); kept, but in
// "Recovered Items\Deleted\<folder>\", which is `folder`.
struct UnlistedItem {
    std::uint32_t nid = 0;
    std::string folder;
    std::string subject;  // empty when unknown
};

// An item not saved because one saved before into the same folder is the
// same message (see duplicate_items.h).
struct DuplicateItem {
    std::uint32_t nid = 0;
    std::string folder;
    std::string subject;  // empty when unknown
    std::uint32_t duplicateOf = 0;  // the node of the item saved
};

// What the search for deleted items found and from where, when it ran.
struct DeletedAccount {
    std::int64_t fromStalePages = 0;   // named by index pages no longer in use
    std::int64_t fromStaleSlots = 0;   // named by slots past a leaf's count
    std::int64_t fromFreeSpace = 0;    // message heaps nothing names any more
    std::int64_t versionsMerged = 0;   // older versions equal to a newer one, left out
    std::int64_t unreadable = 0;       // entries whose data no longer reads as a message
    std::vector<IncompleteItem> incomplete;
};

struct FolderTally {
    std::string path;
    std::int64_t foundByIndex = 0;
    std::int64_t foundByScan = 0;
    std::int64_t read = 0;
    std::int64_t saved = 0;
    std::int64_t lost = 0;
    std::int64_t associated = 0;  // of the found items, those of the folder's associated contents
    std::int64_t damaged = 0;     // of the saved items, those saved with damaged content
    // Items the index names in the folder that the walk never reached (it
    // was stopped, or the source changed); not among the found ones.
    std::int64_t notReached = 0;
    // Of the found items, those a filter of the run left out, and those
    // not saved as copies of one saved before: neither is lost.
    std::int64_t leftOut = 0;
    std::int64_t duplicates = 0;
    // The folder's own record was lost: it was walked under a name its
    // parent's hierarchy row, the store's well-known folder ids or its NID
    // gave it (not in the totals).
    bool recordLost = false;
    std::int64_t found() const { return foundByIndex + foundByScan; }
};

class Reconciliation {
public:
    // Items met from now on were found by the deep scan.
    void BeginScanPhase() { byScan_ = true; }
    // The item node `nid` of `folder` was found (an associated one counts
    // as associated too).
    void Found(const std::string& folder, std::uint32_t nid);
    // An unlisted item (see UnlistedItem) was found: by the index, in
    // item.folder, and listed apart.
    void FoundUnlisted(UnlistedItem item);
    const std::vector<UnlistedItem>& unlisted() const { return unlisted_; }
    void Read(const std::string& folder);
    void Saved(const std::string& folder);
    void Lost(LostItem item);
    // A saved item whose content came from damaged blocks (also counted
    // as saved).
    void Damaged(DamagedItem item);
    // A found item that the run's filter left out.
    void LeftOut(const std::string& folder) { ++Tally(folder).leftOut; }
    // A found item not saved as a copy of one saved before.
    void Duplicate(DuplicateItem item);
    const std::vector<DuplicateItem>& duplicates() const { return duplicates_; }
    // An item counted as saved that is not in a usable store after all.
    void Unsaved(LostItem item);
    // The folder at `folder` was walked with a made-up record: its own is lost.
    void FolderRecordLost(const std::string& folder) { Tally(folder).recordLost = true; }
    // `items` items of `folder` were never reached by the walk.
    void NotReached(const std::string& folder, std::int64_t items);
    // The search for deleted items ran and found this (see DeletedAccount);
    // incomplete items are added one by one as the walk meets them.
    void DeletedSearched(DeletedAccount counts) { deleted_ = std::move(counts); }
    void Incomplete(IncompleteItem item) {
        if (deleted_) deleted_->incomplete.push_back(std::move(item));
    }
    const std::optional<DeletedAccount>& deleted() const { return deleted_; }
    // A saved item lost these values (see UnnamedValuesItem); none: nothing noted.
    void UnnamedValues(UnnamedValuesItem item) {
        if (!item.propertyIds.empty()) unnamed_.push_back(std::move(item));
    }
    const std::vector<UnnamedValuesItem>& unnamedValues() const { return unnamed_; }
    // Values of all items noted by UnnamedValues.
    std::size_t unnamedValueCount() const;
    // Every item node below `folder` (not read) is lost with it.
    void LostWithFolder(const NodeForest& forest, const NodeEntry& folder, const std::string& path);
    // A node of the folder at `currentPath` that the walk could not read:
    // an item is found and lost; a folder loses every item below it.
    void Unreadable(const NodeForest& forest, const NodeEntry& node, bool noDataBlock, const std::string& currentPath);

    // Folders in the order they were first met.
    const std::vector<FolderTally>& folders() const { return folders_; }
    const std::vector<LostItem>& lost() const { return lost_; }
    const std::vector<DamagedItem>& damaged() const { return damaged_; }
    // The damaged item of node `nid`, for adding what the scan found.
    DamagedItem* FindDamaged(std::uint32_t nid);
    FolderTally totals() const;
    bool empty() const { return folders_.empty(); }

private:
    FolderTally& Tally(const std::string& folder);

    bool byScan_ = false;
    std::vector<FolderTally> folders_;
    std::unordered_map<std::string, std::size_t> index_;
    std::vector<LostItem> lost_;
    std::vector<DamagedItem> damaged_;
    std::optional<DeletedAccount> deleted_;
    std::vector<UnnamedValuesItem> unnamed_;
    std::vector<UnlistedItem> unlisted_;
    std::vector<DuplicateItem> duplicates_;
};

// Whether a node is one of the items the account counts.
bool IsCountedItemNid(std::uint32_t nid);

// "Items found: 113 (index 113, deep scan 0), read 3, saved 3, not recovered 110"
// (saved left out when `saving` is false), then ", saved damaged 2" when
// any item was saved damaged, and "; not reached 20 (in 2 folders)" when
// the walk did not reach every item.
std::string FormatReconciliationTotals(const Reconciliation& account, bool saving);
// "Deleted items: 2 from index pages no longer in use, ..." for the log and the report.
std::string FormatDeletedAccount(const DeletedAccount& deleted);
// "0x2004  Personal Folders\Recovered Items\Deleted\Inbox\  Subject  (lost: recipients and attachments)".
std::string FormatIncompleteItem(const IncompleteItem& item);
// "0x2004  Personal Folders\Recovered Items\Deleted\Inbox\  Subject".
std::string FormatUnlistedItem(const UnlistedItem& item);
// "0x2004  Personal Folders\Inbox\  Subject  (2 values without a name: 0x80a9 0x813f)".
std::string FormatUnnamedValuesItem(const UnnamedValuesItem& item);
// "0x2044  Personal Folders\Inbox\  Subject  (a copy of 0x2004)".
std::string FormatDuplicateItem(const DuplicateItem& item);
// One line per lost item: "0x2004  Personal Folders\Inbox\  Subject  (unreadable node)".
std::string FormatLostItem(const LostItem& item);
// One line per damaged item: "0x200024  Personal Folders\Inbox\  Subject  (damaged: body: 1 block failed
// its checksum; an earlier whole copy saved in Personal Folders\Recovered Items\)".
std::string FormatDamagedItem(const DamagedItem& item);

class ActivityLog;
// The totals and, one entry each, the items not recovered (the first
// kLoggedLostItems of them; the report lists all).
inline constexpr std::size_t kLoggedLostItems = 1000;
void LogReconciliation(const ActivityLog& log, const Reconciliation& account, bool saving);

struct ReportHeader {
    std::string run;  // "analysis", "saving" or "export"
    std::string source;
    std::string outcome;  // "completed", "aborted", "failed"
    std::string message;
    std::vector<std::filesystem::path> outputStores;
    // The run's filter as DescribeFilter gives it; empty: none.
    std::string filter;
    // A save that went on after it was cut off: when and from which journal.
    std::string resumed;
};

// The report as readable text.
std::string FormatReportText(const ReportHeader& header, const Reconciliation& account);
// The same as one JSON object (schema "brightmend.report/2").
std::string FormatReportJson(const ReportHeader& header, const Reconciliation& account);
// The account alone as a JSON object: totals, folders, notRecovered.
std::string ReconciliationJson(const Reconciliation& account);
// JSON string literal of UTF-8 text (invalid bytes become U+FFFD).
std::string JsonString(std::string_view text);

struct ReportFiles {
    std::filesystem::path text;
    std::filesystem::path json;
};
// Writes "<stem> report.txt" and "<stem> report.json" next to
// `outputStore`, or "<stem> report (2).txt" ... when a file of that name is
// there (nothing is replaced); nullopt when they cannot be written.
std::optional<ReportFiles> WriteReportFiles(const std::filesystem::path& outputStore, const ReportHeader& header,
                                            const Reconciliation& account);

}  // namespace bm
