// Runs brightmend-cli as a user runs it, with its settings and data in a
// scratch directory, and catches its exit code, stdout and stderr.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/engine_test_helpers.h"
#include "output/store_checker.h"

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

}  // namespace bmtest
