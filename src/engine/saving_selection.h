// What a saving run saves and where: the selected folders, the destination
// directory, and the mail-client check that comes before.
//
// A folder is selected when its full path ("Personal Folders\Inbox\")
// equals one of the selected paths exactly (case-sensitive, whole string):
// selecting a folder does not select its subfolders. SelectTree adds a
// folder and every folder below it; SelectAll the top folder (for the items
// directly in it) and every folder the analysis met.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace bm {

inline constexpr std::string_view kSelectAnyFolder = "Please Select Any Folder";
inline constexpr std::string_view kSavingPathMissing = "Saving path doesn't exist, select another path for saving ";
inline constexpr std::string_view kMailClientMissing =
    "Microsoft Outlook not found installed or corrupted. Please install Microsoft Outlook & re-run Application.";
inline constexpr std::string_view kSaveFolderName = "Repair";
inline constexpr std::string_view kMailClientCheckProgram = "Ostvine";

// A folder path as the tree holds it: with a final "\".
std::string WithFinalBackslash(std::string_view path);

class SelectedFolders {
public:
    // Adds one path (a final "\" is added when missing); duplicates are
    // kept once. Order of first addition is kept.
    void Select(std::string_view path);
    // `path` and every path of `folders` that lies below it.
    void SelectTree(std::string_view path, const std::vector<std::string>& folders);
    void SelectAll(const std::vector<std::string>& folders);
    void Clear();

    bool IsSelected(std::string_view path) const;
    bool empty() const { return paths_.empty(); }
    const std::vector<std::string>& paths() const { return paths_; }

private:
    // Hashes a path given as a string or a view alike, so that a lookup
    // needs no string of its own.
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view path) const { return std::hash<std::string_view>{}(path); }
    };

    std::vector<std::string> paths_;
    std::unordered_set<std::string, PathHash, std::equal_to<>> set_;
};

// The chosen directory with "Repair" appended (one separator between).
std::filesystem::path MakeSaveDestination(const std::filesystem::path& chosen);

enum class MailClientCheck {
    Passed,   // no check program, or it could not run, or it found a client
    Missing,  // the check program reported no mail client (exit code 0)
};
// Runs appDir/"Ostvine" (with its own path and an empty string as
// arguments) only when that file exists, and waits for it.
MailClientCheck CheckMailClient(const std::filesystem::path& appDir);

}  // namespace bm
