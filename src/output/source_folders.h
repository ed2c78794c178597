// Which folder of the new store each source folder becomes. Source folders
// are told apart by their node, not by their path: two folders of one name
// under one parent stay two folders (the second, third, ... get sibling
// numbers 1, 2, ...), a name holding "\" stays one level, and a folder
// without a name gets kUntitledFolderName rather than merging into its
// parent. Two source folders that are both untitled under one parent are
// likewise kept apart by their numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "output/open_output_store.h"

namespace bm {

// The name a folder without a name is saved under.
inline constexpr std::string_view kUntitledFolderName = "Untitled Folder";

class SourceFolderMap {
public:
    // The walk met folder `nid` with this name under `parentNid`; a parent
    // never registered (the root of the walk, a lost parent) is the top of
    // the new store. Registering a node again replaces its entry.
    void Enter(std::uint32_t nid, std::uint32_t parentNid, std::string_view displayName);
    bool Knows(std::uint32_t nid) const { return folders_.contains(nid); }
    // The levels of a registered folder below the top; empty for any other.
    // The levels of the folder asked for last are kept: the climb to the
    // top stops at the first of its folders met, so a walk that asks folder
    // by folder, depth first, climbs each level about once however deep
    // the folders lie.
    OutputFolderLevels LevelsOf(std::uint32_t nid) const;
    // Steps climbed by LevelsOf so far (the work it did).
    std::uint64_t climbed() const { return climbed_; }

private:
    struct Entry {
        std::uint32_t parent = 0;  // 0: below the top
        OutputFolderLevel level;
        std::size_t depth = 1;
    };
    std::unordered_map<std::uint32_t, Entry> folders_;
    // How many folders of a name each parent holds so far ("\0"-joined key).
    std::unordered_map<std::string, std::uint32_t> namesTaken_;
    // What LevelsOf gave last: the levels and the folder of each.
    mutable OutputFolderLevels lastLevels_;
    mutable std::vector<std::uint32_t> lastNids_;
    mutable std::uint64_t climbed_ = 0;
};

}  // namespace bm
