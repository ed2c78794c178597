// Deleted items: messages taken out of a copy's live index the way the mail
// client deletes them come back under "Recovered Items\Deleted\<folder>\"
// with their bodies and attachments; overwritten blocks give incomplete
// items or none, never another item's data; sound stores list the same
// with the option, show no live item twice, and show every message
// libpff's own recovery finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/deep_recovery.h"
#include "engine/engine_test_helpers.h"
#include "engine/mail_subtree.h"
#include "engine/saving_run.h"
#include "store/store.h"
#include "support/damaged_mail_store.h"
#include "support/deleted_store.h"
#include "support/folder_path_walk.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using bmtest::Deletion;

constexpr const char* kDeletedRoot = "Personal Folders\\Recovered Items\\Deleted\\";

struct Listed {
    std::string folder;
    std::uint32_t nid = 0;
    std::string messageClass;
    std::string subject;
    Bytes delivery;
    std::size_t attachments = 0;
    std::string body;  // plain, RTF text and HTML as read
    bool incomplete = false;

    bool deleted() const { return folder.rfind(kDeletedRoot, 0) == 0; }
};

struct Listing {
    std::vector<Listed> items;
    std::vector<std::string> folders;
    DeletedItemsReport report;
};

// Everything the runs' walk reads, with or without deleted items.
Listing ListAll(const fs::path& path, bool recoverDeleted) {
    Listing out;
    StoreFile store;
    StoreReader reader;
    MailSubtreeOptions options;
    options.recoverDeleted = recoverDeleted;
    const MailSubtree subtree = OpenMailSubtree(store, path, reader, {}, options);
    EXPECT_EQ(subtree.status, MailSubtreeStatus::Found) << path;
    if (subtree.status != MailSubtreeStatus::Found) return out;
    if (const RecoveredItems* r = RecoveryOf(store)) out.report = r->deleted.report;
    bmtest::FolderPathVisitor visitor;
    visitor.folder = [&](const std::string& folder) { out.folders.push_back(folder); };
    visitor.item = [&](const ItemRecord& record, const NodeEntry& node, const std::string& folder) {
        Listed item;
        item.folder = folder;
        item.nid = node.nid;
        item.messageClass = record.messageClass;
        item.attachments = record.attachments.size();
        item.incomplete = record.incomplete;
        if (const MessageFields* m = record.messageFields.get()) {
            if (m->subject) item.subject = m->subject->text;
            item.delivery = m->deliveryTime;
            item.body = m->body + '\x1f' + m->bodyText + '\x1f' + std::string(m->htmlBody.begin(), m->htmlBody.end());
        }
        out.items.push_back(std::move(item));
    };
    bmtest::WalkWithFolderPaths(store, *subtree.root, reader, visitor);
    ReleaseStore(store);
    return out;
}

fs::path PrivateCopy(const fs::path& sound, const std::string& name) {
    const fs::path copy = bmtest::ScratchDir(name) / sound.filename();
    fs::copy_file(sound, copy);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    return copy;
}

// A message worth deleting: one with attachments and a body, in a folder
// of its own, whose subject no other item has.
const Listed* PickTarget(const Listing& listing) {
    std::map<std::string, int> subjects;
    for (const Listed& i : listing.items) ++subjects[i.subject];
    for (const Listed& i : listing.items) {
        if (i.attachments > 0 && i.body.size() > 2 && !i.subject.empty() && subjects[i.subject] == 1 &&
            i.folder != "Personal Folders\\")
            return &i;
    }
    return nullptr;
}

// The last folder name of a path ("Personal Folders\Inbox\" gives "Inbox").
std::string LastName(const std::string& path) {
    const std::string trimmed = path.substr(0, path.size() - 1);
    return trimmed.substr(trimmed.rfind('\\') + 1);
}

std::vector<const Listed*> DeletedOnes(const Listing& listing) {
    std::vector<const Listed*> out;
    for (const Listed& i : listing.items)
        if (i.deleted()) out.push_back(&i);
    return out;
}

