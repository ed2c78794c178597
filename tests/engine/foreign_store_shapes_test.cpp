// Shapes that stores written by other programs show, each built small in
// the test: folders whose own object holds no counts, items that sit under
// a folder in the node index but not in its contents table, and named
// values whose id the name-to-ID map does not name.
//
// The store: message store object 0x21 naming the subtree root 0x8022;
// under it "Inbox" (0x8042) and "Tasks" (0x8062) whose objects carry only
// a name and a class; "Tasks" has "Sub" (0x8082) below it. Inbox holds
// three messages, of which its contents table lists two (one of them
// unread); the third is outside the table. The store has no name-to-ID
// map, and the read message holds two values under named ids.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/analysis_run.h"
#include "engine/engine_test_helpers.h"
#include "engine/store_listing.h"
#include "output/output_readback.h"
#include "messaging/messaging.h"
#include "common/utf.h"
#include "store/store.h"
#include "support/heap_image.h"
#include "support/store_image.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kRootNid = 0x8022;
constexpr std::uint32_t kInboxNid = 0x8042;
constexpr std::uint32_t kInboxContentsNid = 0x804E;
constexpr std::uint32_t kTasksNid = 0x8062;
constexpr std::uint32_t kSubNid = 0x8082;
constexpr std::uint32_t kReadNid = 0x200024;
constexpr std::uint32_t kUnreadNid = 0x200044;
constexpr std::uint32_t kUnlistedNid = 0x200064;

Bytes FolderObject(std::u16string_view name, std::u16string_view containerClass) {
    return bmtest::PropertyContextImage{}
        .Heap(0x3001, kPtUnicode, bmtest::Utf16(name))
        .Heap(0x3613, kPtUnicode, bmtest::Utf16(containerClass))
        .Build()[0];
}

// `named`: with two values under named ids.
Bytes Message(std::u16string_view subject, bool named = false, std::u16string_view messageClass = u"IPM.Note") {
    bmtest::PropertyContextImage pc;
    pc.Heap(0x001A, kPtUnicode, bmtest::Utf16(messageClass)).Heap(0x0037, kPtUnicode, bmtest::Utf16(subject));
    if (named) pc.Inline(0x8123, kPtLong, 7).Inline(0x81A0, kPtLong, 8);
    return pc.Build()[0];
}

// A contents table listing `rows` (NID, PR_MESSAGE_FLAGS).
Bytes ContentsTable(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& rows) {
    bmtest::TableContextImage table({{0x67F2, kPtLong, 0, 4, 0}, {0x0E07, kPtLong, 4, 4, 1}}, 9);
    for (const auto& [nid, flags] : rows) {
        Bytes& row = table.AddRow();
        bmtest::PutU32(row, 0, nid);
        bmtest::PutU32(row, 4, flags);
        row[8] = 0xC0;  // both cells exist
    }
    return table.Build()[0];
}

// `inboxName`: what the folder 0x8042 is called; `unlistedClass`: the
// class of the message outside its contents table.
fs::path BuildStore(std::u16string_view inboxName = u"Inbox", std::u16string_view unlistedClass = u"IPM.Note") {
    bmtest::StoreBuilder b(kUnicodeLayout);
    Bytes subtree(20, 0);
    bmtest::AppendU32(subtree, kRootNid);
    b.AddDataBlock(4, bmtest::PropertyContextImage{}.Heap(0x35E0, kPtBinary, subtree).Build()[0]);
    b.AddNode(0x21, 4, 0, 0);
    b.AddDataBlock(8, FolderObject(u"Top of Personal Folders", u"IPF.Note"));
    b.AddNode(kRootNid, 8, 0, kRootNid);
    b.AddDataBlock(12, FolderObject(inboxName, u"IPF.Note"));
    b.AddNode(kInboxNid, 12, 0, kRootNid);
    b.AddDataBlock(16, ContentsTable({{kReadNid, 0x01}, {kUnreadNid, 0x00}}));
    b.AddNode(kInboxContentsNid, 16, 0, 0);
    b.AddDataBlock(20, FolderObject(u"Tasks", u"IPF.Task"));
    b.AddNode(kTasksNid, 20, 0, kRootNid);
    b.AddDataBlock(24, FolderObject(u"Sub", u"IPF.Task"));
    b.AddNode(kSubNid, 24, 0, kTasksNid);
    b.AddDataBlock(28, Message(u"read", true));
    b.AddNode(kReadNid, 28, 0, kInboxNid);
    b.AddDataBlock(32, Message(u"unread"));
    b.AddNode(kUnreadNid, 32, 0, kInboxNid);
    b.AddDataBlock(36, Message(u"not in the table", false, unlistedClass));
    b.AddNode(kUnlistedNid, 36, 0, kInboxNid);
    const fs::path path = bmtest::ScratchDir("foreign-shapes") / "store.ost";
    b.Build().image.Save(path);
    return path;
}

