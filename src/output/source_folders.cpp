#include "output/source_folders.h"

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
    folders_[nid] = std::move(entry);
}

OutputFolderLevels SourceFolderMap::LevelsOf(std::uint32_t nid) const {
    auto it = folders_.find(nid);
    if (it == folders_.end()) return {};
    OutputFolderLevels levels(it->second.depth);
    // Climbs to the top; the depth bounds the climb, so a damaged chain of
    // parents can never loop.
    for (std::size_t i = levels.size(); i > 0 && it != folders_.end(); --i) {
        levels[i - 1] = it->second.level;
        if (it->second.parent == 0) {
            levels.erase(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(i - 1));
            break;
        }
        it = folders_.find(it->second.parent);
    }
    return levels;
}

}  // namespace bm
