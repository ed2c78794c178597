// brightmend-cli analyze: the analysis run with the command line as its page.
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "cli/cli_runs.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json_output.h"
#include "engine/analysis_run.h"
#include "engine/log_texts.h"
#include "engine/reconciliation.h"

namespace bm::cli {

namespace {

void PrintJsonResult(const AnalysisRun& run, const std::string& store, const std::string& message) {
    const Reconciliation account = run.reconciliation();
    // A folder's associated items are not in its message count: they are
    // given beside it, from the run's account.
    std::map<std::string, std::int64_t, std::less<>> associated;
    for (const FolderTally& t : account.folders()) associated[t.path] = t.associated;
    OrderedJson out = JsonObject("analyze");
    out["store"] = store;
    run.results().Read([&](const AnalysisData& d) {
        out["formatVersion"] = d.formatVersion;
        out["outcome"] = OutcomeName(run.outcome());
        out["message"] = message;
        OrderedJson tree = OrderedJson::array();
        for (const FolderTreeEntry& e : d.tree) tree.push_back(e.path);
        out["tree"] = std::move(tree);
        OrderedJson folders = OrderedJson::array();
        for (const FolderRecord& f : d.folders) {
            const auto a = associated.find(f.path);
            folders.push_back(OrderedJson{{"path", f.path},
                                          {"nid", f.nid},
                                          {"messageCount", f.count},
                                          {"associatedCount", a != associated.end() ? a->second : 0}});
        }
        out["mailFolders"] = std::move(folders);
        out["counts"] = CountsJson(d.counts);
        out["contacts"] = d.contacts.size();
        out["tasks"] = d.tasks.size();
        out["notes"] = d.notes.size();
        out["journal"] = d.journal.size();
        out["calendar"] = d.calendar.size();
    });
    out["reconciliation"] = ReconciliationToJson(account);
    PrintJson(out);
}

void PrintTextResult(const AnalysisRun& run) {
    run.results().Read([&](const AnalysisData& d) {
        std::map<std::string, std::int32_t, std::less<>> mailCounts;
        for (const FolderRecord& f : d.folders) mailCounts.try_emplace(f.path, f.count);
        const auto printFolder = [&](const std::string& path) {
            const auto count = mailCounts.find(path);
            std::printf("%*s%s\\", FolderDepth(path) * 2, "", EscapeForTerminal(FolderName(path)).c_str());
            if (count != mailCounts.end()) std::printf("  (%d messages)", count->second);
            std::printf("\n");
        };
        if (!d.folders.empty() || !d.tree.empty()) printFolder(std::string(kRootFolderPath));
        for (const FolderTreeEntry& e : d.tree) printFolder(e.path);
        std::printf("\n");
        for (const WellKnownCategory c : SummaryOrder())
            std::printf("%s%d\n", std::string(CategoryLogLabel(c)).c_str(), d.counts[c]);
    });
    std::printf("\n");
    PrintReconciliationText(run.reconciliation(), false);
}

}  // namespace

int RunAnalyze(CliEnvironment& env, const std::string& store) {
    const ActivityLog& log = env.Log();
    LogSourceChosen(log, store);

    CliAnalysis analysis(env, log);
    analysis.Run(store);
    const AnalysisRun& run = analysis.run();

    const AnalysisOutcome outcome = run.outcome();
    const bool interrupted = outcome == AnalysisOutcome::Aborted && InterruptStop::Received();
    std::string message = run.message();
    if (message.empty() && outcome == AnalysisOutcome::Aborted) message = std::string(kAnalysisAbortedByUser);
    if (message.empty() && outcome == AnalysisOutcome::Failed) message = std::string(kFileHighlyCorrupted);
    if (env.json)
        PrintJsonResult(run, store, message);
    else if (outcome != AnalysisOutcome::Failed)
        PrintTextResult(run);  // a run that failed has nothing to show but its message
    if (outcome == AnalysisOutcome::Aborted && run.message().empty()) PrintError(message);
    if (outcome == AnalysisOutcome::Failed) return kExitFailure;
    if (outcome == AnalysisOutcome::Aborted) return interrupted ? kExitInterrupted : kExitFailure;
    return run.reconciliation().totals().lost > 0 ? kExitPartial : kExitSuccess;
}

}  // namespace bm::cli
