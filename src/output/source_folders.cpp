#include "output/source_folders.h"

#include <utility>

namespace bm {

void SourceFolderMap::Enter(std::uint32_t nid, std::uint32_t parentNid, std::string_view displayName) {
    Entry entry;
    const auto parent = folders_.find(parentNid);
    if (parent != folders_.end() && parentNid != nid) {
        entry.parent = parentNid;
        entry.depth = parent->second.depth + 1;
    }
    entry.level.name = displayName.empty() ? std::string(kUntitledFolderName) : std::string(displayName);
    std::string key = std::to_string(entry.parent);
    key.push_back('\0');
    key += entry.level.name;
    entry.level.sibling = namesTaken_[key]++;
    // A folder entered again may have moved: the last answer is not reused.
    if (folders_.contains(nid)) {
        lastLevels_.clear();
        lastNids_.clear();
    }
    folders_[nid] = std::move(entry);
}

OutputFolderLevels SourceFolderMap::LevelsOf(std::uint32_t nid) const {
    auto it = folders_.find(nid);
    if (it == folders_.end()) return {};
    // Climbs towards the top until a folder of the last answer is met (one
    // at the same depth there); the depth bounds the climb, so a damaged
    // chain of parents can never loop.
    std::vector<std::pair<std::uint32_t, const Entry*>> climb;
    std::size_t kept = 0;  // levels of the last answer that stay
    bool whole = false;    // the climb reached the top or the last answer
    for (std::size_t steps = it->second.depth; steps > 0 && it != folders_.end(); --steps) {
        const std::size_t depth = it->second.depth;
        if (depth <= lastNids_.size() && lastNids_[depth - 1] == it->first) {
            kept = depth;
            whole = true;
            break;
        }
        ++climbed_;
        climb.emplace_back(it->first, &it->second);
        if (it->second.parent == 0) {
            whole = true;
            break;
        }
        it = folders_.find(it->second.parent);
    }
    lastLevels_.resize(kept);
    lastNids_.resize(kept);
    for (auto c = climb.rbegin(); c != climb.rend(); ++c) {
        lastLevels_.push_back(c->second->level);
        lastNids_.push_back(c->first);
    }
    if (whole) return lastLevels_;
    // A chain cut short (parents that do not add up) is not kept to build on.
    OutputFolderLevels levels = std::move(lastLevels_);
    lastLevels_.clear();
    lastNids_.clear();
    return levels;
}

}  // namespace bm
