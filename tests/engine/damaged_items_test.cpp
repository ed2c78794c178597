// Items saved from damaged blocks are named as damaged: the damage is made
// here, with fixed seeds, in a store our writer makes and in copies of the
// shared stores, and every item whose saved content differs from what the
// intact store saves must be in the account's damaged list (or among the
// items not recovered), while a sound store gives none.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "engine/activity_log.h"
#include "engine/analysis_run.h"
#include "engine/engine_test_helpers.h"
#include "engine/saving_run.h"
#include "engine/settings.h"
#include "messaging/messaging.h"
#include "output/damage_mark.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "store/content_damage.h"
#include "store/nid_types.h"
#include "support/damaged_mail_store.h"
#include "support/deleted_store.h"
#include "support/item_fingerprints.h"
#include "support/store_damage.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
namespace tags = pst::tags;
using json = nlohmann::json;
using bmtest::CategoriesBySubject;
using bmtest::Damage;
using bmtest::Spot;
using bmtest::StoreMap;
using bmtest::WriteMailStore;

struct SaveResult {
    AnalysisOutcome outcome = AnalysisOutcome::Failed;
    Reconciliation account;
    SavingFinish finish;
    std::vector<fs::path> stores;
    std::string log;
    std::string reportText;
    std::string reportJson;
};

class FinishObserver : public SavingObserver {
public:
    void OnFinished(const SavingFinish& f) override { finish = f; }
    SavingFinish finish;
};

SaveResult SaveAll(const fs::path& store, const fs::path& dir, const std::vector<std::string>& folders,
                   bool markDamaged = false, bool deepScan = false) {
    fs::create_directories(dir / "app");
    Settings settings(dir / "brightmend.conf");
    ActivityLog log(settings, dir / "app");
    FinishObserver observer;
    SavingRun run(observer, &log);
    SavingSource source;
    source.sourcePath = store.string();
    source.destination = dir / "Repair";
    source.selected.SelectAll(folders);
    source.markDamaged = markDamaged;
    source.deepScan = deepScan;
    EXPECT_TRUE(run.Start(source));
    run.Wait();
    SaveResult r;
    r.outcome = run.outcome();
    r.account = run.reconciliation();
    r.finish = observer.finish;
    r.stores = run.outputStores();
    r.log = bmtest::ReadTextFile(log.PathOf(LogChannel::ActivityLog));
    r.reportText = bmtest::ReadTextFile(run.reportText());
    r.reportJson = bmtest::ReadTextFile(run.reportJson());
    return r;
}

// Every item whose saved content changed is named: damaged, or not recovered.
void ExpectEveryChangedItemNamed(const bmtest::StoreFingerprints& intact, const bmtest::StoreFingerprints& damaged,
                                 const Reconciliation& account, const std::string& what) {
    std::set<std::uint32_t> named;
    for (const DamagedItem& d : account.damaged()) named.insert(d.nid);
    for (const LostItem& l : account.lost()) named.insert(l.nid);
    for (const std::uint32_t nid : bmtest::ChangedItems(intact, damaged)) {
        const auto subject = intact.subjects.find(nid);
        EXPECT_TRUE(named.count(nid) != 0) << what << ": item 0x" << std::hex << nid << " ("
                                           << (subject != intact.subjects.end() ? subject->second : "-")
                                           << ") was saved changed without a word";
    }
}

struct DamageCase {
    const char* name;
    Spot spot;
    const char* subject;  // the item the damage hits
    const char* line;     // what the account says of it
};

const DamageCase kCases[] = {
    {"one byte inside the body's block", Spot::BodyByte, "long body", "body: 1 block failed its checksum"},
    {"one byte inside the attachment's data", Spot::AttachmentByte, "with attachment",
     "attachment 'report.bin': 1 block failed its checksum"},
    {"one byte inside the index page that lists the item", Spot::IndexPageByte, "with attachment",
     "recipients and attachments: 1 block missing"},
    {"the subnode block zeroed", Spot::SubnodeBlockZeroed, "with attachment",
     "recipients and attachments: 1 block failed its checksum, cut short"},
};

