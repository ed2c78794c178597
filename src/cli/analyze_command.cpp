// brightmend-cli analyze: the analysis run with the command line as its page.
#include <cstdio>
#include <map>
#include <string>

#include "cli/cli_runs.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "engine/analysis_run.h"
#include "engine/log_texts.h"

namespace bm::cli {

namespace {

void PrintJsonResult(const AnalysisRun& run, const std::string& store) {
    OrderedJson out;
    out["store"] = store;
    run.results().Read([&](const AnalysisData& d) {
        out["formatVersion"] = d.formatVersion;
        out["outcome"] = OutcomeName(run.outcome());
        out["message"] = run.message();
        OrderedJson tree = OrderedJson::array();
        for (const FolderTreeEntry& e : d.tree) tree.push_back(e.path);
        out["tree"] = std::move(tree);
        OrderedJson folders = OrderedJson::array();
        for (const FolderRecord& f : d.folders)
            folders.push_back(OrderedJson{{"path", f.path}, {"nid", f.nid}, {"messageCount", f.count}});
        out["mailFolders"] = std::move(folders);
        out["counts"] = CountsJson(d.counts);
        out["contacts"] = d.contacts.size();
        out["tasks"] = d.tasks.size();
        out["notes"] = d.notes.size();
        out["journal"] = d.journal.size();
        out["calendar"] = d.calendar.size();
    });
    PrintJson(out);
}

void PrintTextResult(const AnalysisRun& run) {
    run.results().Read([&](const AnalysisData& d) {
        std::map<std::string, std::int32_t, std::less<>> mailCounts;
        for (const FolderRecord& f : d.folders) mailCounts.try_emplace(f.path, f.count);
        const auto printFolder = [&](const std::string& path) {
            const auto count = mailCounts.find(path);
            std::printf("%*s%s\\", FolderDepth(path) * 2, "", std::string(FolderName(path)).c_str());
            if (count != mailCounts.end()) std::printf("  (%d messages)", count->second);
            std::printf("\n");
        };
        if (!d.folders.empty() || !d.tree.empty()) printFolder(std::string(kRootFolderPath));
        for (const FolderTreeEntry& e : d.tree) printFolder(e.path);
        std::printf("\n");
        for (const WellKnownCategory c : SummaryOrder())
            std::printf("%s%d\n", std::string(CategoryLogLabel(c)).c_str(), d.counts[c]);
    });
}

}  // namespace

int RunAnalyze(CliEnvironment& env, const std::string& store) {
    const ActivityLog& log = env.Log();
    LogSourceChosen(log, store);

    CliAnalysis analysis(env, log);
    analysis.Run(store);
    const AnalysisRun& run = analysis.run();

    if (env.json)
        PrintJsonResult(run, store);
    else
        PrintTextResult(run);
    const AnalysisOutcome outcome = run.outcome();
    if (outcome == AnalysisOutcome::Aborted && run.message().empty()) PrintError(std::string(kAnalysisAbortedByUser));
    return outcome == AnalysisOutcome::Completed ? kExitSuccess : kExitFailure;
}

}  // namespace bm::cli