TEST(DeletedItems, ComeBackIntoTheirFolderUnderDeletedWithBodyAndAttachments) {
    BM_REQUIRE_STORE(sound, "unicode-enron.pst");
    for (const Deletion how : {Deletion::StalePage, Deletion::StaleSlot}) {
        const bool page = how == Deletion::StalePage;
        SCOPED_TRACE(page ? "stale page" : "stale slot");
        const fs::path copy = PrivateCopy(sound, page ? "deleted_page" : "deleted_slot");
        const Listing before = ListAll(copy, false);
        const Listed* picked = PickTarget(before);
        ASSERT_NE(picked, nullptr);
        const Listed target = *picked;
        ASSERT_TRUE(bmtest::DeleteMessage(copy, target.nid, how));

        const Listing plain = ListAll(copy, false);
        EXPECT_EQ(plain.items.size(), before.items.size() - 1);
        for (const Listed& i : plain.items) EXPECT_NE(i.nid, target.nid);
        for (const std::string& f : plain.folders) EXPECT_EQ(f.find("Recovered Items"), std::string::npos) << f;

        const Listing recovered = ListAll(copy, true);
        const std::vector<const Listed*> deleted = DeletedOnes(recovered);
        ASSERT_EQ(deleted.size(), 1u);
        const Listed& back = *deleted.front();
        EXPECT_EQ(back.folder, std::string(kDeletedRoot) + LastName(target.folder) + "\\");
        EXPECT_EQ(back.nid, target.nid);
        EXPECT_EQ(back.messageClass, target.messageClass);
        EXPECT_EQ(back.subject, target.subject);
        EXPECT_EQ(back.delivery, target.delivery);
        EXPECT_EQ(back.body, target.body);
        EXPECT_EQ(back.attachments, target.attachments);
        EXPECT_FALSE(back.incomplete);
        EXPECT_EQ(page ? recovered.report.fromStalePages : recovered.report.fromStaleSlots, 1u);
        // The live folders list as before the option.
        EXPECT_EQ(recovered.items.size(), plain.items.size() + 1);
        for (std::size_t i = 0; i < plain.items.size(); ++i) {
            EXPECT_EQ(recovered.items[i].folder, plain.items[i].folder);
            EXPECT_EQ(recovered.items[i].nid, plain.items[i].nid);
        }
    }
}

TEST(DeletedItems, OverwrittenBlocksGiveAnIncompleteItemOrNoneNeverAnotherOnesData) {
    BM_REQUIRE_STORE(sound, "unicode-enron.pst");
    const Listed target = [&] {
        const Listing before = ListAll(sound, false);
        const Listed* picked = PickTarget(before);
        return picked != nullptr ? *picked : Listed{};
    }();
    ASSERT_NE(target.nid, 0u);
    const bmtest::SoundIndex index = bmtest::ReadSoundIndex(sound);
    const auto entry = std::find_if(index.scan.leafNodes.begin(), index.scan.leafNodes.end(),
                                    [&](const ScannedNode& n) { return n.nid == target.nid; });
    ASSERT_NE(entry, index.scan.leafNodes.end());
    ASSERT_NE(entry->bidSub, 0u);

    {
        SCOPED_TRACE("subnode list overwritten");
        const fs::path copy = PrivateCopy(sound, "deleted_no_subnodes");
        ASSERT_TRUE(bmtest::DeleteMessage(copy, target.nid, Deletion::StalePage));
        ASSERT_TRUE(bmtest::OverwriteBlock(copy, entry->bidSub));
        const Listing recovered = ListAll(copy, true);
        const std::vector<const Listed*> deleted = DeletedOnes(recovered);
        ASSERT_EQ(deleted.size(), 1u);
        EXPECT_EQ(deleted.front()->subject, target.subject);
        // A body kept in a subnode is gone with the list; what is left
        // is the item's own, never another one's.
        EXPECT_TRUE(deleted.front()->body == target.body || deleted.front()->body == "\x1f\x1f")
            << deleted.front()->body;
        EXPECT_EQ(deleted.front()->attachments, 0u);
        EXPECT_TRUE(deleted.front()->incomplete);
        EXPECT_EQ(recovered.report.withoutSubnodes, 1u);
    }
    {
        SCOPED_TRACE("data block overwritten");
        const fs::path copy = PrivateCopy(sound, "deleted_no_data");
        ASSERT_TRUE(bmtest::DeleteMessage(copy, target.nid, Deletion::StalePage));
        ASSERT_TRUE(bmtest::OverwriteBlock(copy, entry->bidData));
        const Listing recovered = ListAll(copy, true);
        for (const Listed* d : DeletedOnes(recovered)) {
            EXPECT_NE(d->subject, target.subject);
            EXPECT_NE(d->nid, target.nid);
        }
        EXPECT_EQ(recovered.report.unreadable, 1u);
    }
}