// What `list` shows: folder path -> the NIDs of its items.
class Listed : public StoreListingVisitor {
public:
    void OnFolderBegin(const ListedFolder& folder) override {
        current_ = folder.path;
        folders[folder.path];
    }
    void OnItem(std::uint32_t nid, const ItemRecord&) override { folders[current_].push_back(nid); }
    void OnUnreadableItem(std::uint32_t nid) override { folders[current_].push_back(nid); }

    std::map<std::string, std::vector<std::uint32_t>> folders;

private:
    std::string current_;
};

TEST(ForeignStoreShapes, AFolderWhoseObjectHoldsNoCountsIsAFolderWithCountsFromItsContentsTable) {
    const fs::path path = BuildStore();
    StoreFile store;
    StoreReader reader;
    ASSERT_EQ(OpenStore(store, path, StoreOpenMode::SharedRead), 0);
    ASSERT_EQ(BuildIndexes(store, reader), 0);
    const struct {
        std::uint32_t nid;
        std::uint32_t content;
        std::uint32_t unread;
        std::uint8_t subfolders;
    } cases[] = {{kInboxNid, 2, 1, 0}, {kTasksNid, 0, 0, 1}, {kSubNid, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nid);
        const auto record = ReadItem(store, *FindNode(store, c.nid), &reader);
        ASSERT_NE(record, nullptr);
        ASSERT_NE(record->folderCounts, nullptr);
        EXPECT_EQ(record->folderCounts->contentCount, c.content);
        EXPECT_EQ(record->folderCounts->unreadCount, c.unread);
        EXPECT_EQ(record->folderCounts->hasSubfolders, c.subfolders);
    }
    // A message is never made a folder.
    EXPECT_EQ(ReadItem(store, *FindNode(store, kReadNid), &reader)->folderCounts, nullptr);
    ReleaseStore(store);

    Listed listed;
    StoreReader listReader;
    ASSERT_EQ(ListStoreContents(path, listed, listReader).result, StoreListingResult::Listed);
    EXPECT_TRUE(listed.folders.contains("Personal Folders\\Tasks\\"));
    EXPECT_TRUE(listed.folders.contains("Personal Folders\\Tasks\\Sub\\"));
    EXPECT_TRUE(listed.folders.at("Personal Folders\\").empty());
    EXPECT_TRUE(listed.folders.at("Personal Folders\\Tasks\\").empty());
}

