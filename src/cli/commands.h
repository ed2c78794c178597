// The commands of brightmend-cli; each returns the process exit code.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/cli_environment.h"
#include "engine/save_journal.h"

namespace bm::cli {

int RunAnalyze(CliEnvironment& env, const std::string& store);
int RunList(CliEnvironment& env, const std::string& store, const std::optional<std::string>& folder);
int RunSearch(CliEnvironment& env, const std::string& directory, bool subdirectories);
int RunInfo(CliEnvironment& env, const std::string& store);
// Exit 0 only when the checker verified the store and found no error.
int RunCheck(CliEnvironment& env, const std::string& store, bool strict);

// What save and export are asked: the store, where to, and which folders.
struct SelectionRequest {
    std::string store;
    std::string to;      // --to DIR
    std::string output;  // --output: the new store file, or the export's folder (must not exist)
    std::vector<std::string> folders;  // --folder: that folder only
    std::vector<std::string> trees;    // --tree: the folder and every folder below
    bool all = false;
    // Which items of those folders (see item_filter.h); text as given.
    std::string since;                 // --since DATE
    std::string until;                 // --until DATE (that day included)
    std::vector<std::string> senders;  // --from ADDRESS: a substring or a domain; repeatable
    std::vector<std::string> classes;  // --class PREFIX; repeatable
    bool dedupe = false;               // --dedupe: copies of an item saved before are left out
    // Many stores, each by a run of its own (see batch_command.cpp).
    std::string batch;  // --batch DIR|LIST: every store found there, each into its own output
    unsigned jobs = 1;  // --jobs N: runs of the batch at once
    std::string shard;  // --shard K/N: every N-th store of the batch from the K-th on
};

struct SaveRequest : SelectionRequest {
    bool markDamaged = false;  // --mark-damaged: the category "Damaged in recovery" on damaged items
    std::string splitSize;     // --split-size SIZE: where the new store goes on in a new part
    std::string splitBy;       // --split-by year: one store per year of the items' time
    std::string resume;        // --resume JOURNAL|DIR|STORE: go on with a save that was cut off
};
// `resume`: the journal of a save that was cut off, which this one goes on
// from (see resume_command.cpp); nullptr: a new save, which keeps a journal.
struct ResumedSave {
    SaveJournal journal;
    std::filesystem::path journalPath;
};
int RunSave(CliEnvironment& env, const SaveRequest& request, const ResumedSave* resume = nullptr);
// save --resume: the journal found, the request it holds saved again.
int RunResumedSave(CliEnvironment& env, const SaveRequest& request);
// The request as a journal keeps it, and back.
std::string JournalRequestOf(const CliEnvironment& env, const SaveRequest& request);
std::optional<SaveRequest> RequestOfJournal(const std::string& text, bool& deepScan, bool& recoverDeleted);
// save --batch and export --batch: each store saved or exported by a run of
// its own (see batch_command.cpp).
int RunSaveBatch(CliEnvironment& env, const SaveRequest& request);

// batch-summary: the summaries of a batch's shards merged into one (see
// batch_summary_command.cpp).
int RunBatchSummary(CliEnvironment& env, const std::vector<std::string>& inputs);
struct ExportRequest : SelectionRequest {
    std::string format;  // --format: mbox, maildir or eml
};
int RunExport(CliEnvironment& env, const ExportRequest& request);
int RunExportBatch(CliEnvironment& env, const ExportRequest& request);

}  // namespace bm::cli
