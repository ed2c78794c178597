// A strict validator of Personal Folders stores written by anyone: the
// header, every B-tree page, every block the block B-tree lists, the
// allocation maps, reference counts and the node-to-block links. Damage is
// reported with its file offset; every byte is read through ByteReader, so
// garbage and truncated files give findings, never a crash.
#pragma once

#include <filesystem>
#include <string>

#include "check/check_report.h"

namespace bm {

// Checks the store at path. A file that cannot be opened gives one error.
CheckReport CheckStore(const std::filesystem::path& path, const CheckOptions& options = {});

// One line per finding: "error at 0x00004400: text".
std::string FormatFinding(const Finding& finding);

}  // namespace bm
