// Folders whose own record is lost, and folders placed by their parents'
// hierarchy rows. The damage is made here, with fixed seeds, in stores our
// writer makes: a folder's own block overwritten while its messages
// survive, with or without the witnesses of its name; a folder's index
// entry naming the wrong parent or a parent that is gone.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "engine/hierarchy_rows.h"
#include "engine/lost_folders.h"
#include "engine/store_listing.h"
#include "messaging/messaging.h"
#include "store/nid_types.h"
#include "store/store.h"
#include "support/damaged_mail_store.h"
#include "support/item_fingerprints.h"
#include "support/store_damage.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using bmtest::MessageOf;

// Top of Personal Folders: Inbox (3 mails), Projects (2 mails, and a
// subfolder Old with 1), Deleted Items (1 mail); the root folder names
// Projects as the calendar.
fs::path WriteFolderStore(const fs::path& dir) {
    const fs::path path = dir / "folders.ost";
    auto store = pst::PstStore::Create(path, {});
    const auto inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    for (const char* s : {"in one", "in two", "in three"}) store->AddMessage(inbox, MessageOf("IPM.Note", s));
    const auto projects = store->CreateFolder(store->ipmSubtree(), "Projects");
    store->AddMessage(projects, MessageOf("IPM.Note", "plan"));
    store->AddMessage(projects, MessageOf("IPM.Note", "budget"));
    store->AddMessage(store->CreateFolder(projects, "Old"), MessageOf("IPM.Note", "archive"));
    store->AddMessage(store->deletedItems(), MessageOf("IPM.Note", "thrown away"));
    store->Finish();
    return path;
}

// Where the parts of the store lie, found through its own index.
struct FolderSpots {
    std::uint32_t nid = 0;
    std::uint32_t parentNid = 0;
    std::uint64_t blockOffset = 0;  // the folder's own property block
    std::size_t blockSize = 0;
    std::uint64_t parentTableOffset = 0;  // the parent's hierarchy table block
    std::size_t parentTableSize = 0;
};

FolderSpots FindFolder(const fs::path& path, const std::string& name) {
    FolderSpots out;
    StoreFile store;
    StoreReader reader;
    EXPECT_EQ(OpenStore(store, path, StoreOpenMode::SharedRead), 0);
    EXPECT_EQ(BuildIndexes(store, reader), 0);
    LoadNamedPropertyMap(store);
    for (const NodeEntry& node : store.forest.records()) {
        if (!IsNormalFolderNid(node.nid)) continue;
        const auto record = ReadItem(store, node);
        if (!record || record->displayName != name) continue;
        out.nid = node.nid;
        out.parentNid = node.nidParent;
        out.blockOffset = node.dataBlock()->offset();
        out.blockSize = node.dataBlock()->size();
        const NodeEntry* table = FindNode(store, (node.nidParent & ~kNidTypeMask) | kNidTypeHierarchyTable);
        EXPECT_NE(table, nullptr);
        out.parentTableOffset = table->dataBlock()->offset();
        out.parentTableSize = table->dataBlock()->size();
    }
    EXPECT_NE(out.nid, 0u) << "no folder " << name;
    ReleaseStore(store);
    return out;
}

// The folder paths the runs' walk lists, each with its item subjects.
std::vector<std::string> Listed(const fs::path& path) {
    const bmtest::StoreListing listing = bmtest::ListStore(path, false);
    EXPECT_EQ(listing.status, MailSubtreeStatus::Found);
    return listing.lines;
}

std::size_t ItemsUnder(const std::vector<std::string>& lines, const std::string& folder) {
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.starts_with(folder + " | ");
    }));
}

struct LostCase {
    const char* name;
    const char* folder;        // whose own block is overwritten
    bool parentTableToo;       // the parent's hierarchy table overwritten as well
    std::string expectedName;  // "" for "Folder <nid>"
    std::size_t items;         // its own items
};

