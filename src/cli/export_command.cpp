// brightmend-cli export: the analysis run, then the saving run of the
// selected folders through the export's item sink instead of the .pst
// writer: mail as MBOX, Maildir or .eml files, contacts as vCard and
// calendar items as iCalendar, into a new folder below DIR/Export (or the
// folder --output names). The account is the one save gives; it goes to
// stdout (or the brightmend.export/1 object), the activity log and the
// report beside the export folder, and the exit code is save's.
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

#include "cli/cli_runs.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "engine/export_destination.h"
#include "engine/saving_request.h"
#include "engine/saving_run.h"
#include "engine/saving_selection.h"
#include "output/export/export_sink.h"
#include "output/output_texts.h"
#include "output/save_to_pst.h"

namespace bm::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCommand = "export";

int Fail(const CliEnvironment& env, const std::string& message, int code = kExitFailure) {
    return FailCommand(env, kCommand, message, code);
}

mime::MailFormat MailFormatOf(const std::string& name) {
    if (name == "maildir") return mime::MailFormat::Maildir;
    if (name == "eml") return mime::MailFormat::Eml;
    return mime::MailFormat::Mbox;
}

std::string LocalTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return OutputTimestamp(local);
}

}  // namespace

int RunExport(CliEnvironment& env, const ExportRequest& request) {
    if (request.to.empty() && request.output.empty())
        return Fail(env, "--to DIR or --output DIR is required", kExitUsage);
    if (!IsExportFormat(request.format))
        return Fail(env, "--format must be mbox, maildir or eml", kExitUsage);
    if (!request.all && request.folders.empty() && request.trees.empty())
        return Fail(env, std::string(kSelectAnyFolder) + " (--all, --folder PATH or --tree PATH)", kExitUsage);
    SavingRequest asked = SavingRequestOf(env, request);
    if (const std::optional<std::string> wrong = ReadFilterOptions(request, asked)) return Fail(env, *wrong, kExitUsage);
    // The folder is made only once the analysis has read the store; what
    // could be wrong with it is said before.
    std::error_code ec;
    fs::path named;
    if (!request.output.empty()) {
        named = fs::absolute(request.output, ec);
        if (fs::exists(fs::symlink_status(named, ec)))
            return Fail(env, named.string() + " exists; the export goes into a new folder, never into one that is there");
        if (!fs::is_directory(named.parent_path(), ec))
            return Fail(env, named.parent_path().string() + ": no such directory for the export");
    } else if (!fs::is_directory(request.to, ec)) {
        return Fail(env, std::string(kSavingPathMissing));
    }

    const ActivityLog& log = env.Log();
    LogSourceChosen(log, request.store);
    asked.destination = request.output.empty() ? fs::path(request.to) : named.parent_path();
    std::variant<SavingSource, int> made = AnalyseForSaving(env, log, asked, kCommand);
    if (const int* code = std::get_if<int>(&made)) return *code;
    SavingSource& source = std::get<SavingSource>(made);

    const std::variant<fs::path, std::string> folder =
        request.output.empty()
            ? CreateExportFolder(request.to, fs::path(request.store).filename().string(), LocalTimestamp())
            : CreateNamedExportFolder(named);
    if (const auto* why = std::get_if<std::string>(&folder)) return Fail(env, *why);
    const fs::path exportFolder = std::get<fs::path>(folder);
    ExportSink sink(MailFormatOf(request.format), exportFolder);
    source.exportSink = &sink;
    source.exportFolder = exportFolder;
    LogSavingStart(log, exportFolder.string());
    CliSaving saving(env, log, "Exporting");
    saving.Run(std::move(source));
    const SavingRun& run = saving.run();
    const Reconciliation account = run.reconciliation();

    ExportSummary summary;
    summary.format = request.format;
    summary.folder = exportFolder;
    summary.messages = sink.counts().messages;
    summary.contacts = sink.counts().contacts;
    summary.calendarItems = sink.counts().calendarItems;
    summary.associatedLeftOut = sink.counts().associatedLeftOut;
    summary.cardAndCalendarFiles = sink.cardAndCalendarFiles();
    if (env.json) {
        ReportHeader header;
        header.run = "export";
        header.source = request.store;
        header.outcome = run.outcomeName();
        header.message = run.message();
        OrderedJson out = OrderedJson::parse(ExportJson(header, summary, account));
        out["report"] = run.reportText().empty() ? OrderedJson(nullptr) : OrderedJson(run.reportText().string());
        out["reportJson"] = run.reportJson().empty() ? OrderedJson(nullptr) : OrderedJson(run.reportJson().string());
        PrintJson(out);
    } else {
        std::printf("Export folder: %s\n", exportFolder.string().c_str());
        if (!run.reportText().empty()) std::printf("Report: %s\n", run.reportText().string().c_str());
        std::printf("Messages: %llu\nContacts: %llu\nCalendar items: %llu\nAssociated items left out: %llu\n",
                    static_cast<unsigned long long>(summary.messages),
                    static_cast<unsigned long long>(summary.contacts),
                    static_cast<unsigned long long>(summary.calendarItems),
                    static_cast<unsigned long long>(summary.associatedLeftOut));
        PrintReconciliationText(account, true);
        std::printf("%s\n", run.message().c_str());
    }
    if (run.outcome() == AnalysisOutcome::Aborted && !env.json) PrintError(run.message());
    return SavingExitCode(run);
}

}  // namespace bm::cli
