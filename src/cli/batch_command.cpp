// brightmend-cli save --batch DIR|LIST: every store file below DIR (found
// with the search's rules, .ost and .pst, subdirectories included) or named
// in LIST (one path per line; empty lines and lines starting with '#' are
// skipped) is saved in turn into its own output below --to, each by a save
// of its own: this program run again as `save STORE --to DEST --json`, so
// that one store that fails, hangs up or is killed never takes the others
// with it. A store that cannot be saved is reported and the run goes on.
// The summary lists each store's outcome with its save's own object; the
// exit code is 0 only when every store was saved whole, 130 when a stop
// signal ended the run, else 3 (some store lost items or failed).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli_runs.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json_output.h"
#include "engine/file_finder.h"
#include "engine/saving_selection.h"

extern char** environ;

namespace bm::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCommand = "save";

// The store files the batch names, in order, each once.
std::vector<std::string> StoresOf(const fs::path& batch, std::string& problem) {
    std::vector<std::string> stores;
    std::error_code ec;
    if (fs::is_directory(batch, ec)) {
        for (const char* pattern : {"*.ost", "*.pst"}) {
            CFileFinder finder;
            FileFinderOptions options;
            options.baseDirectory = batch;
            options.namePattern = pattern;
            finder.FindFiles(options);
            for (const std::string& found : finder.found())
                if (!found.ends_with('/')) stores.push_back(found);
        }
        std::sort(stores.begin(), stores.end());
    } else if (fs::is_regular_file(batch, ec)) {
        std::ifstream list(batch);
        for (std::string line; std::getline(list, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line.front() == '#') continue;
            stores.push_back(line);
        }
        if (list.bad()) problem = batch.string() + ": the list cannot be read";
    } else {
        problem = batch.string() + ": no such directory or list of stores";
    }
    std::vector<std::string> once;
    for (const std::string& s : stores)
        if (std::find(once.begin(), once.end(), s) == once.end()) once.push_back(s);
    return once;
}

struct StoreRun {
    int exitCode = -1;  // -1: ended by a signal, or not started
    OrderedJson result;  // the save's own JSON object; null when it printed none
};

// This program run again as `save STORE ...` with its JSON on a file.
StoreRun SaveOne(const std::string& store, const SaveRequest& request, const CliEnvironment& env,
                 const fs::path& jsonFile) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    std::vector<std::string> args{ec ? std::string("/proc/self/exe") : self.string(), "-q", "save", store,
                                  "--to", request.to, "--json"};
    if (request.all) args.push_back("--all");
    for (const std::string& f : request.folders) args.insert(args.end(), {"--folder", f});
    for (const std::string& t : request.trees) args.insert(args.end(), {"--tree", t});
    if (request.markDamaged) args.push_back("--mark-damaged");
    if (env.deepScan) args.push_back("--deep-scan");
    if (env.recoverDeleted) args.push_back("--recover-deleted");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, jsonFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    StoreRun run;
    if (started != 0) return run;
    // A stop signal sent to this process alone is passed on, so the save
    // closes its output and ends as it would have by itself.
    int status = 0;
    bool passedOn = false;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) break;
        if (InterruptStop::Received() && !passedOn) {
            ::kill(pid, SIGTERM);
            passedOn = true;
        }
        ::usleep(20 * 1000);
    }
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    std::ifstream in(jsonFile);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    run.result = OrderedJson::parse(text, nullptr, false);
    if (run.result.is_discarded()) run.result = nullptr;
    return run;
}

}  // namespace

int RunSaveBatch(CliEnvironment& env, const SaveRequest& request) {
    if (!request.store.empty() || !request.output.empty())
        return FailCommand(env, kCommand, "--batch saves every store into its own output below --to; give no STORE "
                                          "and no --output with it", kExitUsage);
    if (request.to.empty()) return FailCommand(env, kCommand, "--batch needs --to DIR", kExitUsage);
    if (!request.all && request.folders.empty() && request.trees.empty())
        return FailCommand(env, kCommand, std::string(kSelectAnyFolder) + " (--all, --folder PATH or --tree PATH)",
                           kExitUsage);
    std::error_code ec;
    if (!fs::is_directory(request.to, ec)) return FailCommand(env, kCommand, request.to + ": no such directory");
    std::string problem;
    const std::vector<std::string> stores = StoresOf(request.batch, problem);
    if (!problem.empty()) return FailCommand(env, kCommand, problem);
    if (stores.empty()) return FailCommand(env, kCommand, "no store files (.ost, .pst) in " + request.batch);

    // The flag only records that a signal came: each save stops itself and
    // the batch then starts no other.
    std::atomic<bool> stop{false};
    const InterruptStop interrupt(stop);
    char scratch[] = "/tmp/brightmend-batch-XXXXXX";
    if (::mkdtemp(scratch) == nullptr) return FailCommand(env, kCommand, "cannot make a temporary folder");
    const fs::path jsonFile = fs::path(scratch) / "save.json";

    OrderedJson list = OrderedJson::array();
    int whole = 0;
    bool stopped = false;
    for (const std::string& store : stores) {
        if (InterruptStop::Received()) {
            stopped = true;
            break;
        }
        if (!env.quiet) std::fprintf(stderr, "brightmend-cli: saving %s\n", store.c_str());
        const StoreRun run = SaveOne(store, request, env, jsonFile);
        OrderedJson entry = OrderedJson::object();
        entry["store"] = store;
        entry["exitCode"] = run.exitCode;
        const std::string outcome =
            run.result.is_object() && run.result.contains("outcome") ? run.result["outcome"].get<std::string>() : "failed";
        entry["outcome"] = outcome;
        entry["message"] = run.result.is_object() && run.result.contains("message") ? run.result["message"]
                                                                                    : OrderedJson("the save ended without saying why");
        entry["save"] = run.result;
        list.push_back(std::move(entry));
        if (run.exitCode == kExitSuccess) ++whole;
        if (run.exitCode == kExitInterrupted) {
            stopped = true;
            break;
        }
        if (!env.json)
            std::printf("%s: %s (exit %d)\n", store.c_str(), outcome.c_str(), run.exitCode);
    }
    fs::remove_all(scratch, ec);
    const int code = stopped                                   ? kExitInterrupted
                     : whole == static_cast<int>(stores.size()) ? kExitSuccess
                                                                : kExitPartial;
    const std::string verdict = stopped ? "aborted" : code == kExitSuccess ? "completed" : "partial";
    if (env.json) {
        OrderedJson out = OrderedJson::object();
        out["schema"] = "brightmend.batch/1";
        out["batch"] = request.batch;
        out["destination"] = request.to;
        out["outcome"] = verdict;
        out["storesFound"] = stores.size();
        out["storesWhole"] = whole;
        out["stores"] = std::move(list);
        PrintJson(out);
    } else {
        std::printf("%d of %zu stores saved whole%s\n", whole, stores.size(), stopped ? "; stopped" : "");
    }
    return code;
}

}  // namespace bm::cli
