// Filters and duplicates in a saving run over a store written in the test:
// which items go into the new store, and an account in which every found
// item is saved, left out by the filter, a duplicate or not recovered;
// and a save in one part per year.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/engine_test_helpers.h"
#include "engine/saving_run.h"
#include "engine/saving_verdict.h"
#include "output/output_readback.h"
#include "support/synced_store.h"
#include "check/store_checker.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

using bmtest::Time;
using bmtest::WriteSyncedStore;

struct Outcome {
    Reconciliation account;
    std::map<std::string, std::vector<std::string>> saved;  // folder -> "subject class" per item, sorted
};

Outcome Save(const fs::path& source, const fs::path& destination, const ItemFilter& filter, bool dedupe) {
    class Quiet : public SavingObserver {} observer;
    SavingRun run(observer, nullptr);
    SavingSource s;
    s.sourcePath = source.string();
    s.destination = destination;
    s.selected.SelectAll({"Personal Folders\\", "Personal Folders\\Inbox\\", "Personal Folders\\Archive\\"});
    s.filter = filter;
    s.dedupe = dedupe;
    EXPECT_TRUE(run.Start(s));
    run.Wait();
    Outcome out{run.reconciliation(), {}};
    EXPECT_EQ(run.outputStores().size(), 1u);
    if (run.outputStores().empty()) return out;
    EXPECT_TRUE(CheckStore(run.outputStores()[0]).ok());
    const bmtest::ReadBackStore back = bmtest::ReadBack(run.outputStores()[0]);
    for (const bmtest::ReadBackItem& item : back.items)
        out.saved[item.folder].push_back(bmtest::SubjectOf(*item.record) + " " + item.record->messageClass);
    for (auto& [folder, items] : out.saved) std::sort(items.begin(), items.end());
    return out;
}

const FolderTally& TallyOf(const Reconciliation& account, const std::string& folder) {
    for (const FolderTally& t : account.folders())
        if (t.path == "Personal Folders\\" + folder + "\\") return t;
    static const FolderTally none;
    ADD_FAILURE() << "no tally for " << folder;
    return none;
}

void ExpectAddsUp(const Reconciliation& account) {
    for (const FolderTally& t : account.folders())
        EXPECT_EQ(t.found(), t.saved + t.leftOut + t.duplicates + t.lost + t.notReached) << t.path;
}

TEST(SavingFilters, DuplicatesAreCopiesOfTheSameItemInTheSameFolderAndNothingElse) {
    const fs::path dir = bmtest::ScratchDir("saving-dedupe");
    const fs::path source = WriteSyncedStore(dir / "synced.ost");
    const Outcome o = Save(source, dir / "out", {}, true);
    using V = std::vector<std::string>;
    EXPECT_EQ(o.saved.at("Inbox"),
              (V{"a IPM.Appointment", "a IPM.Note", "a IPM.Note", "a IPM.Note", "b IPM.Note", "c IPM.Contact",
                 "c IPM.Contact"}));
    EXPECT_EQ(o.saved.at("Archive"), V{"a IPM.Note"});
    const FolderTally& inbox = TallyOf(o.account, "Inbox");
    EXPECT_EQ(inbox.duplicates, 2);
    EXPECT_EQ(inbox.saved, 7);
    EXPECT_EQ(TallyOf(o.account, "Archive").duplicates, 0);
    ASSERT_EQ(o.account.duplicates().size(), 2u);
    // Each is named with the item it copies, saved before it.
    for (const DuplicateItem& d : o.account.duplicates()) {
        EXPECT_EQ(d.folder, "Personal Folders\\Inbox\\");
        EXPECT_LT(d.duplicateOf, d.nid);
    }
    EXPECT_EQ(o.account.duplicates()[0].subject, "a");
    EXPECT_EQ(o.account.duplicates()[1].subject, "b");
    ExpectAddsUp(o.account);
    const std::string json = ReconciliationJson(o.account);
    EXPECT_NE(json.find("\"duplicates\":[{\"nid\":"), std::string::npos) << json;
    // Without --dedupe every copy is saved.
    const Outcome all = Save(source, dir / "all", {}, false);
    EXPECT_EQ(all.saved.at("Inbox").size(), 9u);
    EXPECT_TRUE(all.account.duplicates().empty());
}

