// What an analysis run finds: the folder records with the first messages of
// each mail folder, the lists of contacts, tasks, notes, journal items and
// appointments, the folder tree and the per-category counts.
//
// The run appends while other threads (the item list, the page) read, so
// every access goes through the results' lock: Read() for a consistent look
// at everything, Modify() for the run. Callbacks must not call back into
// the same results object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/well_known_counts.h"
#include "messaging/item_record.h"

namespace bm {

// Messages kept per mail folder; the rest are only counted.
inline constexpr std::int32_t kFolderKeptMessages = 50;

struct FolderRecord {
    std::string path;                     // full path with trailing backslash
    std::uint32_t nid = 0;                // node id of the folder
    std::int32_t count = 0;               // messages found, kept or not
    std::vector<MessageFields> messages;  // the first kFolderKeptMessages, in walk order
    std::vector<std::uint32_t> messageNids;  // the node of each kept message (its attachments are read from there)
};

struct NoteEntry {
    std::string subject;
    std::string bodyText;
    Bytes date;  // delivery time as stored
};

struct JournalEntry {
    std::string entryType;
    std::string subject;  // empty when the item has no message fields
    Bytes date;
};

struct CalendarEntry {
    std::string location;
    std::unique_ptr<MessageFields> message;  // nullptr when the item had none
    Bytes start;  // the meeting's own start and end (FILETIMEs), for the preview
    Bytes end;
};

// One entry of the folder tree: every folder the walk met, mail or not.
struct FolderTreeEntry {
    std::string path;
    std::string containerClass;
};

struct AnalysisData {
    std::uint32_t formatVersion = 0;
    std::deque<FolderRecord> folders;  // in order of discovery; the root record first
    std::vector<FolderTreeEntry> tree;
    std::vector<ContactFields> contacts;
    std::vector<MessageFields> tasks;
    std::vector<TaskFields> taskStates;  // beside each task: its status, completion and dates
    std::vector<NoteEntry> notes;
    std::vector<JournalEntry> journal;
    std::vector<CalendarEntry> calendar;
    // The node of each contact, task, note, journal item and calendar item
    // above, in the same places (an item list finds its damage by it).
    std::vector<std::uint32_t> contactNids;
    std::vector<std::uint32_t> taskNids;
    std::vector<std::uint32_t> noteNids;
    std::vector<std::uint32_t> journalNids;
    std::vector<std::uint32_t> calendarNids;
    WellKnownCounts counts;
    // Items read from damaged blocks, by node: what is wrong, one line per
    // part ("body: 1 block failed its checksum"), as far as the analysis
    // read them (attachment data is read only when saving, which may find
    // more). An item list marks the items found here.
    std::unordered_map<std::uint32_t, std::vector<std::string>> damagedItems;
};

// A folder record without its messages, for callers that only list.
struct FolderSummary {
    std::string path;
    std::uint32_t nid = 0;
    std::int32_t count = 0;
};

class AnalysisResults {
public:
    template <class Fn>
    decltype(auto) Read(Fn&& fn) const {
        const std::lock_guard lock(mutex_);
        return fn(static_cast<const AnalysisData&>(data_));
    }
    template <class Fn>
    decltype(auto) Modify(Fn&& fn) {
        const std::lock_guard lock(mutex_);
        return fn(data_);
    }

    WellKnownCounts counts() const;
    std::vector<FolderSummary> folderSummaries() const;
    std::vector<FolderTreeEntry> tree() const;
    // Empties every list and zeroes the counts.
    void Clear();

private:
    mutable std::mutex mutex_;
    AnalysisData data_;
};

}  // namespace bm