TEST(LostFolders, AFolderWhoseRecordIsOverwrittenKeepsItsItemsUnderItsRecoveredName) {
    const LostCase cases[] = {
        {"named by its parent's hierarchy row", "Inbox", false, "Inbox", 3},
        {"named by the store's wastebasket entry id", "Deleted Items", true, "Deleted Items", 1},
        {"named by nothing but its node id", "Projects", true, "", 2},
    };
    int n = 0;
    for (const LostCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = bmtest::ScratchDir("lost-folder-" + std::to_string(++n));
        const fs::path path = WriteFolderStore(dir);
        const std::vector<std::string> before = Listed(path);
        const FolderSpots spots = FindFolder(path, c.folder);
        std::vector<std::uint8_t> bytes = bmtest::ReadWholeFile(path);
        bmtest::Scribble(bytes, spots.blockOffset, spots.blockSize, 21);
        if (c.parentTableToo) bmtest::Scribble(bytes, spots.parentTableOffset, spots.parentTableSize, 22);
        bmtest::WriteWholeFile(path, bytes);

        const std::string name = c.expectedName.empty() ? fmt::format("Folder {:X}", spots.nid) : c.expectedName;
        const std::string folder = "Personal Folders\\" + name + "\\";
        const std::vector<std::string> after = Listed(path);
        EXPECT_EQ(ItemsUnder(after, folder), c.items) << ::testing::PrintToString(after);
        // Nothing else moved: every item listed before is listed, and no
        // folder id is ever listed as an item.
        std::size_t itemsBefore = 0;
        for (const std::string& line : before) itemsBefore += line.find(" | ") != std::string::npos;
        std::size_t itemsAfter = 0;
        for (const std::string& line : after) itemsAfter += line.find(" | ") != std::string::npos;
        EXPECT_EQ(itemsAfter, itemsBefore) << ::testing::PrintToString(after);
        if (std::string(c.folder) == "Projects") {
            EXPECT_EQ(ItemsUnder(after, folder + "Old\\"), 1u) << "its subfolder is walked below it";
        }

        // Saved under that name, and the account says the record was lost.
        const bmtest::SavedRun saved = bmtest::SaveFolders(path, dir / "out", bmtest::FingerprintStore(path).folders);
        ASSERT_EQ(saved.outcome, AnalysisOutcome::Completed);
        const auto tally = std::find_if(saved.account.folders().begin(), saved.account.folders().end(),
                                        [&](const FolderTally& t) { return t.path == folder; });
        ASSERT_NE(tally, saved.account.folders().end());
        EXPECT_EQ(tally->saved, static_cast<std::int64_t>(c.items));
        EXPECT_TRUE(tally->recordLost);
        EXPECT_EQ(saved.account.totals().saved, static_cast<std::int64_t>(itemsBefore));
        EXPECT_NE(ReconciliationJson(saved.account).find("\"path\":" + JsonString(folder) + ","), std::string::npos);
        for (const FolderTally& t : saved.account.folders()) EXPECT_EQ(t.recordLost, t.path == folder) << t.path;

        // The listing for the command line shows it as a folder, never as
        // an item without a subject.
        class Folders : public StoreListingVisitor {
        public:
            void OnFolderBegin(const ListedFolder& f) override {
                if (f.recordLost) lost.push_back(f.path);
            }
            void OnItem(std::uint32_t nid, const ItemRecord&) override {
                if (IsFolderNid(nid)) ADD_FAILURE() << "folder 0x" << std::hex << nid << " listed as an item";
            }
            void OnUnreadableItem(std::uint32_t nid) override {
                if (IsFolderNid(nid)) ADD_FAILURE() << "folder 0x" << std::hex << nid << " listed as an item";
            }
            std::vector<std::string> lost;
        } visitor;
        StoreReader reader;
        EXPECT_EQ(ListStoreContents(path, visitor, reader).result, StoreListingResult::Listed);
        EXPECT_EQ(visitor.lost, std::vector<std::string>{folder});
    }
}

