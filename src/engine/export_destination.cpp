#include "engine/export_destination.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "output/save_to_pst.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

// 0 when made, else errno.
int MakeDirectory(const fs::path& path) { return ::mkdir(path.c_str(), 0755) == 0 ? 0 : errno; }

constexpr int kMaxNumbered = 10000;

std::string Exists(const fs::path& named) {
    return named.string() + " exists; the export goes into a new folder, never into one that is there";
}

}  // namespace

bool IsExportFormat(std::string_view format) {
    for (const std::string_view f : kExportFormats)
        if (f == format) return true;
    return false;
}

std::variant<fs::path, std::string> CreateExportFolder(const fs::path& chosen, std::string_view sourceFileName,
                                                       std::string_view timestamp) {
    std::error_code ec;
    if (!fs::is_directory(chosen, ec)) return chosen.string() + ": no such directory";
    const fs::path parent = chosen / kExportFolderName;
    if (const int error = MakeDirectory(parent); error != 0 && error != EEXIST)
        return "cannot create " + parent.string() + ": " + std::strerror(error);
    if (!fs::is_directory(fs::symlink_status(parent, ec)))
        return parent.string() + " is there and is no directory";
    const std::string base = OutputStem(sourceFileName) + std::string(timestamp);
    for (int n = 1; n <= kMaxNumbered; ++n) {
        const fs::path folder = parent / (n == 1 ? base : base + " (" + std::to_string(n) + ")");
        const int error = MakeDirectory(folder);
        if (error == 0) return folder;
        if (error != EEXIST) return "cannot create " + folder.string() + ": " + std::strerror(error);
    }
    return "no free name for the export in " + parent.string();
}

std::variant<fs::path, std::string> CreateNamedExportFolder(const fs::path& named) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(named, ec))) return Exists(named);
    const int error = MakeDirectory(named);
    if (error == 0) return named;
    if (error == EEXIST) return Exists(named);
    return "cannot create " + named.string() + ": " + std::strerror(error);
}

std::string ExportJson(const ReportHeader& header, const ExportSummary& summary, const Reconciliation& account) {
    std::string out = "{\"schema\":\"brightmend.export/1\",\"source\":" + JsonString(header.source) +
                      ",\"format\":" + JsonString(summary.format) + ",\"folder\":" + JsonString(summary.folder.string()) +
                      ",\"outcome\":" + JsonString(header.outcome) + ",\"message\":" + JsonString(header.message) +
                      ",\"written\":{\"messages\":" + std::to_string(summary.messages) +
                      ",\"contacts\":" + std::to_string(summary.contacts) +
                      ",\"calendarItems\":" + std::to_string(summary.calendarItems) +
                      "},\"associatedLeftOut\":" + std::to_string(summary.associatedLeftOut) +
                      ",\"cardAndCalendarFiles\":[";
    for (std::size_t i = 0; i < summary.cardAndCalendarFiles.size(); ++i) {
        // Piece by piece: a literal before a string makes the optimiser warn
        // of overlapping copies that cannot happen.
        if (i > 0) out += ',';
        out += JsonString(summary.cardAndCalendarFiles[i].string());
    }
    return out + "],\"reconciliation\":" + ReconciliationJson(account) + "}";
}

}  // namespace bm
