// brightmend-cli: the recovery engine from the command line.
//
//   brightmend-cli analyze STORE [--json] [--deep-scan]
//   brightmend-cli list STORE [--json] [--folder PATH] [--deep-scan]
//   brightmend-cli search DIR [--no-subdirs] [--json]
//   brightmend-cli info STORE
//   brightmend-cli check STORE [--strict] [--json]
//   brightmend-cli save STORE (--to DIR | --output FILE) [--folder PATH]... [--tree PATH]...
//                       [--all] [--json] [--deep-scan] [--mark-damaged] [--split-size SIZE]
//                       [--since DATE] [--until DATE] [--from ADDRESS]... [--class PREFIX]... [--dedupe]
//   brightmend-cli save --batch DIR|LIST --to DIR [--jobs N] [--shard K/N] [--folder PATH]... [--all] ...
//   brightmend-cli export --batch DIR|LIST --to DIR --format F [--jobs N] [--shard K/N] [--all] ...
//   brightmend-cli batch-summary SUMMARY|DIR... [--json]
//   brightmend-cli export STORE (--to DIR | --output DIR) --format mbox|maildir|eml
//                         [--folder PATH]... [--tree PATH]... [--all] [--json] [--deep-scan]
//                         [--since DATE] [--until DATE] [--from ADDRESS]... [--class PREFIX]... [--dedupe]
//
// Results go to stdout, progress and messages to stderr. Exit codes: 0 every
// selected item recovered; 1 the run failed; 2 usage error; 3 completed, but
// some items could not be recovered or were saved with damaged content
// (they are listed); 130 stopped by
// Ctrl-C, SIGTERM or SIGHUP (the output store is closed and valid). A stop
// signal stops the running command the way the Stop button does. --deep-scan scans the whole
// file for blocks and index pages even when the store's index looks sound
// (it happens by itself when the index is visibly damaged).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/json_output.h"
#include "core_version.h"
#include "output/save_to_pst.h"

namespace {

constexpr const char* kExitCodesHelp =
    "Exit codes:\n"
    "  0    every selected item was recovered\n"
    "  1    the run failed (cannot open the store, cannot create the output, nothing usable written,\n"
    "       or not one of the selected items saved)\n"
    "  2    usage error\n"
    "  3    completed, but some items could not be recovered (they are listed, and in the report)\n"
    "  130  stopped by Ctrl-C, SIGTERM or SIGHUP; the output store is closed and valid\n"
    "With --json every command prints exactly one JSON object, also on failure (see docs/json.md).";

constexpr const char* kCommands[] = {"analyze", "list", "save", "export", "check", "search", "info", "batch-summary"};

// The command a failed command line meant, for its JSON failure object.
std::string CommandIn(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        for (const char* name : kCommands)
            if (arg == name) return name;
    }
    return "cli";
}

// A store file a save was still writing when it was cut off is no store to
// read: what it is, for the user; nullopt for any other file.
std::optional<std::string> LeftOverPartial(const std::string& store) {
    if (!std::string_view(store).ends_with(bm::kPartialSuffix)) return std::nullopt;
    const std::filesystem::path journal = bm::JournalPath(store.substr(0, store.size() - bm::kPartialSuffix.size()));
    std::error_code ec;
    if (std::filesystem::is_regular_file(journal, ec))
        return store + ": a save was still writing this store when it was cut off (a left-over .partial file), so "
                       "it is not a finished store; brightmend-cli save --resume " + journal.string() +
               " goes on with that save";
    return store +
           ": a save was still writing this store when it was cut off (a left-over .partial file), so it is "
           "not a finished store; save again to make one";
}

