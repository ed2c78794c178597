// The pages the tool shows from its application directory, and their
// installation there on first start.
//
// The contents compiled in here are plain defaults. A page that a version
// of the tool installed and nobody changed since is replaced when the
// shipped page differs (an upgrade brings its pages); a page the user (or
// an installation) put there or changed is kept.
#pragma once

#include <filesystem>
#include <span>
#include <string_view>

namespace bm {

inline constexpr std::string_view kProgressPage = "progress.html";
inline constexpr std::string_view kCompletedPage = "completed.html";
inline constexpr std::string_view kAbortPage = "abort.html";
inline constexpr std::string_view kPreviewPage = "Preview.html";
inline constexpr std::string_view kMessagePreviewPage = "~MO.html";
inline constexpr std::string_view kHelpPage = "Brightmend.html";

struct ShippedPage {
    std::string_view name;
    std::string_view content;
};

// Every page above with its default content.
std::span<const ShippedPage> DefaultShippedPages();

// Creates the directory when missing and writes every page of `pages` that
// it does not hold yet or holds in an unchanged older version. False when
// the directory cannot be made or a page cannot be written.
bool PrepareAppDir(const std::filesystem::path& appDir, std::span<const ShippedPage> pages = DefaultShippedPages());

}  // namespace bm
