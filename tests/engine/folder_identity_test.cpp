// Which folder of the new store each source folder becomes in a saving run:
// same-named siblings stay apart with their own items and subfolders, a
// name holding "\" stays one folder, a folder without a name is kept as a
// visible folder of its own, and a deeply nested chain is saved whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/engine_test_helpers.h"
#include "engine/saving_run.h"
#include "messaging/messaging.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "output/save_to_pst.h"
#include "check/store_checker.h"
#include "store/nid_types.h"
#include "store/store.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using bmtest::MessageOf;

constexpr std::uint32_t kRootFolderNid = 0x122;

// The folders of a written store as they hang: names, parents and the
// subjects of each folder's items.
struct FolderNode {
    std::string name;
    std::uint32_t parent = 0;
    std::vector<std::string> subjects;  // sorted
    std::vector<std::uint32_t> children;
};

struct FolderTree {
    std::map<std::uint32_t, FolderNode> nodes;
    std::uint32_t top = 0;  // the top of the personal folders

    std::vector<const FolderNode*> ChildrenNamed(std::uint32_t parent, const std::string& name) const {
        std::vector<const FolderNode*> out;
        for (const std::uint32_t c : nodes.at(parent).children)
            if (nodes.at(c).name == name) out.push_back(&nodes.at(c));
        return out;
    }
    std::uint32_t NidOf(const FolderNode* node) const {
        for (const auto& [nid, n] : nodes)
            if (&n == node) return nid;
        return 0;
    }
};

FolderTree ReadFolderTree(const fs::path& path) {
    FolderTree tree;
    StoreFile store;
    StoreReader reader;
    EXPECT_EQ(OpenStore(store, path, StoreOpenMode::SharedRead), 0) << path;
    EXPECT_EQ(BuildIndexes(store, reader), 0);
    LoadNamedPropertyMap(store);
    for (const NodeEntry& node : store.forest.records()) {
        if ((node.nid & 0x1F) != 0x02 || node.nid == kRootFolderNid || store.forest.Parent(node) == nullptr) continue;
        const auto record = ReadItem(store, node, &reader);
        FolderNode& f = tree.nodes[node.nid];
        f.name = record ? record->displayName : std::string();
        f.parent = store.forest.Parent(node)->nid;
        if (f.parent == kRootFolderNid && f.name == "Top of Personal Folders") tree.top = node.nid;
    }
    for (const NodeEntry& node : store.forest.records()) {
        if (!IsNormalMessageNid(node.nid) || store.forest.Parent(node) == nullptr) continue;
        const auto folder = tree.nodes.find(store.forest.Parent(node)->nid);
        if (folder == tree.nodes.end()) continue;
        const auto record = ReadItem(store, node, &reader);
        if (record && record->messageFields && record->messageFields->subject)
            folder->second.subjects.push_back(record->messageFields->subject->text);
    }
    ReleaseStore(store);
    for (auto& [nid, f] : tree.nodes) {
        std::sort(f.subjects.begin(), f.subjects.end());
        if (tree.nodes.contains(f.parent)) tree.nodes[f.parent].children.push_back(nid);
    }
    return tree;
}

struct SaveResult {
    AnalysisOutcome outcome = AnalysisOutcome::Failed;
    fs::path output;
};

SaveResult SaveEverything(const fs::path& source, const fs::path& destination,
                          const std::vector<std::string>& folders) {
    const bmtest::SavedRun run = bmtest::SaveFolders(source, destination, folders);
    SaveResult out;
    out.outcome = run.outcome;
    if (run.outputStores.size() == 1) out.output = run.outputStores[0];
    EXPECT_EQ(run.outputStores.size(), 1u);
    return out;
}