TEST(DamagedItems, ADamagedBlockNamesItsItemAndPartInTheAccountReportAndLog) {
    int n = 0;
    for (const DamageCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = bmtest::ScratchDir("damaged-case-" + std::to_string(++n));
        const fs::path intact = WriteMailStore(dir);
        const fs::path damaged = dir / "damaged.ost";
        fs::copy_file(intact, damaged);
        Damage(damaged, c.spot, c.subject);

        const bmtest::StoreFingerprints before = bmtest::FingerprintStore(intact);
        const bmtest::StoreFingerprints after = bmtest::FingerprintStore(damaged);
        ASSERT_TRUE(after.found);
        const SaveResult r = SaveAll(damaged, dir / "out", after.folders);
        ASSERT_EQ(r.outcome, AnalysisOutcome::Completed);
        ExpectEveryChangedItemNamed(before, after, r.account, c.name);

        // The item hit is named with what is wrong; a damaged index page
        // puts every item it lists in doubt, and only those.
        const auto hit = std::find_if(r.account.damaged().begin(), r.account.damaged().end(),
                                      [&](const DamagedItem& d) { return d.subject == c.subject; });
        ASSERT_NE(hit, r.account.damaged().end());
        const DamagedItem& item = *hit;
        EXPECT_EQ(item.folder, "Personal Folders\\Inbox\\");
        EXPECT_NE(std::find(item.damage.begin(), item.damage.end(), c.line), item.damage.end())
            << ::testing::PrintToString(item.damage);
        const std::int64_t named = static_cast<std::int64_t>(r.account.damaged().size());
        for (const DamagedItem& other : r.account.damaged()) {
            if (&other == &item) continue;
            EXPECT_EQ(c.spot, Spot::IndexPageByte) << FormatDamagedItem(other);
            EXPECT_EQ(other.damage, std::vector<std::string>{std::string(kDoubtfulEntryLine)}) << FormatDamagedItem(other);
        }
        // Saved all the same, and counted as saved.
        EXPECT_EQ(r.account.totals().saved, 4);
        EXPECT_EQ(r.account.totals().damaged, named);
        EXPECT_EQ(r.finish.itemsDamaged, named);

        const std::string line = FormatDamagedItem(item);
        EXPECT_NE(line.find(c.line), std::string::npos) << line;
        EXPECT_NE(r.log.find("Damaged: " + line), std::string::npos) << r.log;
        EXPECT_NE(r.reportText.find("Items saved damaged: " + std::to_string(named) + "\n"), std::string::npos);
        EXPECT_NE(r.reportText.find("  " + line + "\n"), std::string::npos) << r.reportText;
        const json report = json::parse(r.reportJson);
        const json& account = report["reconciliation"];
        EXPECT_EQ(account["totals"]["damaged"], named);
        const std::size_t at = static_cast<std::size_t>(hit - r.account.damaged().begin());
        EXPECT_EQ(account["damaged"][at]["nid"], item.nid);
        EXPECT_EQ(account["damaged"][at]["subject"], c.subject);
        EXPECT_NE(account["damaged"][at]["damage"].dump().find(c.line), std::string::npos);
        for (const json& f : account["folders"])
            EXPECT_EQ(f["damaged"], f["path"] == "Personal Folders\\Inbox\\" ? named : 0) << f.dump();
    }
}

TEST(DamagedItems, ASoundStoreSavesWithNoItemNamedDamaged) {
    std::vector<fs::path> stores{WriteMailStore(bmtest::ScratchDir("damaged-sound-written"))};
    for (const char* name : bmtest::kSharedStoreNames) {
        const fs::path shared = bmtest::SharedStore(name);
        if (!shared.empty()) stores.push_back(shared);
    }
    for (const fs::path& store : stores) {
        SCOPED_TRACE(store.filename().string());
        const SaveResult r = SaveAll(store, bmtest::ScratchDir("damaged-sound-" + store.filename().string()),
                                     bmtest::FingerprintStore(store).folders);
        ASSERT_EQ(r.outcome, AnalysisOutcome::Completed);
        EXPECT_GT(r.account.totals().saved, 0);
        EXPECT_EQ(r.account.totals().damaged, 0);
        for (const DamagedItem& d : r.account.damaged()) ADD_FAILURE() << FormatDamagedItem(d);
        EXPECT_EQ(r.reportText.find("Damaged:"), std::string::npos);
    }
}