TEST(DeletedItems, SoundStoresListTheSameAndShowNoLiveItemTwice) {
    for (const char* name : bmtest::kSharedStoreNames) {
        SCOPED_TRACE(name);
        BM_REQUIRE_STORE(store, name);
        const Listing plain = ListAll(store, false);
        const Listing recovered = ListAll(store, true);
        std::vector<const Listed*> live;
        for (const Listed& i : recovered.items)
            if (!i.deleted()) live.push_back(&i);
        ASSERT_EQ(live.size(), plain.items.size());
        std::set<std::pair<std::string, Bytes>> liveIds;
        for (std::size_t i = 0; i < live.size(); ++i) {
            EXPECT_EQ(live[i]->nid, plain.items[i].nid);
            EXPECT_EQ(live[i]->folder, plain.items[i].folder);
            liveIds.insert({live[i]->subject, live[i]->delivery});
        }
        for (const Listed* d : DeletedOnes(recovered)) {
            if (d->delivery.empty()) continue;  // nothing to tell it by
            EXPECT_EQ(liveIds.count({d->subject, d->delivery}), 0u) << "listed twice: " << d->subject;
        }
    }
}

// The data block of the message `subject` of a store our writer made.
std::uint64_t DataBidOf(const fs::path& path, const char* subject) {
    bmtest::StoreMap map(path);
    return map.Message(subject).bidData();
}