void ExpectValid(const fs::path& store) {
    const CheckReport report = CheckStore(store);
    for (const Finding& f : report.findings) ADD_FAILURE() << FormatFinding(f);
    EXPECT_EQ(report.errorCount(), 0u);
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST(FolderIdentity, SiblingsOfOneNameNamesWithABackslashAndUntitledFoldersEachStayOneFolder) {
    const fs::path dir = bmtest::ScratchDir("folder-identity");
    const fs::path source = dir / "identity.ost";
    {
        auto store = pst::PstStore::Create(source, {});
        const auto top = store->ipmSubtree();
        const auto inbox1 = store->CreateFolder(top, "Inbox");
        store->AddMessage(inbox1, MessageOf("IPM.Note", "first inbox 1"));
        store->AddMessage(inbox1, MessageOf("IPM.Note", "first inbox 2"));
        const auto sub1 = store->CreateFolder(inbox1, "Sub");
        store->AddMessage(sub1, MessageOf("IPM.Note", "first sub"));
        const auto inbox2 = store->CreateFolder(top, "Inbox");
        store->AddMessage(inbox2, MessageOf("IPM.Note", "second inbox"));
        const auto sub2 = store->CreateFolder(inbox2, "Sub");
        store->AddMessage(sub2, MessageOf("IPM.Note", "second sub"));
        // Not a mail: written into the folder the walk is in.
        const auto inbox3 = store->CreateFolder(top, "Inbox", "IPF.Task");
        store->AddMessage(inbox3, MessageOf("IPM.Task", "third inbox task"));
        const auto slashed = store->CreateFolder(top, "A\\B");
        store->AddMessage(slashed, MessageOf("IPM.Note", "in the folder named A-backslash-B"));
        const auto a = store->CreateFolder(top, "A");
        const auto b = store->CreateFolder(a, "B");
        store->AddMessage(b, MessageOf("IPM.Note", "in B below A"));
        const auto untitled = store->CreateFolder(top, "");
        store->AddMessage(untitled, MessageOf("IPM.Note", "in the untitled folder"));
        store->AddMessage(top, MessageOf("IPM.Note", "in the top"));
        store->Finish();
    }
    const SaveResult saved =
        SaveEverything(source, dir / "Repair",
                       {"Personal Folders\\", "Personal Folders\\Inbox\\", "Personal Folders\\Inbox\\Sub\\",
                        "Personal Folders\\A\\B\\", "Personal Folders\\A\\", "Personal Folders\\\\"});
    ASSERT_EQ(saved.outcome, AnalysisOutcome::Completed);
    ASSERT_FALSE(saved.output.empty());
    ExpectValid(saved.output);

    const FolderTree tree = ReadFolderTree(saved.output);
    ASSERT_NE(tree.top, 0u);
    const std::vector<const FolderNode*> inboxes = tree.ChildrenNamed(tree.top, "Inbox");
    ASSERT_EQ(inboxes.size(), 3u) << "three source folders named Inbox, three saved ones";
    std::map<std::string, const FolderNode*> byFirstSubject;
    for (const FolderNode* inbox : inboxes) {
        ASSERT_FALSE(inbox->subjects.empty());
        byFirstSubject[inbox->subjects.front()] = inbox;
    }
    ASSERT_EQ(byFirstSubject.size(), 3u);
    const FolderNode* first = byFirstSubject.at("first inbox 1");
    EXPECT_EQ(first->subjects, Sorted({"first inbox 1", "first inbox 2"}));
    EXPECT_EQ(byFirstSubject.at("second inbox")->subjects, std::vector<std::string>{"second inbox"});
    EXPECT_EQ(byFirstSubject.at("third inbox task")->subjects, std::vector<std::string>{"third inbox task"});
    // Each Sub below its own Inbox.
    const auto subOf = [&](const FolderNode* inbox) {
        const auto subs = tree.ChildrenNamed(tree.NidOf(inbox), "Sub");
        return subs.size() == 1 ? subs[0]->subjects : std::vector<std::string>{"<" + std::to_string(subs.size()) + " Sub>"};
    };
    EXPECT_EQ(subOf(first), std::vector<std::string>{"first sub"});
    EXPECT_EQ(subOf(byFirstSubject.at("second inbox")), std::vector<std::string>{"second sub"});
    EXPECT_TRUE(tree.ChildrenNamed(tree.NidOf(byFirstSubject.at("third inbox task")), "Sub").empty());

    // "A\B" is one folder with its own item, apart from B below A.
    const auto slashed = tree.ChildrenNamed(tree.top, "A\\B");
    ASSERT_EQ(slashed.size(), 1u);
    EXPECT_EQ(slashed[0]->subjects, std::vector<std::string>{"in the folder named A-backslash-B"});
    EXPECT_TRUE(slashed[0]->children.empty());
    const auto as = tree.ChildrenNamed(tree.top, "A");
    ASSERT_EQ(as.size(), 1u);
    EXPECT_TRUE(as[0]->subjects.empty());
    const auto bs = tree.ChildrenNamed(tree.NidOf(as[0]), "B");
    ASSERT_EQ(bs.size(), 1u);
    EXPECT_EQ(bs[0]->subjects, std::vector<std::string>{"in B below A"});

    // The untitled folder is a folder of its own, not merged into the top.
    const auto untitled = tree.ChildrenNamed(tree.top, std::string(kUntitledFolderName));
    ASSERT_EQ(untitled.size(), 1u);
    EXPECT_EQ(untitled[0]->subjects, std::vector<std::string>{"in the untitled folder"});
    EXPECT_TRUE(tree.ChildrenNamed(tree.top, "").empty());
    EXPECT_EQ(tree.nodes.at(tree.top).subjects, std::vector<std::string>{"in the top"});
}

// A folder may carry the name the source gives its top: it stays where it
// is, with every kind of item it holds, and nothing lands anywhere else.
TEST(FolderIdentity, AFolderNamedLikeTheTopStaysBelowItsParentWithEveryKindOfItem) {
    const fs::path dir = bmtest::ScratchDir("folder-top-name");
    const fs::path source = dir / "named.ost";
    const std::vector<std::pair<std::string, std::string>> items = {
        {"IPM.Note", "a mail"},          {"IPM.Task", "a task"},         {"IPM.Contact", "a contact"},
        {"IPM.Appointment", "a meeting"}, {"IPM.StickyNote", "a note"},  {"IPM.Activity", "a journal entry"},
    };
    {
        auto store = pst::PstStore::Create(source, {});
        const auto archive = store->CreateFolder(store->ipmSubtree(), "Archive");
        const auto inner = store->CreateFolder(archive, "Personal Folders");
        for (const auto& [cls, subject] : items) store->AddMessage(inner, MessageOf(cls, subject));
        store->AddMessage(archive, MessageOf("IPM.Note", "in the archive"));
        store->Finish();
    }
    const SaveResult saved = SaveEverything(
        source, dir / "Repair",
        {"Personal Folders\\", "Personal Folders\\Archive\\", "Personal Folders\\Archive\\Personal Folders\\"});
    ASSERT_EQ(saved.outcome, AnalysisOutcome::Completed);
    ASSERT_FALSE(saved.output.empty());
    ExpectValid(saved.output);

    const FolderTree tree = ReadFolderTree(saved.output);
    const auto archives = tree.ChildrenNamed(tree.top, "Archive");
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(archives[0]->subjects, std::vector<std::string>{"in the archive"});
    const auto inner = tree.ChildrenNamed(tree.NidOf(archives[0]), "Personal Folders");
    ASSERT_EQ(inner.size(), 1u);
    std::vector<std::string> subjects;
    for (const auto& item : items) subjects.push_back(item.second);
    EXPECT_EQ(inner[0]->subjects, Sorted(subjects));
    EXPECT_TRUE(inner[0]->children.empty());
    // No other folder was made for any of them.
    std::size_t madeBelowTop = 0;
    for (const auto& [nid, node] : tree.nodes) madeBelowTop += node.parent == tree.top ? 1 : 0;
    const std::size_t deletedItems = tree.ChildrenNamed(tree.top, "Deleted Items").size();
    EXPECT_EQ(madeBelowTop, 1u + deletedItems);
}

TEST(FolderIdentity, AThousandNestedFoldersAreSavedWholeLevelByLevel) {
    constexpr int kDepth = 1000;
    const fs::path dir = bmtest::ScratchDir("folder-depth");
    const fs::path source = dir / "deep.ost";
    std::vector<std::string> paths{"Personal Folders\\"};
    {
        auto store = pst::PstStore::Create(source, {});
        auto parent = store->ipmSubtree();
        std::string path = "Personal Folders\\";
        for (int level = 1; level <= kDepth; ++level) {
            const std::string name = "L" + std::to_string(level);
            parent = store->CreateFolder(parent, name);
            path += name + "\\";
            paths.push_back(path);
            if (level % 100 == 0 || level == 1) store->AddMessage(parent, MessageOf("IPM.Note", "at " + name));
        }
        store->Finish();
    }
    const SaveResult saved = SaveEverything(source, dir / "Repair", paths);
    ASSERT_EQ(saved.outcome, AnalysisOutcome::Completed);
    ASSERT_FALSE(saved.output.empty());
    ExpectValid(saved.output);

    const FolderTree tree = ReadFolderTree(saved.output);
    std::uint32_t at = tree.top;
    for (int level = 1; level <= kDepth; ++level) {
        const std::string name = "L" + std::to_string(level);
        const auto next = tree.ChildrenNamed(at, name);
        ASSERT_EQ(next.size(), 1u) << "level " << level;
        const bool withMail = level % 100 == 0 || level == 1;
        EXPECT_EQ(next[0]->subjects, withMail ? std::vector<std::string>{"at " + name} : std::vector<std::string>{})
            << "level " << level;
        at = tree.NidOf(next[0]);
    }
    EXPECT_TRUE(tree.nodes.at(at).children.empty());
}

}  // namespace
}  // namespace bm
