// brightmend-cli: the recovery engine from the command line.
//
//   brightmend-cli analyze STORE [--json] [--deep-scan]
//   brightmend-cli list STORE [--json] [--folder PATH] [--deep-scan]
//   brightmend-cli search DIR [--no-subdirs]
//   brightmend-cli info STORE
//   brightmend-cli check STORE [--strict] [--json]
//   brightmend-cli save STORE --to DIR [--folder PATH]... [--tree PATH]... [--all] [--json]
//                       [--deep-scan]
//
// Results go to stdout, progress and messages to stderr. Exit code 0 on
// success, 1 on failure (the message is on stderr). Ctrl-C stops the
// running command the way the Stop button does. --deep-scan scans the whole
// file for blocks and index pages even when the store's index looks sound
// (it happens by itself when the index is visibly damaged).
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "core_version.h"

int main(int argc, char** argv) {
    using namespace bm::cli;
    CLI::App app{"Brightmend: recovers the contents of Outlook offline store files (.ost)", "brightmend-cli"};
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

    CLI::App* info = app.add_subcommand("info", "Show the header, layout, encoding and table sizes of a store");
    info->add_option("STORE", store, "The .ost or .pst file")->required()->check(CLI::ExistingFile);

    bool strict = false;
    CLI::App* check = app.add_subcommand("check", "Check a .pst the way the store checker does; exit 1 on any error");
    check->add_option("STORE", store, "The .pst or .ost file")->required()->check(CLI::ExistingFile);
    check->add_flag("--strict", strict, "Reference counts and folder tables that differ are errors, not warnings");
    check->add_flag("--json", json, "Print one JSON object");

    SaveRequest saveRequest;
    CLI::App* save = app.add_subcommand("save", "Save the selected folders of a store into a new .pst below DIR/Repair");
    save->add_option("STORE", saveRequest.store, "The .ost or .pst file")->required()->check(CLI::ExistingFile);
    save->add_option("--to", saveRequest.to, "The destination directory (must exist)")->required();
    save->add_option("--folder", saveRequest.folders, "Save this folder (not its subfolders); repeatable")
        ->allow_extra_args(false);
    save->add_option("--tree", saveRequest.trees, "Save this folder and every folder below it; repeatable")
        ->allow_extra_args(false);
    save->add_flag("--all", saveRequest.all, "Save every folder");
    save->add_flag("--json", json, "Print one JSON object");
    save->add_flag("--deep-scan", deepScan, deepScanHelp);
    save->add_flag("--recover-deleted", recoverDeleted, recoverDeletedHelp);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitSuccess : kExitFailure;
    }

    CliEnvironment env(quiet, json);
    env.deepScan = deepScan;
    env.recoverDeleted = recoverDeleted;
    if (*analyze) return RunAnalyze(env, store);
    if (*list) return RunList(env, store, *folderOption ? std::optional<std::string>(folder) : std::nullopt);
    if (*search) return RunSearch(env, directory, !noSubdirs);
    if (*info) return RunInfo(env, store);
    if (*check) return RunCheck(env, store, strict);
    if (*save) return RunSave(env, saveRequest);
    return kExitFailure;
}
