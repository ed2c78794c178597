// What the analyze and save commands share: the runs with the command line
// as their page. Progress goes to stderr, messages are printed as the
// tool's own, and Ctrl-C sets the run's stop flag while it works.
#pragma once

#include <string>

#include "cli/cli_environment.h"
#include "cli/json_output.h"
#include "cli/progress.h"
#include "engine/analysis_run.h"
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
    CliSaving(CliEnvironment& env, const ActivityLog& log);
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

// The twelve counts under the summary's labels, in the summary's order.
OrderedJson CountsJson(const WellKnownCounts& counts);

}  // namespace bm::cli
