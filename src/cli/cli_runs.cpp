#include "cli/cli_runs.h"

#include <cctype>
#include <cstdio>
#include <utility>

#include "cli/interrupt.h"
#include "engine/log_texts.h"
#include "engine/saving_selection.h"
#include "engine/saving_verdict.h"
#include "output/output_texts.h"

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

CliSaving::CliSaving(CliEnvironment& env, const ActivityLog& log, std::string_view label)
    : progress_(env.progressMode, std::string(label)), run_(*this, &log) {}

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

int FailCommand(const CliEnvironment& env, std::string_view command, const std::string& message, int code) {
    PrintError(message);
    if (env.json) PrintJson(FailureJson(std::string(command), message));
    return code;
}

SavingRequest SavingRequestOf(const CliEnvironment& env, const SelectionRequest& request) {
    SavingRequest asked;
    asked.sourcePath = request.store;
    asked.folders = request.folders;
    asked.trees = request.trees;
    asked.all = request.all;
    asked.deepScan = env.deepScan;
    asked.recoverDeleted = env.recoverDeleted;
    return asked;
}

std::optional<std::string> ReadFilterOptions(const SelectionRequest& request, SavingRequest& asked) {
    ItemFilter& filter = asked.filter;
    if (!request.since.empty()) {
        filter.since = ParseFilterDate(request.since, false);
        if (!filter.since) return "--since " + request.since + ": not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], UTC)";
    }
    if (!request.until.empty()) {
        filter.until = ParseFilterDate(request.until, true);
        if (!filter.until) return "--until " + request.until + ": not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], UTC)";
    }
    if (filter.since && filter.until && *filter.until <= *filter.since)
        return "--until " + request.until + " is not after --since " + request.since;
    for (const std::string& s : request.senders) {
        if (s.empty()) return "--from needs an address, a part of one or a domain";
        filter.senders.push_back(s);
    }
    for (const std::string& c : request.classes) {
        if (c.empty()) return "--class needs a message class or its beginning (IPM.Note, IPM.Appointment ...)";
        filter.classPrefixes.push_back(c);
    }
    asked.dedupe = request.dedupe;
    return std::nullopt;
}

std::optional<std::string> ReadSaveOptions(const SaveRequest& request, SavingRequest& asked) {
    if (std::optional<std::string> wrong = ReadFilterOptions(request, asked)) return wrong;
    if (!request.splitBy.empty()) {
        if (request.splitBy != "year") return "--split-by " + request.splitBy + ": the one way to split is by year";
        asked.splitByYear = true;
    }
    if (request.splitSize.empty()) return std::nullopt;
    const std::optional<std::uint64_t> size = ParseSize(request.splitSize);
    if (!size || *size < kSmallestStoreSizeLimit || *size > kLargestStoreSizeLimit)
        return "--split-size " + request.splitSize + ": give a size from 100M to 50G (such as 700M or 4G)";
    asked.storeSizeLimit = *size;
    return std::nullopt;
}

std::variant<SavingSource, int> AnalyseForSaving(CliEnvironment& env, const ActivityLog& log,
                                                 const SavingRequest& asked, std::string_view command) {
    // The analysis first: it gives the folder tree the selection is made of.
    std::variant<SavingSource, SavingRequestRefused> made;
    {
        CliAnalysis cliAnalysis(env, log);
        cliAnalysis.Run(asked.sourcePath);
        const AnalysisRun& analysis = cliAnalysis.run();
        if (analysis.outcome() == AnalysisOutcome::Failed) {
            const std::string message =
                analysis.message().empty() ? std::string(kFileHighlyCorrupted) : analysis.message();
            // The run has shown its message on stderr already.
            if (env.json) PrintJson(FailureJson(std::string(command), message));
            if (analysis.message().empty()) PrintError(message);
            return kExitFailure;
        }
        if (analysis.outcome() == AnalysisOutcome::Aborted && InterruptStop::Received()) {
            // Stopped before anything was written: nothing to close.
            const std::string message(kAnalysisAbortedByUser);
            PrintError(message);
            if (env.json) {
                OrderedJson out = FailureJson(std::string(command), message);
                out["outcome"] = "aborted";
                PrintJson(out);
            }
            return kExitInterrupted;
        }
        made = SavingSourceFor(asked, analysis);
    }
    if (const auto* refused = std::get_if<SavingRequestRefused>(&made))
        return FailCommand(env, command,
                           refused->unknownFolder.empty() ? std::string(kSelectAnyFolder)
                                                          : NoSuchFolderMessage(refused->unknownFolder));
    return std::move(std::get<SavingSource>(made));
}

int SavingExitCode(const SavingRun& run) {
    if (run.outcome() == AnalysisOutcome::Aborted) return InterruptStop::Received() ? kExitInterrupted : kExitFailure;
    // Nothing saved of what was there is a failed run; some lost, a partial one.
    const std::string verdict = run.outcomeName();
    if (verdict == SavingVerdictName(SavingVerdict::AllSaved)) return kExitSuccess;
    if (verdict == SavingVerdictName(SavingVerdict::SomeLost)) return kExitPartial;
    return kExitFailure;
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
    for (const DuplicateItem& item : account.duplicates())
        std::printf("Duplicate left out: %s\n", EscapeForTerminal(FormatDuplicateItem(item)).c_str());
}

}  // namespace bm::cli
