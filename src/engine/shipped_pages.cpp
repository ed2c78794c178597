#include "engine/shipped_pages.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

namespace bm {

namespace fs = std::filesystem;

namespace {

constexpr std::array kPages{
    ShippedPage{kProgressPage,
                "<html><head><title>Brightmend</title></head><body>"
                "<h2>Analysing the store file</h2><p>Please wait while the folders are read.</p>"
                "</body></html>\n"},
    ShippedPage{kCompletedPage,
                "<html><head><title>Brightmend</title></head><body>"
                "<h2>Analysis completed</h2><p>Check the folders to save and press Save.</p>"
                "</body></html>\n"},
    ShippedPage{kAbortPage,
                "<html><head><title>Brightmend</title></head><body>"
                "<h2>Analysis not completed</h2><p>The folders found so far are shown.</p>"
                "</body></html>\n"},
    ShippedPage{kPreviewPage, "<html><head><title>Brightmend</title></head><body></body></html>\n"},
    ShippedPage{kMessagePreviewPage, "<html><head><title>Brightmend</title></head><body></body></html>\n"},
    ShippedPage{kHelpPage,
                "<html><head><title>Brightmend Help</title></head><body>"
                "<h1>Brightmend</h1>"
                "<p>Step 1: choose the offline store file (.ost), or search a folder for one.</p>"
                "<p>Step 2: the file is analysed; its folders appear in the tree with their counts.</p>"
                "<p>Step 3: check the folders to keep and press Save to write them into a new .pst file.</p>"
                "</body></html>\n"},
};

}  // namespace

std::span<const ShippedPage> DefaultShippedPages() { return kPages; }

namespace {

// What was installed: each page's name and the fingerprint of the content
// written, kept beside the pages so that a later version can tell its own
// unchanged pages (which it replaces) from pages the user edited (kept).
constexpr std::string_view kInstalledList = ".shipped-pages";

std::uint64_t Fingerprint(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::map<std::string, std::uint64_t> ReadInstalled(const fs::path& list) {
    std::map<std::string, std::uint64_t> installed;
    std::ifstream in(list);
    std::string name;
    std::uint64_t hash = 0;
    while (in >> name >> std::hex >> hash) installed[name] = hash;
    return installed;
}

std::optional<std::string> ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether the page on disk is to be replaced by the shipped one: it is
// missing, or another version wrote it and nobody changed it since. Pages
// installed before the list was kept count as unchanged. The mail preview
// page is the tool's own scratch file and is only ever created.
bool Replaced(const ShippedPage& page, const fs::path& target, const std::map<std::string, std::uint64_t>& installed,
              bool listKept) {
    std::error_code ec;
    if (!fs::exists(target, ec)) return true;
    if (page.name == kMessagePreviewPage) return false;
    const std::optional<std::string> now = ReadWhole(target);
    if (!now || *now == page.content) return false;
    if (!listKept) return true;
    const auto it = installed.find(std::string(page.name));
    return it != installed.end() && it->second == Fingerprint(*now);
}

}  // namespace

bool PrepareAppDir(const fs::path& appDir, std::span<const ShippedPage> pages) {
    std::error_code ec;
    fs::create_directories(appDir, ec);
    if (!fs::is_directory(appDir, ec)) return false;
    const fs::path list = appDir / fs::path(std::string(kInstalledList));
    const bool listKept = fs::exists(list, ec);
    std::map<std::string, std::uint64_t> installed = ReadInstalled(list);
    bool allThere = true;
    bool listChanged = !listKept;
    for (const ShippedPage& page : pages) {
        const fs::path target = appDir / fs::path(std::string(page.name));
        if (!Replaced(page, target, installed, listKept)) {
            // A page already as shipped is recorded, so that the next
            // version may replace it.
            if (!installed.contains(std::string(page.name)) && ReadWhole(target) == std::string(page.content)) {
                installed[std::string(page.name)] = Fingerprint(page.content);
                listChanged = true;
            }
            continue;
        }
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(page.content.data(), static_cast<std::streamsize>(page.content.size()));
        if (!out.flush()) {
            allThere = false;
            continue;
        }
        installed[std::string(page.name)] = Fingerprint(page.content);
        listChanged = true;
    }
    if (listChanged) {
        std::ofstream out(list, std::ios::trunc);
        for (const auto& [name, hash] : installed) out << name << ' ' << std::hex << hash << '\n';
    }
    return allThere;
}

}  // namespace bm