// A well-known folder of a store another program wrote, its own property
// block and its parent's hierarchy table both overwritten: no row names it
// any more, so the name comes from the store's well-known folder entry ids
// (the receive folder table for the Inbox, the root folder's links for the
// others), and its items are walked and saved under it. The offline store
// keeps its Calendar's and Contacts' links as long-term ids, which name no
// node: there only the Inbox has a name left.
TEST(LostFolders, AWellKnownFolderOfARealStoreIsSavedUnderItsWellKnownName) {
    struct Case {
        const char* store;
        const char* folder;
        std::uint64_t seed;
    };
    const Case cases[] = {
        {"unicode-sample.ost", "Inbox", 31},         // the receive folder table, by NID
        {"unicode-dist-list.pst", "Contacts", 33},   // the root folder's link
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.store) + " " + c.folder);
        const fs::path shared = bmtest::SharedStore(c.store);
        if (shared.empty()) GTEST_SKIP() << "shared store " << c.store << " not present";
        const fs::path dir = bmtest::ScratchDir(std::string("lost-well-known-") + c.store + "-" + c.folder);
        const fs::path path = dir / shared.filename();
        fs::copy_file(shared, path);
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
        const std::vector<std::string> before = Listed(path);
        const auto at = std::find_if(before.begin(), before.end(), [&](const std::string& line) {
            return line.ends_with(std::string("\\") + c.folder + "\\");
        });
        ASSERT_NE(at, before.end()) << ::testing::PrintToString(before);
        const std::string folder = *at;
        const std::size_t items = ItemsUnder(before, folder);
        ASSERT_GT(items, 0u) << "a folder with nothing in it proves nothing";

        const FolderSpots spots = FindFolder(path, c.folder);
        std::vector<std::uint8_t> bytes = bmtest::ReadWholeFile(path);
        bmtest::Scribble(bytes, spots.blockOffset, spots.blockSize, c.seed);
        bmtest::Scribble(bytes, spots.parentTableOffset, spots.parentTableSize, c.seed + 100);
        bmtest::WriteWholeFile(path, bytes);
        {
            // Neither witness but the entry ids is left.
            StoreFile store;
            StoreReader reader;
            ASSERT_EQ(OpenStore(store, path, StoreOpenMode::SharedRead), 0);
            BuildIndexes(store, reader);
            const NodeEntry* node = FindNode(store, spots.nid);
            ASSERT_NE(node, nullptr);
            const auto own = ReadItem(store, *node);
            EXPECT_FALSE(own && own->folderCounts) << "its own record still reads";
            for (const HierarchyRow& row : ReadHierarchyRows(store, spots.parentNid))
                EXPECT_NE(row.nid, spots.nid) << "its parent's row still names it";
            ReleaseStore(store);
        }

        const std::vector<std::string> after = Listed(path);
        EXPECT_EQ(ItemsUnder(after, folder), items) << ::testing::PrintToString(after);
        const bmtest::SavedRun saved = bmtest::SaveFolders(path, dir / "out", bmtest::FingerprintStore(path).folders);
        ASSERT_EQ(saved.outcome, AnalysisOutcome::Completed);
        const auto tally = std::find_if(saved.account.folders().begin(), saved.account.folders().end(),
                                        [&](const FolderTally& t) { return t.path == folder; });
        ASSERT_NE(tally, saved.account.folders().end());
        EXPECT_TRUE(tally->recordLost);
        EXPECT_EQ(tally->found(), static_cast<std::int64_t>(items));
        EXPECT_EQ(tally->saved, static_cast<std::int64_t>(items));
        EXPECT_EQ(tally->lost, 0);
        for (const FolderTally& t : saved.account.folders()) EXPECT_EQ(t.recordLost, t.path == folder) << t.path;
    }
}

