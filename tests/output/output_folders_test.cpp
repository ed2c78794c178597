// Folder paths of the new store and the folders they name: levels whose
// names hold "\" or the escape byte survive the path, same-named siblings
// are told apart by their numbers, and the source folder map names and
// numbers folders by their nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "output/open_output_store.h"
#include "output/source_folders.h"
#include "support/test_paths.h"

namespace bm {
namespace {

TEST(OutputFolderPaths, EncodedLevelsSplitBackIntoTheSameNamesAndSiblingNumbers) {
    const OutputFolderLevels levels{{"Inbox", 0}, {"A\\B", 0}, {std::string("x\x01y"), 2}, {"Inbox", 11}};
    const std::string path = EncodeOutputFolderPath("\\\\Store", levels);
    EXPECT_EQ(std::count(path.begin(), path.end(), '\\'), 2 + 4) << "a name's backslash is not a separator";
    const std::optional<OutputFolderPath> split = SplitOutputFolderPath(path);
    ASSERT_TRUE(split);
    EXPECT_EQ(split->storeName, "Store");
    EXPECT_EQ(split->folders, (std::vector<std::string>{"Inbox", "A\\B", std::string("x\x01y"), "Inbox"}));
    EXPECT_EQ(split->siblings, (std::vector<std::uint32_t>{0, 0, 2, 11}));

    // Plain paths mean what they say; broken escapes name no folder.
    const auto plain = SplitOutputFolderPath("\\\\Store\\Inbox\\Sub\\");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->folders, (std::vector<std::string>{"Inbox", "Sub"}));
    EXPECT_EQ(plain->siblings, (std::vector<std::uint32_t>{0, 0}));
    for (const std::string& bad : {std::string("\\\\S\\a\x01"), std::string("\\\\S\\a\x01z"),
                                  std::string("\\\\S\\a\x01#"), std::string("\\\\S\\a\x01#1x"),
                                  std::string("\\\\S\\a\x01#12345678901")})
        EXPECT_FALSE(SplitOutputFolderPath(bad)) << bad;
}

TEST(OutputFolderPaths, SiblingNumbersMakeFoldersOfTheirOwnAndFindThemAgain) {
    const auto path = bmtest::ScratchDir("output-folders") / "siblings.pst";
    OpenOutputStore store(path, "Siblings");
    const pst::FolderId first = store.EnsureFolder({"Inbox"});
    const pst::FolderId second = store.EnsureFolder({"Inbox"}, {}, {1});
    const pst::FolderId third = store.EnsureFolder({"Inbox"}, {}, {2});
    EXPECT_NE(first, second);
    EXPECT_NE(second, third);
    EXPECT_NE(first, third);
    EXPECT_EQ(store.EnsureFolder({"Inbox"}), first);
    EXPECT_EQ(store.EnsureFolder({"Inbox"}, {}, {1}), second);
    const pst::FolderId subOfSecond = store.EnsureFolder({"Inbox", "Sub"}, {}, {1, 0});
    EXPECT_NE(subOfSecond, store.EnsureFolder({"Inbox", "Sub"}));
    EXPECT_EQ(store.FindFolder({"Inbox", "Sub"}, {1, 0}), subOfSecond);
    EXPECT_EQ(store.FindFolder({"Inbox"}, {2}), third);
    EXPECT_FALSE(store.FindFolder({"Inbox"}, {3}));
    // The folder the new store starts with is the first of its name.
    EXPECT_EQ(store.EnsureFolder({"Deleted Items"}), *store.FindFolder({"Deleted Items"}));
    EXPECT_NE(store.EnsureFolder({"Deleted Items"}, {}, {1}), store.EnsureFolder({"Deleted Items"}));
    // A later sibling made first (a store continued in a new file starts
    // there) is not taken for the first one.
    const pst::FolderId laterFirst = store.EnsureFolder({"Drafts"}, {}, {1});
    const pst::FolderId firstAfter = store.EnsureFolder({"Drafts"});
    EXPECT_NE(laterFirst, firstAfter);
    EXPECT_EQ(store.FindFolder({"Drafts"}), firstAfter);
    store.Finish();
}

TEST(SourceFolders, FoldersAreNamedAndNumberedByTheirNodesAndParents) {
    SourceFolderMap map;
    map.Enter(0x102, 0x122, "Inbox");  // the parent is the walk's root: the top
    map.Enter(0x202, 0x122, "Inbox");
    map.Enter(0x302, 0x202, "Sub");
    map.Enter(0x402, 0x102, "Sub");
    map.Enter(0x502, 0x122, "");
    map.Enter(0x602, 0x122, "");
    map.Enter(0x702, 0x302, "A\\B");
    const auto names = [&](std::uint32_t nid) {
        std::vector<std::string> out;
        for (const OutputFolderLevel& l : map.LevelsOf(nid)) out.push_back(l.name + "#" + std::to_string(l.sibling));
        return out;
    };
    EXPECT_EQ(names(0x102), (std::vector<std::string>{"Inbox#0"}));
    EXPECT_EQ(names(0x202), (std::vector<std::string>{"Inbox#1"}));
    EXPECT_EQ(names(0x302), (std::vector<std::string>{"Inbox#1", "Sub#0"}));
    EXPECT_EQ(names(0x402), (std::vector<std::string>{"Inbox#0", "Sub#0"}));
    const std::string untitled(kUntitledFolderName);
    EXPECT_EQ(names(0x502), (std::vector<std::string>{untitled + "#0"}));
    EXPECT_EQ(names(0x602), (std::vector<std::string>{untitled + "#1"}));
    EXPECT_EQ(names(0x702), (std::vector<std::string>{"Inbox#1", "Sub#0", "A\\B#0"}));
    EXPECT_TRUE(map.LevelsOf(0x999).empty());
    EXPECT_FALSE(map.Knows(0x999));
}

TEST(SourceFolders, TheLevelsOfADeepChainAskedFolderByFolderClimbEachLevelAboutOnce) {
    // As the saving walk asks: each folder right after it is entered, and
    // after the chain a folder beside one in its middle. The climbs once
    // went to the top every time: the square of the depth.
    constexpr std::uint32_t kDepth = 1000;
    SourceFolderMap map;
    const auto nidAt = [](std::uint32_t level) { return 0x10000u + 32 * level; };
    for (std::uint32_t level = 1; level <= kDepth; ++level) {
        map.Enter(nidAt(level), level == 1 ? 0x122 : nidAt(level - 1), "L" + std::to_string(level));
        const OutputFolderLevels levels = map.LevelsOf(nidAt(level));
        ASSERT_EQ(levels.size(), level);
        ASSERT_EQ(levels.back().name, "L" + std::to_string(level));
        ASSERT_EQ(levels.front().name, "L1");
    }
    map.Enter(0x42, nidAt(500), "Side");
    const OutputFolderLevels side = map.LevelsOf(0x42);
    ASSERT_EQ(side.size(), 501u);
    EXPECT_EQ(side[499].name, "L500");
    EXPECT_EQ(side[500].name, "Side");
    EXPECT_EQ(map.LevelsOf(nidAt(kDepth)).size(), kDepth) << "the chain again, from the side folder's answer";
    EXPECT_LE(map.climbed(), 3u * kDepth);
}

}  // namespace
}  // namespace bm
