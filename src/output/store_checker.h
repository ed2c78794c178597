// A strict validator of Personal Folders stores written by anyone: the
// header, every B-tree page, every block reachable from the block B-tree, the
// allocation map, reference counts and the node-to-block links. Damage is
// reported with its file offset; the checker never trusts a byte it reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bm {

enum class FindingSeverity : std::uint8_t { Warning, Error };

struct Finding {
    FindingSeverity severity = FindingSeverity::Error;
    std::uint64_t offset = 0;  // file offset the finding is about
    std::string text;
};

struct CheckReport {
    std::vector<Finding> findings;
    // Set when the store's layout is one the checker does not verify
    // (wVer 36, 4 KiB pages); no findings are made then.
    bool notChecked = false;
    std::uint16_t version = 0;          // wVer
    std::uint64_t pagesChecked = 0;     // B-tree pages
    std::uint64_t blocksChecked = 0;    // blocks listed by the block B-tree
    std::uint64_t nodesChecked = 0;     // node B-tree entries

    std::size_t errorCount() const;
    std::size_t warningCount() const;
    bool ok() const { return !notChecked && errorCount() == 0; }
};

// Checks the store at path. A file that cannot be opened gives one error.
CheckReport CheckStore(const std::filesystem::path& path);

// One line per finding: "error at 0x00004400: text".
std::string FormatFinding(const Finding& finding);

}  // namespace bm
