// What every command of the command line shares: the settings, the
// application directory (created with its pages on first start), the
// activity log and the progress mode.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "cli/progress.h"
#include "engine/activity_log.h"
#include "engine/settings.h"

namespace bm::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

struct CliEnvironment {
    CliEnvironment(bool quietFlag, bool jsonFlag);

    // Writes the launch's start banner once, before the first entry.
    const ActivityLog& Log();

    bool quiet;
    bool json;
    // --deep-scan: the runs scan the whole file even when the index looks sound.
    bool deepScan = false;
    // --recover-deleted: the runs look for deleted items too.
    bool recoverDeleted = false;
    ProgressMode progressMode;
    Settings settings;
    std::filesystem::path appDir;

private:
    std::unique_ptr<ActivityLog> log_;
};

// Prints a message for the user on stderr ("brightmend-cli: " + text).
void PrintError(const std::string& text);
// The error for a folder path the store does not hold.
std::string NoSuchFolderMessage(const std::string& path);

}  // namespace bm::cli
