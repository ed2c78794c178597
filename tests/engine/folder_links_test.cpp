// The special folders' links of a saved store: the entry ids the store's
// root folder and the Inbox hold for the calendar, contacts and the other
// special folders name the saved folders of the new store, whether the
// source names them by node id or, as an offline store does, by the
// folder's global counter; a link to a folder that was not saved is left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_test_helpers.h"
#include "engine/saving_run.h"
#include "messaging/messaging.h"
#include "output/folder_links.h"
#include "output/pst/store_writer.h"
#include "output/source_copy.h"
#include "store/store.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Link = pst::PstStore::FolderLink;

constexpr std::uint32_t kStoreRoot = 0x122;

Bytes MvBinary(const std::vector<Bytes>& values) {
    Bytes out;
    const auto put = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(static_cast<std::uint32_t>(values.size()));
    std::uint32_t at = static_cast<std::uint32_t>(4 + 4 * values.size());
    for (const Bytes& v : values) {
        put(at);
        at += static_cast<std::uint32_t>(v.size());
    }
    for (const Bytes& v : values) out.insert(out.end(), v.begin(), v.end());
    return out;
}

// One persisted block of id `persistId` whose entry id element holds `entryId`.
Bytes PersistBlock(std::uint16_t persistId, const Bytes& entryId) {
    Bytes out;
    const auto put16 = [&](std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    put16(persistId);
    put16(static_cast<std::uint16_t>(4 + entryId.size()));
    put16(0x0003);
    put16(static_cast<std::uint16_t>(entryId.size()));
    out.insert(out.end(), entryId.begin(), entryId.end());
    return out;
}

const Bytes kSentinel{0, 0, 0, 0};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The store written by a mail client, small: its root folder and its
// Inbox name Calendar (saved), Contacts (not saved) and Junk E-mail (saved).
fs::path WriteSource(const fs::path& dir) {
    const fs::path path = dir / "links.ost";
    auto store = pst::PstStore::Create(path, {.displayName = "Source", .seed = 7});
    const pst::FolderId inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    const pst::FolderId calendar = store->CreateFolder(store->ipmSubtree(), "Calendar", "IPF.Appointment");
    const pst::FolderId contacts = store->CreateFolder(store->ipmSubtree(), "Contacts", "IPF.Contact");
    const pst::FolderId junk = store->CreateFolder(store->ipmSubtree(), "Junk E-mail");
    store->AddMessage(inbox, bmtest::MessageOf("IPM.Note", "hello"));
    const auto to = [](std::uint16_t id, pst::FolderId folder) {
        return Link{id, pst::PropType::Binary, [folder](const pst::PstStore::EntryIdOf& of) { return of(folder); }};
    };
    // As an offline store has them: the calendar's long-term id (replica 1,
    // global counter 0x1D), and Exchange entry ids of 46 bytes naming it
    // and a folder the store does not hold.
    pst::PropertyBag calendarIds;
    calendarIds.SetInt64({0x67F4, pst::PropType::Int64}, 0x1D00000000000001);
    store->SetFolderProperties(calendar, calendarIds);
    const auto exchangeId = [](std::uint8_t counter) {
        Bytes id(46, 0);
        id[20] = 0x01;  // folder type: a private folder
        id[43] = counter;
        return Link{0, pst::PropType::Binary, [id](const pst::PstStore::EntryIdOf&) { return id; }};
    };
    Link exchangeToCalendar = exchangeId(0x1D);
    exchangeToCalendar.id = 0x36D2;
    Link exchangeToNothing = exchangeId(0x77);
    exchangeToNothing.id = 0x36D3;
    store->SetFolderLinks(store->root(), {to(0x36D0, calendar), to(0x36D1, contacts)});
    store->SetFolderLinks(
        inbox, {to(0x36D0, calendar), to(0x36D1, contacts), exchangeToCalendar, exchangeToNothing,
                Link{0x36D8, pst::PropType::MvBinary,
                     [=](const pst::PstStore::EntryIdOf& of) { return MvBinary({of(contacts), of(junk)}); }},
                Link{0x36D9, pst::PropType::Binary, [=](const pst::PstStore::EntryIdOf& of) {
                         return Join({PersistBlock(0x8001, of(contacts)), PersistBlock(0x8004, of(junk)), kSentinel});
                     }}});
    store->Finish();
    return path;
}

fs::path Save(const fs::path& source, const fs::path& destination, const std::vector<std::string>& folders) {
    const bmtest::SavedRun run = bmtest::SaveFolders(source, destination, folders);
    EXPECT_EQ(run.outputStores.size(), 1u);
    return run.outputStores.empty() ? fs::path() : run.outputStores[0];
}

std::map<std::uint16_t, Bytes> LinksOf(StoreFile& store, const NodeEntry& folder) {
    std::map<std::uint16_t, Bytes> out;
    for (SourceFolderLink& l : ReadSourceFolderLinks(store, folder)) out[l.id] = std::move(l.bytes);
    return out;
}

TEST(FolderLinks, LinksOfTheRootAndTheInboxNameTheSavedFoldersOfTheNewStore) {
    const fs::path dir = bmtest::ScratchDir("folder-links");
    const fs::path output = Save(WriteSource(dir), dir,
                                 {"Personal Folders\\Inbox\\", "Personal Folders\\Calendar\\",
                                  "Personal Folders\\Junk E-mail\\"});
    ASSERT_FALSE(output.empty());

    StoreFile store;
    StoreReader reader;
    ASSERT_EQ(OpenStore(store, output, StoreOpenMode::SharedRead), 0);
    ASSERT_EQ(BuildIndexes(store, reader), 0);
    const std::optional<pst::PropertyBag> storeObject = CopySourceFolderProperties(store, *FindNode(store, 0x21));
    ASSERT_TRUE(storeObject);
    Bytes recordKey;
    for (const pst::Property& p : storeObject->properties())
        if (p.key.id == 0x0FF9) recordKey = p.bytes;
    ASSERT_EQ(recordKey.size(), 16u);
    std::map<std::string, const NodeEntry*> byName;
    for (const NodeEntry& node : store.forest.records()) {
        if ((node.nid & 0x1F) != 0x02) continue;
        if (const auto record = ReadItem(store, node, &reader)) byName[record->displayName] = &node;
    }
    ASSERT_TRUE(byName.contains("Calendar") && byName.contains("Junk E-mail") && byName.contains("Inbox"));
    EXPECT_FALSE(byName.contains("Contacts"));
    const auto entryIdOf = [&](const char* name) {
        Bytes id(24, 0);
        std::copy(recordKey.begin(), recordKey.end(), id.begin() + 4);
        for (int i = 0; i < 4; ++i) id[20 + i] = static_cast<std::uint8_t>(byName.at(name)->nid >> (8 * i));
        return id;
    };

    const auto root = LinksOf(store, *FindNode(store, kStoreRoot));
    ASSERT_TRUE(root.contains(0x36D0));
    EXPECT_EQ(root.at(0x36D0), entryIdOf("Calendar"));
    EXPECT_FALSE(root.contains(0x36D1));  // Contacts was not saved

    const auto inbox = LinksOf(store, *byName.at("Inbox"));
    ASSERT_TRUE(inbox.contains(0x36D0));
    EXPECT_EQ(inbox.at(0x36D0), entryIdOf("Calendar"));
    EXPECT_FALSE(inbox.contains(0x36D1));
    // An Exchange entry id names the saved folder by its global counter.
    ASSERT_TRUE(inbox.contains(0x36D2));
    EXPECT_EQ(inbox.at(0x36D2), entryIdOf("Calendar"));
    EXPECT_FALSE(inbox.contains(0x36D3));
    ASSERT_TRUE(inbox.contains(0x36D8));
    EXPECT_EQ(inbox.at(0x36D8), MvBinary({Bytes(), entryIdOf("Junk E-mail")}));  // each in its place
    ASSERT_TRUE(inbox.contains(0x36D9));
    EXPECT_EQ(inbox.at(0x36D9), Join({PersistBlock(0x8004, entryIdOf("Junk E-mail")), kSentinel}));
    ReleaseStore(store);
}

}  // namespace
}  // namespace bm
