// Entries the tool writes to the activity log, and its file names.
// Code and tests use these constants; the texts are the tool's own and must
// not change.
#pragma once

#include <string_view>

namespace bm {

inline constexpr std::string_view kActivityLogFileName = "Activity Log.txt";
inline constexpr std::string_view kRecoveryLogFileName = "Recovery Log.txt";

// An entry of its own that makes an empty line.
inline constexpr std::string_view kLogLineBreak = "\r\n";

// Start banner.
inline constexpr std::string_view kLogBannerStart =
    "*******************************START LOG FILE *******************************";
inline constexpr std::string_view kLogProductName = "Brightmend";
inline constexpr std::string_view kLogProductVersion = "Version 12.0";

// Step 1 and the search for store files.
inline constexpr std::string_view kLogStep1 = "Step1:";
inline constexpr std::string_view kLogSelectSourcePath = "Select Source Path: ";
inline constexpr std::string_view kLogSearchButton = "Click The Search Button";
inline constexpr std::string_view kLogFindNow = "Click the Search button for the Searching *.OST file";
inline constexpr std::string_view kLogSearchDirectoryChosen = "Select Path for Searching Files\r\n";
inline constexpr std::string_view kLogSearchBack = "Press Back Button for select mode ";

// The runs.
inline constexpr std::string_view kLogAnalysisStart = "Step2: Analysis OST File";
inline constexpr std::string_view kLogSavingStart = "Step3: Saving OST File";
inline constexpr std::string_view kLogTargetPath = "Target Path: ";
inline constexpr std::string_view kLogSavingCompleted = "Saving completed successfully";
inline constexpr std::string_view kLogSavingAborted = "Saving aborted";

// Question asked before the log is cleared (menu "Clear Log").
inline constexpr std::string_view kClearLogQuestion = "Do you want to clear log file ?";

}  // namespace bm