// What is wrong with a command line that names no command: an option the
// program does not know ("-V"), or a word that is no command. nullopt when
// a command is there, or nothing at all is (the parser then says that a
// command is required), or help or the version is asked for.
std::optional<std::string> WithoutACommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        for (const char* name : kCommands)
            if (arg == name) return std::nullopt;
        if (arg == "-h" || arg == "--help" || arg == "--version") return std::nullopt;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-q" || arg == "--quiet") continue;
        if (arg.starts_with('-')) return "unknown option " + std::string(arg) + " (--version shows the version)";
        return "unknown command \"" + std::string(arg) + "\"; the commands are analyze, list, search, info, check, save, export and batch-summary";
    }
    return std::nullopt;
}

bool AskedForJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--json") == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace bm::cli;
    bm::IgnoreFileSizeSignal();
    CLI::App app{"Brightmend: recovers the contents of Outlook offline store files (.ost)", "brightmend-cli"};
    app.footer(kExitCodesHelp);
    app.set_version_flag("--version", std::string("brightmend-cli ") + bm::CoreVersion());
    app.require_subcommand(1);
    app.fallthrough();

    bool quiet = false;
    bool json = false;
    app.add_flag("-q,--quiet", quiet, "Print no progress on stderr");

    std::string store;
    std::string directory;
    std::string folder;
    bool noSubdirs = false;
    bool deepScan = false;
    const char* const deepScanHelp = "Scan the whole file for lost items even when the index looks sound";
    bool recoverDeleted = false;
    const char* const recoverDeletedHelp =
        "Also recover deleted items the file still holds, into \"Recovered Items\\Deleted\\\"";

    CLI::App* analyze = app.add_subcommand("analyze", "Analyse a store: its folder tree and the counts per folder");
    analyze->add_option("STORE", store, "The .ost or .pst file")->required()->check(CLI::ExistingFile);
    analyze->add_flag("--json", json, "Print one JSON object");
    analyze->add_flag("--deep-scan", deepScan, deepScanHelp);
    analyze->add_flag("--recover-deleted", recoverDeleted, recoverDeletedHelp);

    CLI::App* list = app.add_subcommand("list", "List every folder and every item of a store");
    list->add_option("STORE", store, "The .ost or .pst file")->required()->check(CLI::ExistingFile);
    list->add_flag("--json", json, "Print one JSON object");
    list->add_flag("--deep-scan", deepScan, deepScanHelp);
    list->add_flag("--recover-deleted", recoverDeleted, recoverDeletedHelp);
    CLI::Option* folderOption =
        list->add_option("--folder", folder, "Only the folder with this path, e.g. \"Personal Folders\\Inbox\\\"");

    CLI::App* search = app.add_subcommand("search", "Search a directory tree for store files (*.ost)");
    search->add_option("DIR", directory, "The directory to search")->required();
    search->add_flag("--no-subdirs", noSubdirs, "Search only the directory itself");
    search->add_flag("--json", json, "Print one JSON object");

    CLI::App* info = app.add_subcommand("info", "Show the header, layout, encoding and table sizes of a store");
    info->add_option("STORE", store, "The .ost or .pst file")->required()->check(CLI::ExistingFile);

    bool strict = false;
    CLI::App* check = app.add_subcommand("check", "Check a .pst the way the store checker does; exit 1 on any error");
    check->add_option("STORE", store, "The .pst or .ost file")->required()->check(CLI::ExistingFile);
    check->add_flag("--strict", strict, "Reference counts and folder tables that differ are errors, not warnings");
    check->add_flag("--json", json, "Print one JSON object");

    // The filter options save and export share.
    const auto addFilterOptions = [](CLI::App* command, SelectionRequest& request) {
        command->add_option("--since", request.since,
                            "Keep only items of this time or later (YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], UTC): the "
                            "delivery time, else the submit time, else the creation time");
        command->add_option("--until", request.until, "Keep only items before the end of this day (or this time)");
        command->add_option("--from", request.senders,
                            "Keep only items whose sender's address or name contains ADDRESS (a domain works too); "
                            "repeatable")
            ->allow_extra_args(false);
        command->add_option("--class", request.classes,
                            "Keep only items whose message class begins with PREFIX (IPM.Note, IPM.Appointment ...); "
                            "repeatable")
            ->allow_extra_args(false);
        command->add_flag("--dedupe", request.dedupe,
                          "Leave out an item that is a copy of one already saved into the same folder (same "
                          "Message-ID, class, bodies and attachments); each one is listed");
    };

    // The batch options save and export share; `verb` is "Save" or "Export".
    const auto addBatchOptions = [](CLI::App* command, SelectionRequest& request, const std::string& verb) {
        std::string lower = verb;
        lower[0] = static_cast<char>(lower[0] - 'A' + 'a');
        command->add_option("--batch", request.batch,
                            verb + " every store file in DIR (with its subdirectories) or named in LIST (one path "
                                   "per line), each into its own output below --to; the run goes on past a store "
                                   "that fails");
        command->add_option("--jobs", request.jobs, "With --batch: " + lower + " N stores at once (default 1)")
            ->check(CLI::Range(1u, 64u));
        command->add_option("--shard", request.shard,
                            "With --batch: take only every N-th store from the K-th on (K/N), so N runs share a batch");
    };

    SaveRequest saveRequest;
    CLI::App* save = app.add_subcommand(
        "save", "Save the selected folders of a store into a new .pst below DIR/Repair, or into FILE");
    save->add_option("STORE", saveRequest.store, "The .ost or .pst file (none with --batch)")->check(CLI::ExistingFile);
    addBatchOptions(save, saveRequest, "Save");
    CLI::Option* toOption = save->add_option(
        "--to", saveRequest.to,
        "The destination directory (must exist); the new store is DIR/Repair/<name><timestamp>.pst, never "
        "replacing a file (a taken name gets \" (2)\", \" (3)\" ...)");
    save->add_option("--output", saveRequest.output, "The new store file; an existing file is refused, never replaced")
        ->excludes(toOption);
    save->add_option("--folder", saveRequest.folders, "Save this folder (not its subfolders); repeatable")
        ->allow_extra_args(false);
    save->add_option("--tree", saveRequest.trees, "Save this folder and every folder below it; repeatable")
        ->allow_extra_args(false);
    save->add_flag("--all", saveRequest.all, "Save every folder");
    save->add_flag("--json", json, "Print one JSON object");
    save->add_flag("--deep-scan", deepScan, deepScanHelp);
    save->add_flag("--recover-deleted", recoverDeleted, recoverDeletedHelp);
    save->add_flag("--mark-damaged", saveRequest.markDamaged,
                   "Give the items saved with damaged content the category \"Damaged in recovery\"");
    save->add_option("--split-size", saveRequest.splitSize,
                     "Go on in a new part (\"<name> (part 2).pst\" ...) once the store passes SIZE (100M to 50G; "
                     "default 1.5G)");
    save->add_option("--split-by", saveRequest.splitBy,
                     "year: one store per year of the items' delivery time, \"<name> (2019).pst\" ... (items "
                     "without a time in \"<name> (undated).pst\")");
    addFilterOptions(save, saveRequest);
    save->add_option("--resume", saveRequest.resume,
                     "Go on with a save that was cut off (killed, a crash, a power cut) from its journal: the "
                     "journal, the store it was writing, or the folder it is in");

    ExportRequest exportRequest;
    CLI::App* exporting = app.add_subcommand(
        "export", "Export the selected folders of a store as MBOX, Maildir or .eml files (contacts as vCard, "
                  "calendars as iCalendar) into a new folder below DIR/Export, or into DIR");
    exporting->add_option("STORE", exportRequest.store, "The .ost or .pst file (none with --batch)")
        ->check(CLI::ExistingFile);
    addBatchOptions(exporting, exportRequest, "Export");
    CLI::Option* exportTo = exporting->add_option(
        "--to", exportRequest.to,
        "The destination directory (must exist); the export goes into a new folder DIR/Export/<name><timestamp>/");
    exporting->add_option("--output", exportRequest.output, "The export's folder; one that exists is refused")
        ->excludes(exportTo);
    exporting->add_option("--format", exportRequest.format, "mbox (Thunderbird's Local Folders), maildir or eml")
        ->required();
    exporting->add_option("--folder", exportRequest.folders, "Export this folder (not its subfolders); repeatable")
        ->allow_extra_args(false);
    exporting->add_option("--tree", exportRequest.trees, "Export this folder and every folder below it; repeatable")
        ->allow_extra_args(false);
    exporting->add_flag("--all", exportRequest.all, "Export every folder");
    exporting->add_flag("--json", json, "Print one JSON object");
    exporting->add_flag("--deep-scan", deepScan, deepScanHelp);
    exporting->add_flag("--recover-deleted", recoverDeleted, recoverDeletedHelp);
    addFilterOptions(exporting, exportRequest);

    std::vector<std::string> summaries;
    CLI::App* batchSummary = app.add_subcommand(
        "batch-summary", "Merge the JSON summaries of the shards of one batch (save --batch --shard K/N --json) "
                         "into one");
    batchSummary->add_option("SUMMARY", summaries, "A summary file, or a directory of them")->required();
    batchSummary->add_flag("--json", json, "Print one JSON object");

    if (const std::optional<std::string> wrong = WithoutACommand(argc, argv)) {
        std::fprintf(stderr, "brightmend-cli: %s\nRun with --help for more information.\n", wrong->c_str());
        if (AskedForJson(argc, argv)) PrintJson(FailureJson("cli", *wrong));
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);  // prints the help, the version or the error
        if (code == 0) return kExitSuccess;
        if (AskedForJson(argc, argv)) PrintJson(FailureJson(CommandIn(argc, argv), e.what()));
        // The only checks are on the store argument: a store that is not
        // there cannot be opened, which is a failed run, not a usage error.
        if (dynamic_cast<const CLI::ValidationError*>(&e) != nullptr) return kExitFailure;
        return kExitUsage;
    }

    if (*analyze || *list || *save || *exporting) {
        const std::string& source = *save ? saveRequest.store : *exporting ? exportRequest.store : store;
        if (const std::optional<std::string> partial = LeftOverPartial(source)) {
            PrintError(*partial);
            if (json) PrintJson(FailureJson(CommandIn(argc, argv), *partial));
            return kExitFailure;
        }
    }
    CliEnvironment env(quiet, json);
    env.deepScan = deepScan;
    env.recoverDeleted = recoverDeleted;
    if (*analyze) return RunAnalyze(env, store);
    if (*list) return RunList(env, store, *folderOption ? std::optional<std::string>(folder) : std::nullopt);
    if (*search) return RunSearch(env, directory, !noSubdirs);
    if (*info) return RunInfo(env, store);
    if (*check) return RunCheck(env, store, strict);
    if (*save && !saveRequest.resume.empty()) return RunResumedSave(env, saveRequest);
    if (*save && !saveRequest.batch.empty()) return RunSaveBatch(env, saveRequest);
    if (*save && saveRequest.store.empty()) {
        PrintError("save: STORE is required (or --batch DIR|LIST)");
        if (json) PrintJson(FailureJson("save", "STORE is required (or --batch DIR|LIST)"));
        return kExitUsage;
    }
    if (*save) return RunSave(env, saveRequest);
    if (*exporting && !exportRequest.batch.empty()) return RunExportBatch(env, exportRequest);
    if (*exporting && exportRequest.store.empty()) {
        PrintError("export: STORE is required (or --batch DIR|LIST)");
        if (json) PrintJson(FailureJson("export", "STORE is required (or --batch DIR|LIST)"));
        return kExitUsage;
    }
    if (*exporting) return RunExport(env, exportRequest);
    if (*batchSummary) return RunBatchSummary(env, summaries);
    return kExitFailure;
}
