#include "cli/cli_runs.h"

#include <utility>

#include "cli/interrupt.h"
#include "engine/log_texts.h"

namespace bm::cli {

CliAnalysis::CliAnalysis(CliEnvironment& env, const ActivityLog& log)
    : progress_(env.progressMode, "Analysing"), run_(*this, &log, env.appDir), deepScan_(env.deepScan), recoverDeleted_(env.recoverDeleted) {}

void CliAnalysis::Run(const std::string& store) {
    AnalysisSource source;
    source.sourcePath = store;
    source.deepScan = deepScan_;
    source.recoverDeleted = recoverDeleted_;
    run_.Start(source);
    {
        const InterruptStop interrupt(run_.reader().stopAnalysis);
        run_.Wait();
    }
    progress_.Finish();
}

CliSaving::CliSaving(CliEnvironment& env, const ActivityLog& log)
    : progress_(env.progressMode, "Saving"), run_(*this, &log) {}

void CliSaving::Run(SavingSource source) {
    run_.Start(std::move(source));
    {
        const InterruptStop interrupt(run_.reader().stopSaving);
        run_.Wait();
    }
    progress_.Finish();
}

OrderedJson CountsJson(const WellKnownCounts& counts) {
    OrderedJson out = OrderedJson::object();
    for (const WellKnownCategory c : SummaryOrder()) out[TrimLabel(CategoryLogLabel(c))] = counts[c];
    return out;
}

}  // namespace bm::cli
