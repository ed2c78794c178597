// What every benchmark's command line shares: --help, counts given as
// arguments, and the working directory a benchmark writes its stores into.
//
// A benchmark never deletes what it did not make. `--dir DIR` names where
// its files may go; the benchmark makes a new directory of its own inside
// DIR (a unique name, so two runs side by side do not meet) and at the end
// removes that directory alone. DIR and whatever else it holds stay.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace bmbench {

inline bool IsHelp(const char* arg) { return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0; }

// True when any argument asks for help.
inline bool WantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (IsHelp(argv[i])) return true;
    return false;
}

// When any argument asks for help: prints `usage` and the --dir option
// every benchmark shares, and says so (the benchmark then exits 0).
inline bool AnsweredHelp(int argc, char** argv, const char* usage) {
    if (!WantsHelp(argc, argv)) return false;
    std::fputs(usage, stdout);
    std::fputs("  --dir DIR   where the benchmark makes its own working directory (default:\n"
               "              the temporary directory); only that directory is removed.\n",
               stdout);
    return true;
}

// The brightmend-cli built beside the running benchmark (in a parent
// folder or its src/cli), else the one on the PATH.
inline std::filesystem::path DefaultCli() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    for (fs::path dir = self.parent_path(); !dir.empty(); dir = dir.parent_path()) {
        for (const fs::path& candidate : {dir / "brightmend-cli", dir / "src" / "cli" / "brightmend-cli"})
            if (fs::exists(candidate, ec)) return candidate;
        if (dir == dir.parent_path()) break;
    }
    return "brightmend-cli";
}

// A whole decimal count; false for anything else (no sign, no suffix).
inline bool ParseCount(const char* text, std::uint64_t& out) {
    if (text == nullptr || *text == '\0') return false;
    std::uint64_t value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        const auto digit = static_cast<std::uint64_t>(*p - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

// The benchmark's own working directory inside a parent the user named.
class ScratchDir {
public:
    ScratchDir(const std::filesystem::path& parent, const std::string& prefix) : parent_(parent) {
        namespace fs = std::filesystem;
        std::error_code ec;
        if (!fs::exists(parent_, ec)) {
            // Remember each level this run makes, deepest first.
            for (fs::path p = fs::absolute(parent_, ec); !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
                madeParents_.push_back(p);
                if (p == p.parent_path()) break;
            }
            if (!fs::create_directories(parent_, ec) || ec) {
                error_ = "cannot create " + parent_.string() + ": " + ec.message();
                return;
            }
        } else if (!fs::is_directory(parent_, ec)) {
            error_ = parent_.string() + " is not a directory";
            return;
        }
        std::string pattern = (parent_ / (prefix + "-XXXXXX")).string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) {
            error_ = "cannot create a working directory in " + parent_.string() + ": " +
                     std::error_code(errno, std::generic_category()).message();
            return;
        }
        path_ = name.data();
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
        // Parents made for this run go too, but only those that nothing
        // else was put into meanwhile (remove() leaves a non-empty one).
        for (const std::filesystem::path& made : madeParents_) {
            if (!std::filesystem::remove(made, ec)) break;
        }
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& error() const { return error_; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path parent_;
    std::filesystem::path path_;
    std::string error_;
    std::vector<std::filesystem::path> madeParents_;
};

}  // namespace bmbench