TEST(SavingFilters, ItemsLeftOutByTheFilterAreCountedApartAndTheRunIsStillWhole) {
    const fs::path dir = bmtest::ScratchDir("saving-filter");
    const fs::path source = WriteSyncedStore(dir / "synced.ost");
    ItemFilter since2019;
    since2019.since = Time("2019-01-01");
    ItemFilter fromExample;
    fromExample.senders = {"example.com"};
    ItemFilter notes;
    notes.classPrefixes = {"IPM.Note"};
    ItemFilter until2019;
    until2019.until = ParseFilterDate("2019-06-01", true);
    struct Case {
        const char* what;
        const ItemFilter& filter;
        std::int64_t inboxSaved;
    };
    // Of the Inbox's nine: five "a" of 2019 from example.com (one an
    // appointment), two "b" of 2020, two contacts created in 2018.
    const Case cases[] = {
        {"since 2019: the contacts' creation time is before", since2019, 7},
        {"until 2019-06-01, that day kept", until2019, 7},
        {"from example.com", fromExample, 5},
        {"notes only", notes, 6},
    };
    for (const Case& c : cases) {
        const Outcome o = Save(source, dir / c.what, c.filter, false);
        const FolderTally& inbox = TallyOf(o.account, "Inbox");
        EXPECT_EQ(inbox.saved, c.inboxSaved) << c.what;
        EXPECT_EQ(inbox.leftOut, 9 - c.inboxSaved) << c.what;
        EXPECT_EQ(inbox.lost, 0) << c.what;
        std::size_t written = 0;
        for (const auto& [folder, items] : o.saved) written += items.size();
        EXPECT_EQ(static_cast<std::int64_t>(written), o.account.totals().saved) << c.what;
        // Left out is not lost: the run is a whole one.
        EXPECT_EQ(SavingVerdictOf(o.account), SavingVerdict::AllSaved) << c.what;
        ExpectAddsUp(o.account);
    }
}

// One part per year of the items' time: the mails by delivery, the
// contacts (never delivered) by creation; the Archive's mail of 2019 goes
// with the Inbox's. Each part is a whole store, each item is in one, and
// the report is named after the store the parts are named after.
TEST(SavingFilters, PartsByYearHoldEachItemOnceAndTheReportIsNamedAfterTheStore) {
    const fs::path dir = bmtest::ScratchDir("saving-by-year");
    const fs::path source = WriteSyncedStore(dir / "synced.ost");
    class Quiet : public SavingObserver {} observer;
    SavingRun run(observer, nullptr);
    SavingSource s;
    s.sourcePath = source.string();
    s.outputFile = dir / "out" / "mail.pst";
    s.selected.SelectAll({"Personal Folders\\", "Personal Folders\\Inbox\\", "Personal Folders\\Archive\\"});
    s.splitByYear = true;
    ASSERT_TRUE(run.Start(s));
    run.Wait();
    std::map<std::string, std::map<std::string, std::vector<std::string>>> parts;  // file -> folder -> subjects
    for (const fs::path& p : run.outputStores()) {
        EXPECT_TRUE(CheckStore(p).ok()) << p;
        for (const bmtest::ReadBackItem& item : bmtest::ReadBack(p).items)
            parts[p.filename().string()][item.folder].push_back(bmtest::SubjectOf(*item.record));
    }
    for (auto& [file, folders] : parts)
        for (auto& [folder, subjects] : folders) std::sort(subjects.begin(), subjects.end());
    using V = std::vector<std::string>;
    using Folders = std::map<std::string, V>;
    const std::map<std::string, Folders> expected = {
        {"mail (2018).pst", {{"Inbox", V{"c", "c"}}}},
        {"mail (2019).pst", {{"Archive", V{"a"}}, {"Inbox", V{"a", "a", "a", "a", "a"}}}},
        {"mail (2020).pst", {{"Inbox", V{"b", "b"}}}},
    };
    EXPECT_EQ(parts, expected);
    EXPECT_EQ(run.reconciliation().totals().saved, 10);
    EXPECT_EQ(SavingVerdictOf(run.reconciliation()), SavingVerdict::AllSaved);
    ExpectAddsUp(run.reconciliation());
    EXPECT_FALSE(fs::exists(dir / "out" / "mail.pst"));
    ASSERT_TRUE(fs::exists(dir / "out" / "mail report.json"));
    EXPECT_EQ(run.reportJson().filename(), "mail report.json");
}

}  // namespace
}  // namespace bm
