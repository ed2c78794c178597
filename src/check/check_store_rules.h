// Rules the mail client's own repair tool holds a Unicode store to, beyond
// a sound structure: the header's NID counters, unique row versions below
// dwUnique, full middle blocks in data trees, string names unique whatever
// their case, contents rows equal to their messages, and message and
// attachment sizes as the client counts them (check_size_rules.h). Each violation is one
// finding naming the node, the rule, what was expected and what was found.
//
// The store is read through the store reader and the messaging layer's
// property and table context readers; damaged input gives findings or is
// passed over, never a crash.
#pragma once

#include <filesystem>

#include "check/check_report.h"
#include "check/check_size_rules.h"
#include "store/store_file.h"

namespace bm {

// Rule names as they appear in findings.
inline constexpr const char* kRuleNidCounter = "NID counter";
inline constexpr const char* kRuleRowVersion = "row version";
inline constexpr const char* kRuleMiddleBlock = "middle block size";
inline constexpr const char* kRuleStringName = "string name case";
inline constexpr const char* kRuleContentsRow = "contents row";

// Adds a finding (an error) per violation in the Unicode store at `path`.
// Stores of other layouts are passed over.
void CheckStoreRules(const std::filesystem::path& path, CheckReport& report);
// The same over a store already opened with its index built.
void CheckStoreRules(StoreFile& store, CheckReport& report);

}  // namespace bm