TEST(ForeignStoreShapes, AnItemOutsideItsFoldersContentsTableIsKeptAsDeletedAndCountedApart) {
    const fs::path path = BuildStore();
    const std::string inbox = "Personal Folders\\Inbox\\";
    const std::string deleted = "Personal Folders\\Recovered Items\\Deleted\\Inbox\\";
    Listed listed;
    StoreReader reader;
    ASSERT_EQ(ListStoreContents(path, listed, reader).result, StoreListingResult::Listed);
    EXPECT_EQ(listed.folders[inbox], (std::vector<std::uint32_t>{kReadNid, kUnreadNid}));
    EXPECT_EQ(listed.folders[deleted], (std::vector<std::uint32_t>{kUnlistedNid}));

    class Quiet : public AnalysisObserver {} observer;
    AnalysisRun run(observer, nullptr, bmtest::ScratchDir("foreign-shapes-app"));
    bmtest::AnalyseToEnd(run, path);
    const Reconciliation account = run.reconciliation();
    ASSERT_EQ(account.unlisted().size(), 1u);
    EXPECT_EQ(account.unlisted()[0].nid, kUnlistedNid);
    EXPECT_EQ(account.unlisted()[0].folder, deleted);
    EXPECT_EQ(account.unlisted()[0].subject, "not in the table");
    std::map<std::string, FolderTally> tallies;
    for (const FolderTally& t : account.folders()) tallies[t.path] = t;
    EXPECT_EQ(tallies[inbox].foundByIndex, 2);
    EXPECT_EQ(tallies[deleted].foundByIndex, 1);
    EXPECT_EQ(tallies[deleted].read, 1);
    EXPECT_EQ(account.totals().foundByScan, 0);
    EXPECT_NE(ReconciliationJson(account).find("\"unlisted\":{\"count\":1,"), std::string::npos);
    EXPECT_FALSE(account.deleted());  // the search for deleted items did not run
}

// The folder the unlisted item is kept in carries its own folder's name,
// here the name the source gives its top: the item is saved there, in
// that folder below "Recovered Items\Deleted", like the listing shows it.
TEST(ForeignStoreShapes, AnUnlistedItemOfAFolderNamedLikeTheTopIsSavedBelowDeletedInAFolderOfThatName) {
    for (const std::u16string_view cls : {u"IPM.Note", u"IPM.Task", u"IPM.Contact", u"IPM.StickyNote"}) {
        SCOPED_TRACE(Utf16ToUtf8(cls));
        const fs::path source = BuildStore(u"Personal Folders", cls);
        const bmtest::SavedRun run = bmtest::SaveFolders(
            source, bmtest::ScratchDir("foreign-shapes-top-name"),
            {"Personal Folders\\", "Personal Folders\\Personal Folders\\", "Personal Folders\\Recovered Items\\",
             "Personal Folders\\Recovered Items\\Deleted\\",
             "Personal Folders\\Recovered Items\\Deleted\\Personal Folders\\"});
        ASSERT_EQ(run.outputStores.size(), 1u);
        EXPECT_EQ(run.account.totals().saved, 3);
        const bmtest::ReadBackStore saved = bmtest::ReadBack(run.outputStores[0]);
        std::map<std::string, std::vector<std::string>> subjects;
        for (const bmtest::ReadBackItem& item : saved.items)
            subjects[item.folder].push_back(bmtest::SubjectOf(*item.record));
        const std::map<std::string, std::vector<std::string>> expected = {
            {"Personal Folders", {"read", "unread"}},
            {"Recovered Items\\Deleted\\Personal Folders", {"not in the table"}},
        };
        EXPECT_EQ(subjects, expected);
    }
}

// The store has no name-to-ID map: a value under a named id (0x8000 and
// up) cannot be carried into another store. It is left out, and the
// account says of which item and which ids, value by value.
TEST(ForeignStoreShapes, NamedValuesWithoutANameAreCountedPerItemWithTheirIds) {
    const fs::path source = BuildStore();
    const Reconciliation account =
        bmtest::SaveFolders(source, bmtest::ScratchDir("foreign-shapes-saved"), {"Personal Folders\\Inbox\\"}).account;
    EXPECT_EQ(account.totals().saved, 2);
    ASSERT_EQ(account.unnamedValues().size(), 1u);
    const UnnamedValuesItem& item = account.unnamedValues()[0];
    EXPECT_EQ(item.nid, kReadNid);
    EXPECT_EQ(item.folder, "Personal Folders\\Inbox\\");
    EXPECT_EQ(item.subject, "read");
    EXPECT_EQ(item.propertyIds, (std::vector<std::uint16_t>{0x8123, 0x81A0}));
    EXPECT_NE(ReconciliationJson(account).find("\"unnamedValues\":{\"count\":2,"), std::string::npos);
}

}  // namespace
}  // namespace bm
