// Runs brightmend-cli as a user runs it, with its settings and data in a
// scratch directory, and catches its exit code, stdout and stderr.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "engine/engine_test_helpers.h"
#include "check/store_checker.h"

namespace bmtest {

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// `seconds` (when not 0) bounds the run: a CLI still running then is
// killed and the exit code is 137, so a test of a hang cannot hang itself.
inline CliResult RunCli(const std::vector<std::string>& args, const std::filesystem::path& home,
                        unsigned seconds = 0) {
    const std::filesystem::path out = home / "stdout.txt";
    const std::filesystem::path err = home / "stderr.txt";
    std::string command = "BRIGHTMEND_CONFIG=" + ShellQuote((home / "brightmend.conf").string()) +
                          " XDG_DATA_HOME=" + ShellQuote((home / "data").string()) + " " +
                          (seconds != 0 ? "timeout -s KILL " + std::to_string(seconds) + " " : std::string()) +
                          ShellQuote(BRIGHTMEND_CLI);
    for (const std::string& a : args) command += " " + ShellQuote(a);
    command += " >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string()) + " </dev/null";
    const int status = std::system(command.c_str());
    CliResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadTextFile(out);
    r.err = ReadTextFile(err);
    return r;
}

// The mail an `analyze --json` found: the messages of all its mail folders.
inline long MailItemsOf(const nlohmann::json& analysis) {
    long n = 0;
    for (const nlohmann::json& f : analysis["mailFolders"]) n += f["messageCount"].get<long>();
    return n;
}

// A command line the program is to refuse, run with --json (and a minute
// at the most): its exit code must be `exitCode` and its stdout one JSON
// object of outcome "failed". The JSON is an empty object when stdout was
// none.
struct RefusedRun {
    CliResult result;
    nlohmann::json json;
};
inline RefusedRun RunRefused(std::vector<std::string> args, const std::filesystem::path& home, int exitCode) {
    args.push_back("--json");
    RefusedRun run{RunCli(args, home, 60), nlohmann::json::object()};
    EXPECT_EQ(run.result.exitCode, exitCode) << run.result.out << run.result.err;
    const nlohmann::json j = nlohmann::json::parse(run.result.out, nullptr, false);
    if (j.is_discarded()) {
        ADD_FAILURE() << "stdout is no JSON: " << run.result.out;
        return run;
    }
    run.json = j;
    EXPECT_EQ(run.json["outcome"], "failed");
    return run;
}

// Starts the program without a shell, so the signal reaches it.
inline pid_t SpawnCli(const std::vector<std::string>& args, const std::filesystem::path& home) {
    const std::string config = "BRIGHTMEND_CONFIG=" + (home / "brightmend.conf").string();
    const std::string data = "XDG_DATA_HOME=" + (home / "data").string();
    std::vector<std::string> env{config, data};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string_view(*e).rfind("BRIGHTMEND_CONFIG=", 0) != 0 && std::string_view(*e).rfind("XDG_DATA_HOME=", 0) != 0)
            env.emplace_back(*e);
    std::vector<std::string> argv{BRIGHTMEND_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp, envp;
    for (std::string& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (home / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (home / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits until a file whose name ends in `ending` is in `dir`; false when
// none came within `timeout`.
inline bool WaitForFileEndingIn(const std::filesystem::path& dir, std::string_view ending,
                                std::chrono::seconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir, ec))
            if (e.path().filename().string().ends_with(ending)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// The Python that has pypff: Debian's, when it is there.
inline std::string Python() {
    return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// A shell command's exit code and its output (stdout and stderr), kept in `log`.
struct Shell {
    int code = -1;
    std::string text;
};

inline Shell RunShell(const std::string& command, const std::filesystem::path& log) {
    const int status = std::system((command + " >" + ShellQuote(log.string()) + " 2>&1").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(log)};
}

// A store this tool wrote: the checker, held to its strict rules, finds
// nothing at all.
inline void ExpectStrictlyClean(const std::filesystem::path& store) {
    bm::CheckOptions strict;
    strict.strictReferenceCounts = true;
    strict.strictFolderTables = true;
    const bm::CheckReport report = bm::CheckStore(store, strict);
    for (const bm::Finding& f : report.findings) ADD_FAILURE() << bm::FormatFinding(f);
    EXPECT_TRUE(report.ok());
}

// The names every CLI test file uses: `using namespace bmtest::cli_names;`.
namespace cli_names {
namespace fs = std::filesystem;
using nlohmann::json;
using bmtest::CliResult;
using bmtest::RunCli;
using bmtest::ShellQuote;
using bmtest::MailItemsOf;
using bmtest::RefusedRun;
using bmtest::RunRefused;
using bmtest::SpawnCli;
}  // namespace cli_names

}  // namespace bmtest
