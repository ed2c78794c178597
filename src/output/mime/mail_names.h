// File names made from names in the store (folder names, subjects): no path
// separators, control bytes, characters Windows refuses, leading dots or
// reserved device names (CON, NUL, COM1, ...), valid UTF-8 and a bounded
// length, so a copy to any file system keeps them.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bm::mime {

inline constexpr std::size_t kMaxNameBytes = 120;

// `name` made safe; `extra` lists further characters to replace (the
// Maildir++ separator '.'). "_" for a name with nothing left.
std::string SafeName(std::string_view name, std::size_t maxBytes = kMaxNameBytes, std::string_view extra = {});

// Names handed out within one directory: a name taken before (whatever its
// case) gets " (2)", " (3)", ... before its extension.
class UniqueNames {
public:
    std::string Claim(const std::string& base, std::string_view extension = {});

private:
    std::set<std::string> taken_;  // lower-case
};

// The safe, unique names of folder paths: the same path always maps to the
// same names, two siblings never to one.
class FolderNames {
public:
    explicit FolderNames(std::string_view extra = {}, std::vector<std::string> reservedSuffixes = {})
        : extra_(extra), reservedSuffixes_(std::move(reservedSuffixes)) {}
    std::vector<std::string> Map(const std::vector<std::string>& path);
    // The names already claimed in the directory of the mapped `path`.
    UniqueNames& Siblings(const std::vector<std::string>& mappedParent) { return siblings_[mappedParent]; }

private:
    std::string extra_;
    std::vector<std::string> reservedSuffixes_;  // names ending so (".sbd") get a "_" added
    std::map<std::vector<std::string>, std::vector<std::string>> mapped_;
    std::map<std::vector<std::string>, UniqueNames> siblings_;
};

}  // namespace bm::mime
