// storecheck FILE [--strict]: checks a store and prints every finding;
// exits 1 when there is an error, 2 on bad usage.
#include <cstdio>
#include <cstring>

#include "check/store_checker.h"

namespace {

constexpr const char* kUsage =
    "usage: storecheck FILE [--strict]\n"
    "  checks a store and prints every finding; exit 1 on any error, 2 on bad usage.\n"
    "  --strict  reference counts and folder tables that differ are errors.\n";

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    bm::CheckOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--strict") == 0) {
            options.strictReferenceCounts = true;
            options.strictFolderTables = true;
        } else if (path == nullptr && argv[i][0] != '-') {
            path = argv[i];
        } else {
            path = nullptr;
            break;
        }
    }
    if (path == nullptr) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const bm::CheckReport report = bm::CheckStore(path, options);
    for (const bm::Finding& f : report.findings) std::printf("%s\n", bm::FormatFinding(f).c_str());
    if (report.findingsDropped > 0) std::printf("... %zu more findings not shown\n", report.findingsDropped);
    if (report.notChecked) {
        std::printf("%s: format version %u not checked\n", path, report.version);
        return 0;
    }
    std::printf("%s: wVer %u, %llu pages, %llu blocks, %llu nodes, %llu folders: %zu error(s), %zu warning(s)%s\n",
                path, report.version, static_cast<unsigned long long>(report.pagesChecked),
                static_cast<unsigned long long>(report.blocksChecked),
                static_cast<unsigned long long>(report.nodesChecked),
                static_cast<unsigned long long>(report.foldersChecked), report.errorCount(), report.warningCount(),
                report.folderTablesChecked ? "" : "; folder tables not checked");
    return report.errorCount() > 0 ? 1 : 0;
}
