#include "engine/file_finder.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <system_error>

#include <fmt/format.h>

namespace bm {

namespace fs = std::filesystem;

std::string WidenNamePattern(std::string_view pattern) {
    // Appended piece by piece: a literal added to a string makes the
    // optimiser warn of overlapping copies that cannot happen.
    std::string out;
    out.reserve(pattern.size() + 2);
    out += '*';
    out += pattern;
    out += '*';
    return out;
}

bool MatchesNamePattern(std::string_view pattern, std::string_view name) {
    const std::string p(pattern);
    const std::string n(name);
    return ::fnmatch(p.c_str(), n.c_str(), FNM_CASEFOLD) == 0;
}

namespace {

struct DirectoryEntry {
    std::string name;
    bool isDirectory = false;  // a real directory, not a link to one
};

// The entries of a directory sorted by name; empty when it cannot be read.
std::vector<DirectoryEntry> ListDirectory(const fs::path& dir) {
    std::vector<DirectoryEntry> out;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        const bool isDirectory = it->symlink_status(typeError).type() == fs::file_type::directory;
        out.push_back({it->path().filename().string(), isDirectory});
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return out;
}

}  // namespace

std::size_t CFileFinder::FindFiles(const FileFinderOptions& options, const DirectoryCallback& onDirectory,
                                   const FoundCallback& onFound) {
    found_.clear();
    stop_.store(false);
    pattern_ = WidenNamePattern(options.namePattern);
    SearchDirectory(options.baseDirectory, options, onDirectory, onFound);
    return found_.size();
}

void CFileFinder::SearchDirectory(const fs::path& dir, const FileFinderOptions& options,
                                  const DirectoryCallback& onDirectory, const FoundCallback& onFound) {
    const std::vector<DirectoryEntry> entries = ListDirectory(dir);
    if (options.searchSubdirectories) {
        for (const DirectoryEntry& e : entries) {
            if (stop_.load()) break;
            if (e.isDirectory) SearchDirectory(dir / e.name, options, onDirectory, onFound);
        }
    }
    if (stop_.load()) return;
    std::string shown = dir.string();
    if (shown.empty() || shown.back() != '/') shown.push_back('/');
    if (onDirectory) onDirectory(found_.size(), shown);
    for (const DirectoryEntry& e : entries) {
        if (stop_.load()) return;
        if (!MatchesNamePattern(pattern_, e.name)) continue;
        std::string path = shown + e.name;
        if (e.isDirectory) path.push_back('/');
        found_.push_back(path);
        if (onFound) onFound(found_.back());
    }
}

std::string FileSizeText(std::uint64_t bytes) {
    const std::uint64_t kb = bytes / 1024;
    return kb > 9 ? fmt::format("{} KB", kb) : fmt::format("{} B", bytes);
}

std::string FileTimeText(std::time_t time) {
    std::tm utc{};
    if (::gmtime_r(&time, &utc) == nullptr) return {};
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%d-%m-%Y %I:%M %p", &utc);
    return std::string(text, n);
}

FoundFileRow DescribeFoundFile(const std::string& path) {
    FoundFileRow row;
    std::string_view trimmed(path);
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
    row.name = fs::path(trimmed).filename().string();
    row.inFolder = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        row.size = FileSizeText(S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0);
        row.modified = FileTimeText(st.st_mtime);
    }
    return row;
}

}  // namespace bm
