// JSON and text helpers shared by the commands.
#pragma once

#include <cstdio>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/utf.h"  // EscapeForTerminal, for the commands' text output

namespace bm::cli {

using OrderedJson = nlohmann::ordered_json;

// A FILETIME (8 little-endian bytes) as ISO 8601 UTC ("2001-05-14T16:39:00Z");
// nullopt unless it has exactly 8 bytes.
std::optional<std::string> FileTimeToIso(std::span<const std::uint8_t> filetime);

// Text that is not valid UTF-8 is written with U+FFFD in its place.
std::string DumpJson(const OrderedJson& value);
void PrintJson(const OrderedJson& value);

// The last name of a tool folder path ("Personal Folders\Inbox\" -> "Inbox")
// and its depth (the root is 0).
std::string_view FolderName(std::string_view path);
int FolderDepth(std::string_view path);

// The "schema" value of a command's JSON object: "brightmend.<command>/1"
// ("brightmend.save/2").
std::string SchemaName(std::string_view command);
// A command's JSON object begins with its schema.
OrderedJson JsonObject(std::string_view command);
// The one object a command prints when it fails before it has a result.
OrderedJson FailureJson(std::string_view command, const std::string& message);

// "1 item", "2 items": a count with its noun.
std::string CountOf(std::size_t count, std::string_view noun);

// A summary label without its trailing blanks.
std::string TrimLabel(std::string_view label);

}  // namespace bm::cli
