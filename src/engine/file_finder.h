// CFileFinder: the recursive search for store files under a directory.
//
// One directory is searched like this: when subdirectories are searched,
// every subdirectory (by name, in ascending byte order) is searched first,
// depth first; then the directory is reported, and its entries whose names
// match the pattern are appended to the found list and reported one by one.
// Names match case-insensitively, with '*' and '?' as wildcards; the
// pattern "*.ost" is widened to "**.ost*", so any name containing ".ost" is
// found. A found directory is listed with a trailing '/'. Symbolic links to
// directories are not followed into, so a link loop cannot trap the search.
// Directories that cannot be read are passed over silently.
//
// A stop request (any thread) ends the search after the entry at hand; the
// entries found so far stay in the list.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace bm {

inline constexpr std::string_view kStoreFilePattern = "*.ost";

struct FileFinderOptions {
    std::filesystem::path baseDirectory;
    std::string namePattern = std::string(kStoreFilePattern);
    bool searchSubdirectories = true;
};

class CFileFinder {
public:
    // Called with the number of entries found so far and the directory about
    // to be listed ("(%d) - %s" on the search page).
    using DirectoryCallback = std::function<void(std::size_t foundSoFar, const std::string& directory)>;
    // Called with each entry found (its full path).
    using FoundCallback = std::function<void(const std::string& path)>;

    // Runs the search on the calling thread; returns the number of entries
    // found. The found list and an earlier stop request are cleared first.
    std::size_t FindFiles(const FileFinderOptions& options, const DirectoryCallback& onDirectory = {},
                          const FoundCallback& onFound = {});

    // Asks a running search to stop after the entry at hand.
    void StopSearch() { stop_.store(true); }
    bool stopRequested() const { return stop_.load(); }
    // The flag itself, for a signal handler that may only store to it.
    std::atomic<bool>& stopFlag() { return stop_; }

    const std::vector<std::string>& found() const { return found_; }

private:
    void SearchDirectory(const std::filesystem::path& dir, const FileFinderOptions& options,
                         const DirectoryCallback& onDirectory, const FoundCallback& onFound);

    std::atomic<bool> stop_{false};
    std::vector<std::string> found_;
    std::string pattern_;
};

// "*" + pattern + "*".
std::string WidenNamePattern(std::string_view pattern);
// Case-insensitive wildcard match of a whole name.
bool MatchesNamePattern(std::string_view pattern, std::string_view name);

// The four columns of one row of the result list.
struct FoundFileRow {
    std::string name;      // "Name": file name with extension
    std::string inFolder;  // "In Folder": the whole path
    std::string size;      // "Size"
    std::string modified;  // "Modified"
};

FoundFileRow DescribeFoundFile(const std::string& path);
// "%ld KB" with size / 1024 when that is above 9, else "%ld B".
std::string FileSizeText(std::uint64_t bytes);
// The time as UTC, "%d-%m-%Y %I:%M %p".
std::string FileTimeText(std::time_t time);

// Texts of the search page.
inline constexpr std::string_view kSearchInvalidDirectory = "Not a valid Directory, Please select another directory? ";
inline constexpr std::string_view kSelectFilePrompt = "Please Select the File";

}  // namespace bm
