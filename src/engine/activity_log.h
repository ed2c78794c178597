// The activity log: a plain-text trail of every run, appended entry by entry.
//
// Each entry is written as "\r\n" followed by its text, so the file starts
// with an empty line. The file lives in the channel's directory value
// ("LogPath" or "Recovery Log") when that names an existing directory, and
// in the application directory otherwise. A log that has grown past
// kLogResetSize bytes is emptied before the next entry. An entry is at most
// kLogLineLimit bytes; longer ones are cut (at a character boundary) and
// end in "\u2026".
//
// Any thread may append. Appends are serialised inside the process by a
// lock and between processes by an exclusive lock on the file, so
// concurrent entries wait for each other instead of being lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "engine/settings.h"

namespace bm {

enum class LogChannel : int {
    ActivityLog = 0,
    RecoveryLog = 1,
};

inline constexpr std::uint64_t kLogResetSize = 5ull * 1024 * 1024;
inline constexpr std::size_t kLogLineLimit = 299;

class ActivityLog {
public:
    // `appDir` is the fallback directory (the resolved "FilePath").
    ActivityLog(const Settings& settings, std::filesystem::path appDir);

    // The log file of a channel by the location rule.
    std::filesystem::path PathOf(LogChannel channel) const;

    // Appends one entry; 1 when it was written, 0 otherwise. Never reports
    // to the user.
    int AppendLogLine(LogChannel channel, std::string_view text) const;
    int Append(std::string_view text) const { return AppendLogLine(LogChannel::ActivityLog, text); }

    // Deletes the activity log (after the user confirmed kClearLogQuestion).
    // True when no log file is left.
    bool ClearActivityLog() const;

    // The start banner of one launch, dated `localTime`.
    void WriteStartBanner(const std::tm& localTime) const;

    const std::filesystem::path& appDir() const { return appDir_; }

private:
    const Settings& settings_;
    std::filesystem::path appDir_;
};

// "%d-%d-%d %d:%d:%d" from day, month, year, hour, minute, second.
std::string FormatBannerTime(const std::tm& localTime);

// The entries of the runs and of the store-file search.
void LogAnalysisStart(const ActivityLog& log);
void LogSavingStart(const ActivityLog& log, std::string_view targetDirectory);
// The saving summary, a line break and the closing words ("Saving
// completed successfully", "Saving aborted", or what was lost), as one entry.
void LogSavingEnd(const ActivityLog& log, std::string_view summary, std::string_view closing);
void LogSourceChosen(const ActivityLog& log, std::string_view path);
void LogSearchStarted(const ActivityLog& log, std::string_view directory);

}  // namespace bm