TEST(DamagedItems, WithOneByteChangedPer16KiBEveryItemSavedChangedIsNamed) {
    for (const char* name : {"unicode-sample.ost", "unicode-enron.pst", "4k-sample.ost"}) {
        const fs::path shared = bmtest::SharedStore(name);
        if (shared.empty()) continue;
        SCOPED_TRACE(name);
        const fs::path dir = bmtest::ScratchDir(std::string("damaged-rot-") + name);
        const fs::path damaged = dir / name;
        fs::copy_file(shared, damaged);
        bmtest::RotEvery16KiB(damaged, 16);
        const bmtest::StoreFingerprints before = bmtest::FingerprintStore(shared);
        const bmtest::StoreFingerprints after = bmtest::FingerprintStore(damaged);
        ASSERT_TRUE(after.found);
        const SaveResult r = SaveAll(damaged, dir / "out", after.folders);
        ASSERT_EQ(r.outcome, AnalysisOutcome::Completed);
        EXPECT_FALSE(bmtest::ChangedItems(before, after).empty()) << "the damage changed no item";
        ExpectEveryChangedItemNamed(before, after, r.account, name);
        EXPECT_GT(r.account.totals().damaged, 0);
    }
}

TEST(DamagedItems, MarkDamagedAddsTheCategoryToTheDamagedItemsOnly) {
    const fs::path dir = bmtest::ScratchDir("damaged-mark");
    const fs::path damaged = WriteMailStore(dir);
    Damage(damaged, Spot::BodyByte, "long body");
    Damage(damaged, Spot::AttachmentByte, "with attachment");
    for (const bool mark : {false, true}) {
        SCOPED_TRACE(mark ? "marked" : "not marked");
        const SaveResult r = SaveAll(damaged, dir / (mark ? "marked" : "plain"),
                                     bmtest::FingerprintStore(damaged).folders, mark);
        ASSERT_EQ(r.stores.size(), 1u);
        EXPECT_EQ(r.account.totals().damaged, 2);
        const auto categories = CategoriesBySubject(r.stores[0]);
        const std::vector<std::string> none;
        const std::vector<std::string> damagedOnly{std::string(kDamagedCategory)};
        const std::vector<std::string> work{"Work"};
        const std::vector<std::string> workAndDamaged{"Work", std::string(kDamagedCategory)};
        EXPECT_EQ(categories.at("short one"), none);
        EXPECT_EQ(categories.at("short two"), none);
        EXPECT_EQ(categories.at("long body"), mark ? workAndDamaged : work);
        // The attachment's data is read while the item is written: the mark
        // needs its damage known before.
        EXPECT_EQ(categories.at("with attachment"), mark ? damagedOnly : none);
    }
}

TEST(DamagedItems, TheAnalysisResultsNameTheItemsReadFromDamagedBlocks) {
    const fs::path dir = bmtest::ScratchDir("damaged-analysis");
    const fs::path store = WriteMailStore(dir);
    std::uint32_t target = 0;
    {
        StoreMap map(store);
        target = map.Message("long body").nid;
    }
    const auto damagedItemsOf = [&](const fs::path& path) {
        AnalysisObserver observer;
        AnalysisRun run(observer, nullptr, dir / "app");
        EXPECT_EQ(bmtest::AnalyseToEnd(run, path), AnalysisOutcome::Completed);
        return run.results().Read([](const AnalysisData& d) { return d.damagedItems; });
    };
    EXPECT_TRUE(damagedItemsOf(store).empty());
    Damage(store, Spot::BodyByte, "long body");
    const auto damaged = damagedItemsOf(store);
    ASSERT_EQ(damaged.size(), 1u);
    ASSERT_EQ(damaged.count(target), 1u);
    // The analysis reads the body with the rest of the message's properties.
    EXPECT_EQ(damaged.at(target), std::vector<std::string>{"message: 1 block failed its checksum"});
}

