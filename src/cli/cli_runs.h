// What the analyze and save commands share: the runs with the command line
// as their page. Progress goes to stderr, messages are printed as the
// tool's own, and Ctrl-C sets the run's stop flag while it works.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "cli/cli_environment.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/progress.h"
#include "engine/analysis_run.h"
#include "engine/journal_request.h"
#include "engine/saving_request.h"
#include "engine/saving_run.h"

namespace bm::cli {

// The analysis run of one store, shown on stderr.
class CliAnalysis : private AnalysisObserver {
public:
    CliAnalysis(CliEnvironment& env, const ActivityLog& log);
    // Starts the run and returns once it has ended.
    void Run(const std::string& store);
    AnalysisRun& run() { return run_; }

private:
    void OnProgressRange(std::int32_t maximum) override { progress_.SetTotal(maximum); }
    void OnProgressPosition(std::int32_t position) override { progress_.Update(position); }
    void OnMessage(const std::string& text) override { progress_.Message("brightmend-cli: " + text); }
    void OnFinished(const AnalysisFinish&) override { progress_.Finish(); }

    ProgressReporter progress_;
    AnalysisRun run_;
    bool deepScan_;
    bool recoverDeleted_;
};

// The saving run, shown on stderr.
class CliSaving : private SavingObserver {
public:
    // `label` heads the progress line ("Saving", "Exporting").
    CliSaving(CliEnvironment& env, const ActivityLog& log, std::string_view label = "Saving");
    void Run(SavingSource source);
    SavingRun& run() { return run_; }

private:
    void OnProgressRange(std::int32_t maximum) override { progress_.SetTotal(maximum); }
    void OnProgressPosition(std::int32_t position) override { progress_.Update(position); }
    void OnMessage(const std::string& text) override { progress_.Message("brightmend-cli: " + text); }
    void OnFinished(const SavingFinish&) override { progress_.Finish(); }

    ProgressReporter progress_;
    SavingRun run_;
};

// Prints `message` as the command's error (and its JSON failure object
// with --json); returns `code`.
int FailCommand(const CliEnvironment& env, std::string_view command, const std::string& message,
                int code = kExitFailure);
// The engine's request for a save or an export: the store, the folders
// and the scan options of the command line; where to is the caller's.
SavingRequest SavingRequestOf(const CliEnvironment& env, const SelectionRequest& request);
// Reads the filter options of `request` (--since, --until, --from,
// --class, --dedupe) into `asked`; what is wrong with them, nullopt when
// nothing is.
std::optional<std::string> ReadFilterOptions(const SelectionRequest& request, SavingRequest& asked);
// The filter options and save's --split-size into `asked`, the same way.
std::optional<std::string> ReadSaveOptions(const SaveRequest& request, SavingRequest& asked);
// The analysis run before a save or an export, then what the saving run
// takes for `asked`; the exit code when it cannot go on (the analysis
// failed or was stopped, or the request names a folder the analysis did
// not meet), its message printed.
std::variant<SavingSource, int> AnalyseForSaving(CliEnvironment& env, const ActivityLog& log,
                                                 const SavingRequest& asked, std::string_view command);
// The exit code of a finished saving run: 0 all saved, 3 some lost or
// damaged, 130 stopped by a signal, 1 otherwise.
int SavingExitCode(const SavingRun& run);

// The JSON key of a category: "inbox", "sentItems", "junkEmail", ...
std::string_view CategoryKey(WellKnownCategory category);
// The twelve counts under their camelCase keys, in the summary's order.
OrderedJson CountsJson(const WellKnownCounts& counts);
// The reconciliation object: totals, folders (by path), notRecovered.
OrderedJson ReconciliationToJson(const Reconciliation& account);
// The totals line and one line per item not recovered, on stdout.
void PrintReconciliationText(const Reconciliation& account, bool saving);

}  // namespace bm::cli
