// brightmend-cli save: the analysis run, then the saving run of the selected
// folders into a new store below DIR/Repair (or the file --output names),
// with the command line as the Save handler and status dialog. The run's
// account of every selected item goes to stdout (or the JSON object), the
// activity log and the report next to the output store; the exit code says
// whether everything was recovered.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "cli/cli_runs.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json_output.h"
#include "engine/analysis_run.h"
#include "engine/saving_request.h"
#include "engine/saving_run.h"
#include "engine/saving_selection.h"
#include "engine/saving_status.h"
#include "engine/saving_verdict.h"
#include "output/output_texts.h"
#include "output/save_to_pst.h"

namespace bm::cli {

namespace fs = std::filesystem;

namespace {

int Fail(const CliEnvironment& env, const std::string& message, int code = kExitFailure) {
    return FailCommand(env, "save", message, code);
}

}  // namespace

int RunSave(CliEnvironment& env, const SaveRequest& request, const ResumedSave* resume) {
    // Where to first, then what: the destination is asked for before the
    // folders, as the Save handler does.
    if (request.to.empty() && request.output.empty())
        return Fail(env, "--to DIR or --output FILE is required", kExitUsage);
    if (!request.all && request.folders.empty() && request.trees.empty())
        return Fail(env, std::string(kSelectAnyFolder) + " (--all, --folder PATH or --tree PATH)", kExitUsage);
    SavingRequest asked = SavingRequestOf(env, request);
    if (const std::optional<std::string> wrong = ReadSaveOptions(request, asked)) return Fail(env, *wrong, kExitUsage);
    std::error_code ec;
    // A save that goes on writes into its own store's ".partial" files.
    if (resume != nullptr) {
    } else if (!request.output.empty()) {
        const fs::path file(request.output);
        if (fs::is_directory(file, ec))
            return Fail(env, request.output + " is a directory; --output names the new store file (--to DIR "
                                              "saves into a directory)");
        if (fs::exists(fs::symlink_status(file, ec)))
            return Fail(env, request.output + ": " + std::string(kOutputFileExists));
        if (fs::exists(fs::symlink_status(PartialPath(file), ec)))
            return Fail(env, request.output + ": " + PartialPath(file).filename().string() +
                                 " is there, left by a save that was cut off; choose another name");
        const fs::path parent = file.parent_path().empty() ? fs::path(".") : file.parent_path();
        if (!fs::is_directory(parent, ec)) return Fail(env, parent.string() + ": no such directory for the new store");
    } else if (!fs::is_directory(request.to, ec)) {
        return Fail(env, std::string(kSavingPathMissing));
    }
    if (CheckMailClient(env.appDir) == MailClientCheck::Missing) return Fail(env, std::string(kMailClientMissing));

    const ActivityLog& log = env.Log();
    LogSourceChosen(log, request.store);

    if (!request.output.empty()) {
        asked.outputFile = fs::absolute(request.output, ec);
        asked.destination = asked.outputFile.parent_path();
    } else {
        asked.destination = MakeSaveDestination(request.to);
    }
    asked.markDamaged = request.markDamaged;

    std::variant<SavingSource, int> made = AnalyseForSaving(env, log, asked, "save");
    if (const int* code = std::get_if<int>(&made)) return *code;
    SavingSource& source = std::get<SavingSource>(made);
    if (resume != nullptr) {
        source.resume = resume->journal;
        source.resumedFrom = resume->journalPath;
    } else {
        source.journalRequest = JournalRequestOf(env, request);
    }
    const fs::path destination = source.destination;
    if (request.output.empty()) fs::create_directories(destination, ec);
    LogSavingStart(log, destination.string());
    const SelectedFolders selected = source.selected;
    CliSaving saving(env, log);
    saving.Run(std::move(source));
    const SavingRun& run = saving.run();

    const AnalysisOutcome outcome = run.outcome();
    const WellKnownCounts saved = run.saved();
    const std::vector<fs::path> stores = run.outputStores();
    const Reconciliation account = run.reconciliation();
    const FolderTally totals = account.totals();
    if (env.json) {
        OrderedJson out = JsonObject("save");
        out["store"] = request.store;
        out["destination"] = destination.string();
        out["outcome"] = run.outcomeName();
        out["message"] = run.message();
        OrderedJson paths = OrderedJson::array();
        for (const fs::path& p : stores) paths.push_back(p.string());
        out["outputStores"] = std::move(paths);
        out["report"] = run.reportText().empty() ? OrderedJson(nullptr) : OrderedJson(run.reportText().string());
        out["reportJson"] = run.reportJson().empty() ? OrderedJson(nullptr) : OrderedJson(run.reportJson().string());
        OrderedJson folders = OrderedJson::array();
        for (const std::string& p : selected.paths()) folders.push_back(p);
        out["selectedFolders"] = std::move(folders);
        out["savedCounts"] = CountsJson(saved);
        out["itemsSaved"] = totals.saved;
        out["itemsNotRecovered"] = totals.lost;
        out["itemsDamaged"] = totals.damaged;
        out["itemsNotReached"] = totals.notReached;
        out["itemsLeftOutByFilter"] = totals.leftOut;
        out["itemsDuplicate"] = totals.duplicates;
        out["failedItems"] = run.failedItems();
        out["reconciliation"] = ReconciliationToJson(account);
        PrintJson(out);
    } else {
        for (const fs::path& p : stores) std::printf("Output store: %s\n", p.string().c_str());
        if (!run.reportText().empty()) std::printf("Report: %s\n", run.reportText().string().c_str());
        for (const WellKnownCategory c : SummaryOrder())
            std::printf("%s%d\n", std::string(CategoryLogLabel(c)).c_str(), saved[c]);
        PrintReconciliationText(account, true);
        std::printf("%s\n", run.message().c_str());
    }
    if (outcome == AnalysisOutcome::Aborted && !env.json) PrintError(run.message());
    return SavingExitCode(run);
}

}  // namespace bm::cli