// Appends to the file a copy of its last page (an index page left in the
// free space) in which the entry of `nid` names `bidData` instead.
void LeaveStalePageNaming(const fs::path& path, std::uint32_t nid, std::uint64_t bidData) {
    const bmtest::SoundIndex sound = bmtest::ReadSoundIndex(path);
    ASSERT_NE(sound.layout, nullptr);
    const StoreLayout& layout = *sound.layout;
    std::vector<std::uint8_t> bytes = bmtest::ReadWholeFile(path);
    ASSERT_EQ(bytes.size() % layout.page.size, 0u);
    const std::size_t from = bytes.size() - layout.page.size;
    const std::size_t at = bytes.size();
    bytes.insert(bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
    bool named = false;
    for (std::size_t e = 0; e + layout.nbtLeaf.size <= layout.page.footerCountAt; e += layout.nbtLeaf.size) {
        if (bmtest::deleted_detail::GetLe(bytes, at + e + layout.nbtLeaf.nidAt, 4) != nid) continue;
        bmtest::deleted_detail::PutLe(bytes, at + e + layout.nbtLeaf.bidDataAt, layout.idWidth, bidData);
        named = true;
    }
    ASSERT_TRUE(named) << "the last page does not name 0x" << std::hex << nid;
    bmtest::deleted_detail::SealPage(bytes, at, layout.page, false);
    bmtest::WriteWholeFile(path, bytes);
}

// Message heaps the scan finds that no entry names, and versions of one
// deleted message: each item comes back once, with its own subject and
// body, and a heap or version that is the same as an item already shown
// is left out (a version counted as merged).
TEST(DeletedItems, AHeapNothingNamesComesBackOnceAndOneLikeAShownItemIsLeftOut) {
    struct Case {
        const char* name;
        // Changes the store; returns the subject that must come back, or "".
        std::function<std::string(const fs::path&, std::uint32_t nid)> make;
        std::uint64_t fromFreeHeaps;
        std::uint64_t fromStalePages;
        std::uint64_t versionsMerged;
    };
    const Case cases[] = {
        {"deleted, no index page names it any more",
         [](const fs::path& path, std::uint32_t nid) {
             const auto size = fs::file_size(path);
             EXPECT_TRUE(bmtest::DeleteMessage(path, nid, Deletion::StalePage));
             fs::resize_file(path, size);  // the stale page's space was used again
             return std::string("short one");
         },
         1, 0, 0},
        {"an earlier version of a live item",
         [](const fs::path& path, std::uint32_t) {
             EXPECT_NE(bmtest::LeaveEarlierCopy(path, DataBidOf(path, "short two")), 0u);
             return std::string();
         },
         0, 0, 0},
        {"deleted, and two stale pages name two equal versions of it",
         [](const fs::path& path, std::uint32_t nid) {
             const std::uint64_t earlier = bmtest::LeaveEarlierCopy(path, DataBidOf(path, "short one"));
             EXPECT_NE(earlier, 0u);
             EXPECT_TRUE(bmtest::DeleteMessage(path, nid, Deletion::StalePage));
             LeaveStalePageNaming(path, nid, earlier);
             return std::string("short one");
         },
         0, 1, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = bmtest::ScratchDir("deleted-heap-" + std::to_string(++n));
        const fs::path path = bmtest::WriteMailStore(dir);
        const Listing sound = ListAll(path, false);
        const auto original = std::find_if(sound.items.begin(), sound.items.end(),
                                           [](const Listed& i) { return i.subject == "short one"; });
        ASSERT_NE(original, sound.items.end());
        const Listed target = *original;
        const std::string back = c.make(path, target.nid);

        const Listing plain = ListAll(path, false);
        const Listing recovered = ListAll(path, true);
        const std::vector<const Listed*> deleted = DeletedOnes(recovered);
        EXPECT_EQ(recovered.report.fromFreeHeaps, c.fromFreeHeaps);
        EXPECT_EQ(recovered.report.fromStalePages, c.fromStalePages);
        EXPECT_EQ(recovered.report.versionsMerged, c.versionsMerged);
        EXPECT_EQ(recovered.items.size(), plain.items.size() + deleted.size());
        if (back.empty()) {
            EXPECT_TRUE(deleted.empty()) << deleted.front()->subject;
            continue;
        }
        ASSERT_EQ(deleted.size(), 1u);
        const Listed& item = *deleted.front();
        EXPECT_EQ(item.subject, back);
        EXPECT_EQ(item.messageClass, target.messageClass);
        EXPECT_EQ(item.delivery, target.delivery);
        EXPECT_EQ(item.body, target.body);
        for (const Listed& live : plain.items) EXPECT_NE(live.subject, back) << "still live";

        // The saving run counts it once, as found by the scan, and says
        // where it came from.
        class Quiet : public SavingObserver {} observer;
        SavingRun run(observer, nullptr);
        SavingSource source;
        source.sourcePath = path.string();
        source.destination = dir / "out";
        source.recoverDeleted = true;
        std::vector<std::string> folders = recovered.folders;
        source.selected.SelectAll(folders);
        ASSERT_TRUE(run.Start(source));
        run.Wait();
        ASSERT_EQ(run.outcome(), AnalysisOutcome::Completed);
        const Reconciliation account = run.reconciliation();
        EXPECT_EQ(account.totals().saved, static_cast<std::int64_t>(recovered.items.size()));
        EXPECT_EQ(account.totals().foundByScan, 1);
        ASSERT_TRUE(account.deleted().has_value());
        EXPECT_EQ(account.deleted()->fromFreeSpace, static_cast<std::int64_t>(c.fromFreeHeaps));
        EXPECT_EQ(account.deleted()->fromStalePages, static_cast<std::int64_t>(c.fromStalePages));
        EXPECT_EQ(account.deleted()->versionsMerged, static_cast<std::int64_t>(c.versionsMerged));
    }
}

// "Mar 19, 2011 11:19:03.782750000 UTC" as seconds since 1970.
std::optional<std::int64_t> PffTime(const std::string& text) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    char month[4] = {};
    if (std::sscanf(text.c_str(), "%3s %d, %d %d:%d:%d", month, &tm.tm_mday, &tm.tm_year, &tm.tm_hour, &tm.tm_min,
                    &tm.tm_sec) != 6)
        return std::nullopt;
    for (int m = 0; m < 12; ++m)
        if (std::string(month) == kMonths[m]) tm.tm_mon = m;
    tm.tm_year -= 1900;
    return static_cast<std::int64_t>(timegm(&tm));
}

std::optional<std::int64_t> FileTimeSeconds(const Bytes& filetime) {
    if (filetime.size() != 8) return std::nullopt;
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | filetime[static_cast<std::size_t>(i)];
    return static_cast<std::int64_t>(v / 10000000ull) - 11644473600ll;
}

TEST(DeletedItems, ListEveryMessageLibpffRecovers) {
    if (std::system("command -v pffexport >/dev/null 2>&1") != 0) GTEST_SKIP() << "pffexport not installed";
    if (bmtest::SharedStoresDir().empty()) GTEST_SKIP() << "shared stores not present";
    std::size_t compared = 0;
    for (const char* name : bmtest::kSharedStoreNames) {
        SCOPED_TRACE(name);
        BM_REQUIRE_STORE(store, name);
        const fs::path dir = bmtest::ScratchDir(std::string("pffexport_") + bmtest::StoreTestName(name));
        const std::string command = "pffexport -q -m recovered -t '" + (dir / "out").string() + "' '" +
                                    store.string() + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const Listing ours = ListAll(store, true);
        std::set<std::pair<std::string, std::int64_t>> listed;
        for (const Listed& i : ours.items) listed.insert({i.subject, FileTimeSeconds(i.delivery).value_or(0)});

        const fs::path recovered = dir / "out.recovered";
        if (!fs::exists(recovered)) continue;
        for (const auto& item : fs::directory_iterator(recovered)) {
            const std::string leaf = item.path().filename().string();
            if (!item.is_directory() || leaf.rfind("Folder", 0) == 0) continue;
            std::string subject;
            std::int64_t delivery = 0;
            bool isItem = false;
            for (const auto& file : fs::directory_iterator(item.path())) {
                if (file.path().extension() != ".txt") continue;
                std::ifstream in(file.path());
                for (std::string line; std::getline(in, line);) {
                    const auto value = [&](const char* key) -> std::optional<std::string> {
                        if (line.rfind(key, 0) != 0) return std::nullopt;
                        const std::size_t at = line.find_first_not_of('\t', std::strlen(key));
                        return at == std::string::npos ? std::string() : line.substr(at);
                    };
                    if (auto s = value("Subject:"); s && subject.empty()) {
                        subject = *s;
                        isItem = true;
                    }
                    if (auto t = value("Delivery time:"); t && delivery == 0) delivery = PffTime(*t).value_or(0);
                }
            }
            if (!isItem) continue;  // a recovered folder, not a message
            EXPECT_EQ(listed.count({subject, delivery}), 1u) << leaf << ": " << subject;
            ++compared;
        }
    }
    EXPECT_GT(compared, 0u) << "libpff recovered no message from any shared store";
}

}  // namespace
}  // namespace bm
