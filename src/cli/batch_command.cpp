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
#include "engine/export_destination.h"
#include "engine/file_finder.h"
#include "engine/saving_selection.h"

extern char** environ;

namespace bm::cli {

namespace fs = std::filesystem;

namespace {

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

// One store's save: this program run again as `save STORE ... --json`,
// its JSON going to a file of its own.
struct StoreRun {
    std::size_t index = 0;  // in the batch's order
    pid_t pid = -1;
    fs::path jsonFile;
    bool passedOn = false;  // a stop signal was passed on to it
    int exitCode = -1;      // -1: ended by a signal, or never started
    OrderedJson result;     // the save's own JSON object; null when it printed none
};

// `command` STORE --to DEST --json with the request's folders, filter and
// scan options, then `own` (the command's own options).
void Start(StoreRun& run, const std::string& store, std::string_view command, const SelectionRequest& request,
           const std::vector<std::string>& own, const CliEnvironment& env) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    std::vector<std::string> args{ec ? std::string("/proc/self/exe") : self.string(), "-q", std::string(command),
                                  store, "--to", request.to, "--json"};
    if (request.all) args.push_back("--all");
    for (const std::string& f : request.folders) args.insert(args.end(), {"--folder", f});
    for (const std::string& t : request.trees) args.insert(args.end(), {"--tree", t});
    if (!request.since.empty()) args.insert(args.end(), {"--since", request.since});
    if (!request.until.empty()) args.insert(args.end(), {"--until", request.until});
    for (const std::string& f : request.senders) args.insert(args.end(), {"--from", f});
    for (const std::string& c : request.classes) args.insert(args.end(), {"--class", c});
    if (request.dedupe) args.push_back("--dedupe");
    if (env.deepScan) args.push_back("--deep-scan");
    if (env.recoverDeleted) args.push_back("--recover-deleted");
    args.insert(args.end(), own.begin(), own.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, run.jsonFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (posix_spawn(&run.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) run.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

// Whether the save has ended (its exit code and JSON then read). A stop
// signal sent to this process alone is passed on first, so the save
// closes its output and ends as it would have by itself.
bool Ended(StoreRun& run) {
    if (run.pid < 0) return true;
    if (InterruptStop::Received() && !run.passedOn) {
        ::kill(run.pid, SIGTERM);
        run.passedOn = true;
    }
    int status = 0;
    const pid_t done = ::waitpid(run.pid, &status, WNOHANG);
    if (done == 0 || (done < 0 && errno == EINTR)) return false;
    if (done == run.pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    std::ifstream in(run.jsonFile);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    run.result = OrderedJson::parse(text, nullptr, false);
    if (run.result.is_discarded()) run.result = nullptr;
    return true;
}

OrderedJson EntryOf(const std::string& store, std::size_t position, std::string_view command, const StoreRun& run) {
    OrderedJson entry = OrderedJson::object();
    entry["store"] = store;
    entry["position"] = position;
    entry["exitCode"] = run.exitCode;
    const bool said = run.result.is_object();
    entry["outcome"] = said && run.result.contains("outcome") ? run.result["outcome"] : OrderedJson("failed");
    entry["message"] = said && run.result.contains("message") ? run.result["message"]
                                                              : OrderedJson("the save ended without saying why");
    entry[std::string(command)] = run.result;
    return entry;
}


// What is wrong with a batch request that is the same for both commands;
// nullopt when nothing is.
std::optional<std::string> BatchRequestWrong(const SelectionRequest& request) {
    if (!request.store.empty() || !request.output.empty())
        return "--batch saves every store into its own output below --to; give no STORE and no --output with it";
    if (request.to.empty()) return "--batch needs --to DIR";
    if (!request.all && request.folders.empty() && request.trees.empty())
        return std::string(kSelectAnyFolder) + " (--all, --folder PATH or --tree PATH)";
    return std::nullopt;
}

int RunBatch(CliEnvironment& env, const SelectionRequest& request, const char* kCommand,
             const std::vector<std::string>& own) {
    std::error_code ec;
    if (!fs::is_directory(request.to, ec)) return FailCommand(env, kCommand, request.to + ": no such directory");
    unsigned shard = 1, shards = 1;
    if (!request.shard.empty()) {
        char slash = 0;
        char rest = 0;
        if (std::sscanf(request.shard.c_str(), "%u%c%u%c", &shard, &slash, &shards, &rest) != 3 || slash != '/' ||
            shards == 0 || shard == 0 || shard > shards)
            return FailCommand(env, kCommand, "--shard takes K/N with 1 <= K <= N, e.g. 2/4", kExitUsage);
    }
    std::string problem;
    std::vector<std::string> stores = StoresOf(request.batch, problem);
    if (!problem.empty()) return FailCommand(env, kCommand, problem);
    // Where each store stands in the whole batch (from 1), so that the
    // summaries of its shards merge in the batch's order.
    std::vector<std::size_t> positions;
    if (shards > 1) {
        // Shard K of N takes every N-th store from the K-th on, so N runs
        // (on one machine or many) share a batch without meeting.
        std::vector<std::string> mine;
        for (std::size_t i = shard - 1; i < stores.size(); i += shards) {
            mine.push_back(stores[i]);
            positions.push_back(i + 1);
        }
        stores = std::move(mine);
    } else {
        for (std::size_t i = 0; i < stores.size(); ++i) positions.push_back(i + 1);
    }
    if (stores.empty())
        return FailCommand(env, kCommand, "no store files (.ost, .pst) in " + request.batch +
                                              (shards > 1 ? " for shard " + request.shard : std::string()));

    // The flag only records that a signal came: each save stops itself and
    // the batch then begins no other.
    std::atomic<bool> stop{false};
    const InterruptStop interrupt(stop);
    char scratch[] = "/tmp/brightmend-batch-XXXXXX";
    if (::mkdtemp(scratch) == nullptr) return FailCommand(env, kCommand, "cannot make a temporary folder");

    // Up to `jobs` saves at once, each started in the batch's order; the
    // summary lists them in that order whatever order they end in.
    const std::size_t jobs = std::max<std::size_t>(request.jobs, 1);
    std::vector<OrderedJson> entries(stores.size());
    std::vector<StoreRun> running;
    std::size_t next = 0;
    int whole = 0;
    bool stopped = false;
    while (next < stores.size() || !running.empty()) {
        stopped = stopped || InterruptStop::Received();
        while (!stopped && next < stores.size() && running.size() < jobs) {
            StoreRun run;
            run.index = next;
            run.jsonFile = fs::path(scratch) / ("save-" + std::to_string(next) + ".json");
            if (!env.quiet)
                std::fprintf(stderr, "brightmend-cli: %s %s\n", std::string(kCommand) == "save" ? "saving" : "exporting",
                             stores[next].c_str());
            Start(run, stores[next], kCommand, request, own, env);
            running.push_back(std::move(run));
            ++next;
        }
        if (stopped && running.empty()) break;
        bool any = false;
        for (auto it = running.begin(); it != running.end();) {
            if (!Ended(*it)) {
                ++it;
                continue;
            }
            any = true;
            const std::string& store = stores[it->index];
            entries[it->index] = EntryOf(store, positions[it->index], kCommand, *it);
            if (it->exitCode == kExitSuccess) ++whole;
            if (it->exitCode == kExitInterrupted) stopped = true;
            if (!env.json)
                std::printf("%s: %s (exit %d)\n", store.c_str(),
                            entries[it->index]["outcome"].get<std::string>().c_str(), it->exitCode);
            it = running.erase(it);
        }
        if (!any) ::usleep(20 * 1000);
    }
    OrderedJson list = OrderedJson::array();
    for (OrderedJson& e : entries)
        if (!e.is_null()) list.push_back(std::move(e));
    fs::remove_all(scratch, ec);
    const int code = stopped                                   ? kExitInterrupted
                     : whole == static_cast<int>(stores.size()) ? kExitSuccess
                                                                : kExitPartial;
    const std::string verdict = stopped ? "aborted" : code == kExitSuccess ? "completed" : "partial";
    if (env.json) {
        OrderedJson out = OrderedJson::object();
        out["schema"] = "brightmend.batch/1";
        out["command"] = kCommand;
        out["batch"] = request.batch;
        out["destination"] = request.to;
        out["shard"] = request.shard.empty() ? OrderedJson(nullptr) : OrderedJson(request.shard);
        out["jobs"] = jobs;
        out["outcome"] = verdict;
        out["storesFound"] = stores.size();
        out["storesWhole"] = whole;
        out["stores"] = std::move(list);
        PrintJson(out);
    } else {
        std::printf("%d of %zu stores %s whole%s\n", whole, stores.size(),
                    std::string(kCommand) == "save" ? "saved" : "exported", stopped ? "; stopped" : "");
    }
    return code;
}

}  // namespace

int RunSaveBatch(CliEnvironment& env, const SaveRequest& request) {
    constexpr const char* kCommand = "save";
    if (const std::optional<std::string> wrong = BatchRequestWrong(request))
        return FailCommand(env, kCommand, *wrong, kExitUsage);
    // Each store's save would refuse the same options: said once, here.
    SavingRequest checked;
    if (const std::optional<std::string> wrong = ReadSaveOptions(request, checked))
        return FailCommand(env, kCommand, *wrong, kExitUsage);
    std::vector<std::string> own;
    if (request.markDamaged) own.push_back("--mark-damaged");
    if (!request.splitSize.empty()) own.insert(own.end(), {"--split-size", request.splitSize});
    if (!request.splitBy.empty()) own.insert(own.end(), {"--split-by", request.splitBy});
    return RunBatch(env, request, kCommand, own);
}

int RunExportBatch(CliEnvironment& env, const ExportRequest& request) {
    constexpr const char* kCommand = "export";
    if (const std::optional<std::string> wrong = BatchRequestWrong(request))
        return FailCommand(env, kCommand, *wrong, kExitUsage);
    if (!IsExportFormat(request.format)) return FailCommand(env, kCommand, "--format must be mbox, maildir or eml", kExitUsage);
    SavingRequest checked;
    if (const std::optional<std::string> wrong = ReadFilterOptions(request, checked))
        return FailCommand(env, kCommand, *wrong, kExitUsage);
    return RunBatch(env, request, kCommand, {"--format", request.format});
}

}  // namespace bm::cli
