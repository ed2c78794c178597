#include "engine/analysis_collector.h"

#include <utility>

#include "store/nid_types.h"

namespace bm {

namespace {

using Changes = std::vector<std::pair<WellKnownCategory, std::int32_t>>;

bool HasNoParts(const ItemRecord& r) {
    return !r.messageFields && !r.folderCounts && !r.contactFields && !r.storeFields && !r.journalFields &&
           !r.appointmentFields;
}

bool HasOnlyFolderCounts(const ItemRecord& r) {
    return r.folderCounts && !r.messageFields && !r.contactFields && !r.storeFields && !r.journalFields &&
           !r.appointmentFields;
}

std::string SubjectOf(const MessageFields* m) {
    return m != nullptr && m->subject ? m->subject->text : std::string();
}

}  // namespace

AnalysisCollector::AnalysisCollector(AnalysisResults& results, AnalysisObserver& observer)
    : results_(results), observer_(observer) {}

void AnalysisCollector::Begin(std::uint32_t rootNid) {
    path_.clear();
    stack_.clear();
    folderByNid_.clear();
    treeCount_ = 0;
    EnterFolder(std::string(kRootFolderName));
    results_.Modify([&](AnalysisData& d) {
        d.counts = WellKnownCounts();
        d.folders.clear();
        if (rootNid != 0) {
            d.folders.push_back(FolderRecord{path_, rootNid, 0, {}, {}});
            folderByNid_.emplace(rootNid, 0);
        }
    });
}

void AnalysisCollector::EnterFolder(const std::string& name) {
    stack_.push_back(path_.size());
    path_ += name;
    path_ += '\\';
}

bool AnalysisCollector::LeaveFolder() {
    if (stack_.empty()) return false;
    path_.resize(stack_.back());
    stack_.pop_back();
    return true;
}

bool AnalysisCollector::Classify(std::unique_ptr<ItemRecord> record, const WalkedNode& node) {
    if (!record) return false;
    ItemRecord& r = *record;
    if (r.kind == ItemKind::None && r.messageClass.empty() && HasNoParts(r) && r.attachments.empty()) return false;
    bool descend = false;
    if (r.folderCounts)
        ClassifyFolder(r, node, descend);
    else
        ClassifyItem(r, node);
    return descend;
}

void AnalysisCollector::ClassifyFolder(ItemRecord& r, const WalkedNode& node, bool& descend) {
    const bool mailFolder = r.messageClass == kMailFolderClass || r.kind == ItemKind::Mail ||
                            (r.messageClass.empty() && r.attachments.empty() && HasOnlyFolderCounts(r));
    EnterFolder(r.displayName);
    ++treeCount_;
    results_.Modify([&](AnalysisData& d) {
        d.tree.push_back({path_, r.messageClass});
        if (mailFolder) {
            folderByNid_.try_emplace(node.nid, d.folders.size());
            d.folders.push_back(FolderRecord{path_, node.nid, 0, {}, {}});
        }
    });
    observer_.OnFolderFound(path_, r.messageClass);
    if (node.hasFirstChild) {
        descend = true;
    } else {
        LeaveFolder();
    }
}

void AnalysisCollector::ClassifyItem(ItemRecord& r, const WalkedNode& node) {
    // A folder's associated items (views, rules, settings) are no contents:
    // they are saved with their folder but neither listed nor counted.
    if (IsAssociatedMessageNid(node.nid)) return;
    Changes changed;
    MessageFields* message = r.messageFields.get();
    if (r.messageClass == kTaskClass) {
        results_.Modify([&](AnalysisData& d) {
            Bump(d, WellKnownCategory::Tasks, changed);
            if (message != nullptr) {
                d.tasks.push_back(std::move(*message));
                d.taskStates.push_back(r.taskFields ? *r.taskFields : TaskFields{});
                d.taskNids.push_back(node.nid);
            }
        });
    } else if (r.messageClass == kStickyNoteClass) {
        if (message == nullptr) return;
        results_.Modify([&](AnalysisData& d) {
            Bump(d, WellKnownCategory::Notes, changed);
            // A note's text is its plain body when it has no RTF one.
            std::string& text = !message->bodyText.empty() ? message->bodyText : message->body;
            d.notes.push_back({SubjectOf(message), std::move(text), std::move(message->deliveryTime)});
            d.noteNids.push_back(node.nid);
        });
    } else if (r.kind == ItemKind::Journal) {
        if (message == nullptr && !r.journalFields) return;
        results_.Modify([&](AnalysisData& d) {
            JournalEntry entry;
            if (r.journalFields) entry.entryType = r.journalFields->logType;
            entry.subject = SubjectOf(message);
            if (message != nullptr) entry.date = std::move(message->deliveryTime);
            d.journal.push_back(std::move(entry));
            d.journalNids.push_back(node.nid);
            if (r.journalFields && !r.journalFields->logType.empty()) Bump(d, WellKnownCategory::Journal, changed);
        });
    } else if (r.kind == ItemKind::Appointment) {
        if (!r.appointmentFields && message == nullptr) return;
        results_.Modify([&](AnalysisData& d) {
            Bump(d, WellKnownCategory::Calendar, changed);
            CalendarEntry entry;
            if (r.appointmentFields) {
                entry.location = r.appointmentFields->location;
                entry.start = r.appointmentFields->startWhole;
                entry.end = r.appointmentFields->endWhole;
            }
            entry.message = std::move(r.messageFields);
            d.calendar.push_back(std::move(entry));
            d.calendarNids.push_back(node.nid);
        });
    } else if (TakenForContact(r)) {
        results_.Modify([&](AnalysisData& d) {
            d.contacts.push_back(std::move(*r.contactFields));
            d.contactNids.push_back(node.nid);
            Bump(d, WellKnownCategory::Contacts, changed);
        });
    } else if (message != nullptr) {
        AddMail(std::move(*message), node.parentNid, node.nid);
        return;
    }
    Announce(changed);
}

void AnalysisCollector::AddMail(MessageFields&& message, std::uint32_t parentNid, std::uint32_t nid) {
    Changes changed;
    results_.Modify([&](AnalysisData& d) {
        if (d.folders.empty()) return;
        const auto found = folderByNid_.find(parentNid);
        FolderRecord& folder = found != folderByNid_.end() ? d.folders[found->second] : d.folders.back();
        if (folder.count < kFolderKeptMessages) {
            folder.messages.push_back(std::move(message));
            folder.messageNids.push_back(nid);
        }
        ++folder.count;
        if (const auto category = MailFolderCategory(folder.path)) Bump(d, *category, changed);
    });
    Announce(changed);
}

void AnalysisCollector::Bump(AnalysisData& d, WellKnownCategory category, Changes& changed) {
    const std::int32_t value = ++d.counts[category];
    if (CategoryShownDuringWalk(category)) changed.emplace_back(category, value);
}

void AnalysisCollector::Announce(const Changes& changed) {
    for (const auto& [category, value] : changed) observer_.OnCountChanged(category, value);
}

}  // namespace bm
