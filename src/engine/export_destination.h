// Where an export goes and how its account reads: the folder it writes into
// and the JSON object (schema "brightmend.export/1") that the report file
// and the command line's --json give of it.
//
// An export always writes into a folder of its own that did not exist:
// with a chosen directory it is DIR/Export/<name><timestamp>/ (the same
// name as save gives its store, less ".pst"), and a taken name gets
// " (2)", " (3)", ...; a folder named outright must not exist at all.
// The folder is made with one mkdir, so two exports started at once never
// share one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/reconciliation.h"

namespace bm {

inline constexpr std::string_view kExportFolderName = "Export";
inline constexpr std::string_view kExportFormats[] = {"mbox", "maildir", "eml"};

// Whether `format` is one of kExportFormats.
bool IsExportFormat(std::string_view format);

// The folder made below `chosen`/Export, or the reason it could not be
// made. `chosen` must be a directory.
std::variant<std::filesystem::path, std::string> CreateExportFolder(const std::filesystem::path& chosen,
                                                                   std::string_view sourceFileName,
                                                                   std::string_view timestamp);
// The folder `named` made (its parent must exist), or why not: it exists
// (whatever it is), or it cannot be made.
std::variant<std::filesystem::path, std::string> CreateNamedExportFolder(const std::filesystem::path& named);

// What the export wrote, beside the account of the items.
struct ExportSummary {
    std::string format;  // one of kExportFormats
    std::filesystem::path folder;
    std::uint64_t messages = 0;
    std::uint64_t contacts = 0;
    std::uint64_t calendarItems = 0;
    std::uint64_t associatedLeftOut = 0;
    std::vector<std::filesystem::path> cardAndCalendarFiles;
};

// {"schema":"brightmend.export/1", "source", "format", "folder",
//  "outcome", "message", "written":{messages, contacts, calendarItems},
//  "associatedLeftOut", "cardAndCalendarFiles":[...], "reconciliation"}.
std::string ExportJson(const ReportHeader& header, const ExportSummary& summary, const Reconciliation& account);

}  // namespace bm
