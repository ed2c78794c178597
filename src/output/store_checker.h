// A strict validator of Personal Folders stores written by anyone: the
// header, every B-tree page, every block the block B-tree lists, the
// allocation maps, reference counts and the node-to-block links. Damage is
// reported with its file offset; every byte is read through ByteReader, so
// garbage and truncated files give findings, never a crash.
#pragma once

#include <cstddef>
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

struct CheckOptions {
    // Reference counts that differ from the references found are errors
    // (for stores this project wrote); otherwise warnings, since other
    // writers are known to leak a count now and then.
    bool strictReferenceCounts = false;
    // Folder tables that differ from the node tree are errors (for stores
    // this project wrote); otherwise warnings, since a third-party store
    // may keep its tables in its own way.
    bool strictFolderTables = false;
    // The rules the mail client's repair tool holds a store to (NID
    // counters, row versions, full middle blocks, the spam search folder's
    // nodes, free-space counters equal to the maps'): for stores this
    // project wrote.
    bool clientRules = false;
};

// Findings kept in one report; the rest are only counted.
inline constexpr std::size_t kMaxCheckFindings = 2000;

struct CheckReport {
    std::vector<Finding> findings;
    std::size_t findingsDropped = 0;  // beyond the report's cap
    // Set when the store's layout is one the checker does not verify
    // (wVer 36, 4 KiB pages).
    bool notChecked = false;
    // Whether the folder hierarchy and contents tables were compared with
    // the node tree.
    bool folderTablesChecked = false;
    std::uint16_t version = 0;        // wVer
    std::uint64_t pagesChecked = 0;   // B-tree pages
    std::uint64_t blocksChecked = 0;  // blocks listed by the block B-tree
    std::uint64_t nodesChecked = 0;   // node B-tree entries
    std::uint64_t foldersChecked = 0; // folders whose tables were compared

    std::size_t errorCount() const;
    std::size_t warningCount() const;
    bool ok() const { return !notChecked && errorCount() == 0; }
};

// Checks the store at path. A file that cannot be opened gives one error.
CheckReport CheckStore(const std::filesystem::path& path, const CheckOptions& options = {});

// One line per finding: "error at 0x00004400: text".
std::string FormatFinding(const Finding& finding);

}  // namespace bm
