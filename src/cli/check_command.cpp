// brightmend-cli check: the store checker's verdict on a store, one line
// per finding and a last line with the totals (or one JSON object).
#include <cstdio>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/json_output.h"
#include "check/store_checker.h"
#include "store/store_file.h"

namespace bm::cli {

int RunCheck(CliEnvironment& env, const std::string& store, bool strict) {
    // A FIFO, a device or a directory is refused before anything opens it,
    // as the other commands refuse it.
    if (const std::optional<std::string> what = NotARegularFile(store)) {
        if (env.json) PrintJson(FailureJson("check", *what));
        PrintError(*what);
        return kExitFailure;
    }
    CheckOptions options;
    options.strictReferenceCounts = strict;
    options.strictFolderTables = strict;
    options.clientRules = strict;
    const CheckReport report = CheckStore(store, options);
    const std::string verdict = report.notChecked ? "not checked"
                                : report.errorCount() > 0 ? "damaged"
                                                          : "ok";
    if (env.json) {
        OrderedJson out = JsonObject("check");
        out["store"] = store;
        out["formatVersion"] = report.version;
        out["verdict"] = verdict;
        out["errors"] = report.errorCount();
        out["warnings"] = report.warningCount();
        out["pages"] = report.pagesChecked;
        out["blocks"] = report.blocksChecked;
        out["nodes"] = report.nodesChecked;
        out["folderTablesChecked"] = report.folderTablesChecked;
        OrderedJson findings = OrderedJson::array();
        for (const Finding& f : report.findings) findings.push_back(FormatFinding(f));
        out["findings"] = std::move(findings);
        out["findingsNotShown"] = report.findingsDropped;
        OrderedJson byKind = OrderedJson::object();
        for (std::size_t k = 0; k < kFindingKindCount; ++k) {
            const auto kind = static_cast<FindingKind>(k);
            byKind[FindingKindName(kind)] = report.count(kind);
        }
        out["findingsByKind"] = std::move(byKind);
        out["outcome"] = report.ok() ? "completed" : "failed";
        out["message"] = report.notChecked ? "format version " + std::to_string(report.version) + " is not checked"
                         : report.ok()     ? std::string()
                                           : std::to_string(report.errorCount()) + " error(s)";
        PrintJson(out);
    } else {
        for (const Finding& f : report.findings) std::printf("%s\n", FormatFinding(f).c_str());
        if (report.findingsDropped > 0) std::printf("... %zu more findings not shown\n", report.findingsDropped);
        std::printf("%s: wVer %u, %llu pages, %llu blocks, %llu nodes: %zu error(s), %zu warning(s)%s: %s\n",
                    store.c_str(), report.version, static_cast<unsigned long long>(report.pagesChecked),
                    static_cast<unsigned long long>(report.blocksChecked),
                    static_cast<unsigned long long>(report.nodesChecked), report.errorCount(),
                    report.warningCount(), report.folderTablesChecked ? "" : " (folder tables not checked)",
                    verdict.c_str());
    }
    // A layout the checker cannot verify is no pass.
    if (report.notChecked) PrintError("format version " + std::to_string(report.version) + " is not checked");
    return report.ok() ? kExitSuccess : kExitFailure;
}

}  // namespace bm::cli
