// What the store checker is asked and what it answers: its options, its
// findings and the report that gathers them. Every check file adds its
// findings through AddFinding, so the report's cap and its count per kind
// hold whichever check finds what.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bm {

enum class FindingSeverity : std::uint8_t { Warning, Error };

// The part of the store a finding is about.
enum class FindingKind : std::uint8_t {
    File,           // the file cannot be opened or is too short to hold a store
    Header,         // magic, version, CRCs and fields of the header
    Page,           // a B-tree page: trailer, footer, levels, keys
    Block,          // a block the block B-tree lists: size, place, trailer, CRC
    InternalBlock,  // the inside of an XBLOCK, XXBLOCK, SLBLOCK or SIBLOCK
    Reference,      // a block named but not listed, or reference counts off
    Overlap,        // pages or blocks sharing bytes
    AllocationMap,  // AMap, PMap, FMap, FPMap, density list, free counters
    FolderTable,    // hierarchy and contents tables against the node tree
    ClientRule,     // the rules the mail client's repair tool holds a store to
};
inline constexpr std::size_t kFindingKindCount = static_cast<std::size_t>(FindingKind::ClientRule) + 1;

// The name a kind goes by in the command line's JSON.
const char* FindingKindName(FindingKind kind);

struct Finding {
    FindingSeverity severity = FindingSeverity::Error;
    FindingKind kind = FindingKind::File;
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
    // Findings per kind, those beyond the cap included.
    std::array<std::size_t, kFindingKindCount> kindCounts{};
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
    std::size_t count(FindingKind kind) const { return kindCounts[static_cast<std::size_t>(kind)]; }
    bool ok() const { return !notChecked && errorCount() == 0; }
};

// Adds a finding, or past the report's cap only counts it.
void AddFinding(CheckReport& report, FindingSeverity severity, FindingKind kind, std::uint64_t at, std::string text);

}  // namespace bm
