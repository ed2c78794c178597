// brightmend-cli save: the analysis run, then the saving run of the selected
// folders into a new store below DIR/Repair, with the command line as the
// Save handler and status dialog.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "cli/cli_runs.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "engine/analysis_run.h"
#include "engine/saving_run.h"
#include "engine/saving_selection.h"
#include "engine/saving_status.h"

namespace bm::cli {

namespace fs = std::filesystem;

int RunSave(CliEnvironment& env, const SaveRequest& request) {
    if (!request.all && request.folders.empty() && request.trees.empty()) {
        PrintError(std::string(kSelectAnyFolder));
        return kExitFailure;
    }
    std::error_code ec;
    if (request.to.empty() || !fs::is_directory(request.to, ec)) {
        PrintError(std::string(kSavingPathMissing));
        return kExitFailure;
    }
    if (CheckMailClient(env.appDir) == MailClientCheck::Missing) {
        PrintError(std::string(kMailClientMissing));
        return kExitFailure;
    }

    const ActivityLog& log = env.Log();
    LogSourceChosen(log, request.store);

    // The analysis first: it gives the folder tree the selection is made of.
    std::vector<std::string> tree;
    bool analysisStopped = false;
    WellKnownCounts analysisCounts;
    {
        CliAnalysis cliAnalysis(env, log);
        cliAnalysis.Run(request.store);
        const AnalysisRun& analysis = cliAnalysis.run();
        if (analysis.outcome() == AnalysisOutcome::Failed) {
            if (analysis.message().empty()) PrintError(std::string(kFileHighlyCorrupted));
            return kExitFailure;
        }
        analysisStopped = analysis.outcome() == AnalysisOutcome::Aborted;
        analysis.results().Read([&](const AnalysisData& d) {
            for (const FolderTreeEntry& e : d.tree) tree.push_back(e.path);
            analysisCounts = d.counts;
        });
    }

    // A folder the store does not hold is a mistake to report, not an
    // empty selection to save.
    for (const std::vector<std::string>* asked : {&request.folders, &request.trees}) {
        for (const std::string& f : *asked) {
            const std::string path = WithFinalBackslash(f);
            if (path != kRootFolderPath && std::find(tree.begin(), tree.end(), path) == tree.end()) {
                PrintError(NoSuchFolderMessage(path));
                return kExitFailure;
            }
        }
    }

    SelectedFolders selected;
    if (request.all) selected.SelectAll(tree);
    for (const std::string& f : request.folders) selected.Select(f);
    for (const std::string& t : request.trees) selected.SelectTree(t, tree);
    if (selected.empty()) {
        PrintError(std::string(kSelectAnyFolder));
        return kExitFailure;
    }

    const fs::path destination = MakeSaveDestination(request.to);
    fs::create_directories(destination, ec);
    LogSavingStart(log, destination.string());

    SavingSource source;
    source.sourcePath = request.store;
    source.selected = selected;
    source.destination = destination;
    source.analysisStopped = analysisStopped;
    source.analysisCounts = analysisCounts;
    source.deepScan = env.deepScan;
    source.recoverDeleted = env.recoverDeleted;
    CliSaving saving(env, log);
    saving.Run(std::move(source));
    const SavingRun& run = saving.run();

    const AnalysisOutcome outcome = run.outcome();
    const WellKnownCounts saved = run.saved();
    const std::vector<fs::path> stores = run.outputStores();
    if (env.json) {
        OrderedJson out;
        out["store"] = request.store;
        out["destination"] = destination.string();
        out["outcome"] = OutcomeName(outcome);
        out["message"] = run.message();
        OrderedJson paths = OrderedJson::array();
        for (const fs::path& p : stores) paths.push_back(p.string());
        out["outputStores"] = std::move(paths);
        OrderedJson folders = OrderedJson::array();
        for (const std::string& p : selected.paths()) folders.push_back(p);
        out["selectedFolders"] = std::move(folders);
        out["savedCounts"] = CountsJson(saved);
        out["failedItems"] = run.failedItems();
        PrintJson(out);
    } else {
        for (const fs::path& p : stores) std::printf("Output store: %s\n", p.string().c_str());
        for (const WellKnownCategory c : SummaryOrder())
            std::printf("%s%d\n", std::string(CategoryLogLabel(c)).c_str(), saved[c]);
        if (run.failedItems() > 0) std::printf("Items skipped: %d\n", run.failedItems());
        std::printf("%s\n", run.message().c_str());
    }
    if (outcome == AnalysisOutcome::Aborted && !env.json) PrintError(run.message());
    return outcome == AnalysisOutcome::Completed ? kExitSuccess : kExitFailure;
}

}  // namespace bm::cli
