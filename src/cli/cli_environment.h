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

// Exit codes, listed in --help and the README.
inline constexpr int kExitSuccess = 0;      // every selected item recovered
inline constexpr int kExitFailure = 1;      // the run failed: nothing usable was written or read
inline constexpr int kExitUsage = 2;        // the command line is wrong
inline constexpr int kExitPartial = 3;      // completed, but some items could not be recovered or came back damaged (listed)
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C, SIGTERM or SIGHUP; output closed and valid

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