// An earlier version of the message `subject` left in the free space (see
// LeaveEarlierCopy), then one byte of its live data block changed, and one
// unused byte of a block index leaf page, so that the index looks
// incomplete and the deep scan gathers the heaps nothing names.
void LeaveEarlierVersionAndDamageTheLiveOne(const fs::path& path, const char* subject) {
    std::uint64_t bid = 0;
    {
        StoreMap map(path);
        bid = map.Message(subject).dataBlock()->bid();
    }
    ASSERT_NE(bmtest::LeaveEarlierCopy(path, bid), 0u);
    Damage(path, Spot::OwnBlockByte, subject);
    const bmtest::SoundIndex sound = bmtest::ReadSoundIndex(path);
    ASSERT_NE(sound.layout, nullptr);
    const auto leaf = std::find_if(sound.scan.pages.begin(), sound.scan.pages.end(), [](const ScannedPage& p) {
        return p.type == kBlockTreePageType && p.level == 0;
    });
    ASSERT_NE(leaf, sound.scan.pages.end());
    std::vector<std::uint8_t> bytes = bmtest::ReadWholeFile(path);
    bytes[leaf->offset + sound.layout->page.footerCountAt - 1] ^= 0x01;  // past the entries
    bmtest::WriteWholeFile(path, bytes);
}

TEST(DamagedItems, AnEarlierWholeVersionTheScanSavesIsNamedWithTheDamagedItem) {
    const fs::path dir = bmtest::ScratchDir("damaged-whole-copy");
    const fs::path store = WriteMailStore(dir);
    LeaveEarlierVersionAndDamageTheLiveOne(store, "short one");
    const SaveResult r = SaveAll(store, dir / "out", bmtest::FingerprintStore(store).folders);
    ASSERT_EQ(r.outcome, AnalysisOutcome::Completed);

    const auto hit = std::find_if(r.account.damaged().begin(), r.account.damaged().end(),
                                  [](const DamagedItem& d) { return d.subject == "short one"; });
    ASSERT_NE(hit, r.account.damaged().end()) << r.reportText;
    EXPECT_EQ(hit->folder, "Personal Folders\\Inbox\\");
    EXPECT_EQ(hit->damage, std::vector<std::string>{"message: 1 block failed its checksum"});
    // The earlier version was saved whole from the heap the scan found, and
    // the damaged item names where.
    EXPECT_EQ(hit->wholeCopyFolder, "Personal Folders\\Recovered Items\\") << FormatDamagedItem(*hit);
    const std::string line = FormatDamagedItem(*hit);
    EXPECT_NE(line.find("; an earlier whole copy saved in Personal Folders\\Recovered Items\\"), std::string::npos)
        << line;
    EXPECT_NE(r.reportText.find("  " + line + "\n"), std::string::npos) << r.reportText;
    const json report = json::parse(r.reportJson);
    const std::size_t at = static_cast<std::size_t>(hit - r.account.damaged().begin());
    EXPECT_EQ(report["reconciliation"]["damaged"][at]["wholeCopyFolder"], "Personal Folders\\Recovered Items\\");
    // The copy is the only item of "Recovered Items" and is not damaged;
    // no other item is tied to it.
    for (const DamagedItem& other : r.account.damaged()) {
        EXPECT_NE(other.folder, "Personal Folders\\Recovered Items\\") << FormatDamagedItem(other);
        if (&other != &*hit) {
            EXPECT_TRUE(other.wholeCopyFolder.empty()) << FormatDamagedItem(other);
        }
    }
    const auto recovered = std::find_if(r.account.folders().begin(), r.account.folders().end(), [](const FolderTally& t) {
        return t.path == "Personal Folders\\Recovered Items\\";
    });
    ASSERT_NE(recovered, r.account.folders().end());
    EXPECT_EQ(recovered->foundByScan, 1);
    EXPECT_EQ(recovered->saved, 1);
    EXPECT_EQ(recovered->damaged, 0);
}

}  // namespace
}  // namespace bm