// Rewrites the node-index leaf entry of `nid` in place, its page's
// checksum made anew (as a store written by another program would hold
// it): `parent` set as its parent, or the entry taken out of its page when
// `parent` is nullopt.
void EditNodeEntry(const fs::path& path, std::uint32_t nid, std::optional<std::uint32_t> parent) {
    std::vector<std::uint8_t> bytes = bmtest::ReadWholeFile(path);
    {
        StoreFile store;
        StoreReader reader;
        store.keepPagesEntered = true;
        ASSERT_EQ(OpenStore(store, path, StoreOpenMode::SharedRead), 0);
        ASSERT_EQ(BuildIndexes(store, reader), 0);
        const StoreLayout& layout = *store.layout;
        const NodeEntryFields& f = layout.nbtLeaf;
        const PageFields& p = layout.page;
        bool edited = false;
        for (const std::uint64_t page : store.nbtPagesEntered) {
            const ByteReader r(std::span<const std::uint8_t>(bytes).subspan(page, p.size));
            if (r.peekAt(p.footerEntrySizeAt + 1, 1) != 0) continue;  // an inner page
            const std::size_t count = r.peekAt(p.footerCountAt, p.footerFieldWidth).value_or(0);
            for (std::size_t i = 0; i < count && !edited; ++i) {
                const std::size_t at = page + i * f.size;
                if (r.peekAt(i * f.size + f.nidAt, 4) != nid) continue;
                if (parent) {
                    for (std::size_t k = 0; k < 4; ++k) bytes[at + f.parentAt + k] = static_cast<std::uint8_t>(*parent >> (8 * k));
                } else {
                    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(at + f.size),
                              bytes.begin() + static_cast<std::ptrdiff_t>(page + count * f.size),
                              bytes.begin() + static_cast<std::ptrdiff_t>(at));
                    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(page + (count - 1) * f.size), f.size, 0);
                    bytes[page + p.footerCountAt] = static_cast<std::uint8_t>(count - 1);
                }
                const std::uint32_t crc = ComputeCrc(std::span<const std::uint8_t>(bytes).subspan(page, p.crcCovers));
                for (std::size_t k = 0; k < 4; ++k) bytes[page + p.crcAt + k] = static_cast<std::uint8_t>(crc >> (8 * k));
                edited = true;
            }
        }
        ASSERT_TRUE(edited) << "no leaf entry of 0x" << std::hex << nid;
        ReleaseStore(store);
    }
    bmtest::WriteWholeFile(path, bytes);
}

TEST(FolderPlacement, TheParentsHierarchyRowsPlaceAFolderTheIndexMisplacesOrLost) {
    struct Case {
        const char* name;
        bool removeEntry;         // the folder's own index entry taken out
        std::uint32_t parentOf;   // else: its entry names this parent (0: the Inbox)
    };
    const Case cases[] = {
        {"its entry names another folder as its parent", false, 0},
        {"its entry names a parent the store does not hold", false, 0x7FFE2},
        {"the index lost its entry", true, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = bmtest::ScratchDir("folder-placement-" + std::to_string(++n));
        const fs::path path = WriteFolderStore(dir);
        const FolderSpots old = FindFolder(path, "Old");
        if (c.removeEntry)
            EditNodeEntry(path, old.nid, std::nullopt);
        else
            EditNodeEntry(path, old.nid, c.parentOf != 0 ? c.parentOf : FindFolder(path, "Inbox").nid);

        const std::vector<std::string> lines = Listed(path);
        EXPECT_EQ(ItemsUnder(lines, "Personal Folders\\Projects\\Old\\"), 1u) << ::testing::PrintToString(lines);
        EXPECT_EQ(ItemsUnder(lines, "Personal Folders\\Inbox\\Old\\"), 0u);
        EXPECT_EQ(ItemsUnder(lines, "Personal Folders\\Inbox\\"), 3u);
        EXPECT_EQ(ItemsUnder(lines, "Personal Folders\\Projects\\"), 2u);
    }
}

}  // namespace
}  // namespace bm
