#include "cli/cli_runs.h"

#include <cstdio>
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
    {
        // In place before the run starts: a signal as soon as the run is
        // under way must stop it, not end the process.
        const InterruptStop interrupt(run_.reader().stopAnalysis);
        run_.Start(source);
        if (InterruptStop::Received()) run_.reader().stopAnalysis = true;
        run_.Wait();
    }
    progress_.Finish();
}

CliSaving::CliSaving(CliEnvironment& env, const ActivityLog& log)
    : progress_(env.progressMode, "Saving"), run_(*this, &log) {}

void CliSaving::Run(SavingSource source) {
    {
        // In place before the run starts: the run creates the output store at
        // once, and a signal from then on must close it, not end the process.
        const InterruptStop interrupt(run_.reader().stopSaving);
        run_.Start(std::move(source));
        if (InterruptStop::Received()) run_.reader().stopSaving = true;
        run_.Wait();
    }
    progress_.Finish();
}

std::string_view CategoryKey(WellKnownCategory category) {
    switch (category) {
    case WellKnownCategory::Inbox: return "inbox";
    case WellKnownCategory::Outbox: return "outbox";
    case WellKnownCategory::Drafts: return "drafts";
    case WellKnownCategory::SentItems: return "sentItems";
    case WellKnownCategory::DeletedItems: return "deletedItems";
    case WellKnownCategory::Tasks: return "tasks";
    case WellKnownCategory::Contacts: return "contacts";
    case WellKnownCategory::JunkEmail: return "junkEmail";
    case WellKnownCategory::Notes: return "notes";
    case WellKnownCategory::Journal: return "journal";
    case WellKnownCategory::Calendar: return "calendar";
    case WellKnownCategory::SyncIssues: return "syncIssues";
    }
    return "inbox";
}

OrderedJson CountsJson(const WellKnownCounts& counts) {
    OrderedJson out = OrderedJson::object();
    for (const WellKnownCategory c : SummaryOrder()) out[std::string(CategoryKey(c))] = counts[c];
    return out;
}

OrderedJson ReconciliationToJson(const Reconciliation& account) {
    return OrderedJson::parse(ReconciliationJson(account));
}

void PrintReconciliationText(const Reconciliation& account, bool saving) {
    std::printf("%s\n", FormatReconciliationTotals(account, saving).c_str());
    for (const LostItem& item : account.lost())
        std::printf("Not recovered: %s\n", EscapeForTerminal(FormatLostItem(item)).c_str());
    for (const DamagedItem& item : account.damaged())
        std::printf("Damaged: %s\n", EscapeForTerminal(FormatDamagedItem(item)).c_str());
}

}  // namespace bm::cli
