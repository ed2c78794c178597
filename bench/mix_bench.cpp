// Saving real-looking mail, next to readpst, warm and cold.
//
//   mix_bench [--dir DIR] [--messages N] [--rounds R] [--cold] [--cli PATH] [--no-peers]
//       A store of N mails of the realistic mix (default 130,000, about
//       1.2 GB; see realistic_mix.h) is written with the project's writer;
//       then, in R interleaved rounds (default 3), `brightmend-cli save
//       --all` (its own check included), `readpst -q -j 0` (a full export;
//       unless --no-peers), `list --json` and `analyze` run over it as child
//       processes. With --cold the store is dropped from the page cache
//       before each run (posix_fadvise DONTNEED), so every run reads it
//       from the disk. Reports the median wall time of each, MB/s of the
//       source, peak memory, and save's speed as a multiple of readpst's,
//       next to the targets (save 3x readpst and 220 MB/s, list and analyze
//       600 MB/s warm, 300 MB/s cold).
//
// The store is written into a directory the benchmark makes inside DIR
// (default: the temporary directory) and removes at the end.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench_cli.h"
#include "bench_support.h"
#include "realistic_mix.h"

namespace {

namespace fs = std::filesystem;
using bmbench::ChildRun;

constexpr const char* kUsage =
    "usage: mix_bench [--dir DIR] [--messages N] [--rounds R] [--cold] [--cli PATH] [--no-peers]\n"
    "  save --all, list --json and analyze of a generated store of N mails of the realistic mix\n"
    "  (default 130000: HTML, RTF and plain bodies, attachments, appointments, contacts), next to\n"
    "  readpst -j 0 of the same store, in R interleaved rounds (default 3); medians, MB/s and peak\n"
    "  memory against the targets. --cold drops the store from the page cache before each run.\n"
    "  --cli PATH   the brightmend-cli to run (default: the one built beside this program)\n";

// Drops the file's pages from the page cache (they are clean: written and synced before).
bool DropFromCache(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::fdatasync(fd);
    const bool ok = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return ok;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Runs {
    std::vector<double> seconds;
    double peakMb = 0;
    bool failed = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (bmbench::AnsweredHelp(argc, argv, kUsage)) return 0;
    fs::path parent = fs::temp_directory_path();
    fs::path cli = bmbench::DefaultCli();
    std::uint64_t mails = 130'000;
    std::uint64_t rounds = 3;
    bool cold = false;
    bool peers = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--dir" && value) {
            parent = argv[++i];
        } else if (arg == "--cli" && value) {
            cli = argv[++i];
        } else if (arg == "--messages" && bmbench::ParseCount(value, mails) && mails > 0) {
            ++i;
        } else if (arg == "--rounds" && bmbench::ParseCount(value, rounds) && rounds > 0) {
            ++i;
        } else if (arg == "--cold") {
            cold = true;
        } else if (arg == "--no-peers") {
            peers = false;
        } else {
            std::fprintf(stderr, "%s", kUsage);
            return 2;
        }
    }
    const bmbench::ScratchDir dir(parent, "mix-bench");
    if (!dir.ok()) {
        std::fprintf(stderr, "%s\n", dir.error().c_str());
        return 1;
    }
    const fs::path store = dir.path() / "mix.ost";
    const bmbench::Timer made;
    if (!bmbench::MakeRealisticStore(store, mails)) {
        std::fprintf(stderr, "the store could not be written\n");
        return 1;
    }
    const double storeMb = bmbench::FileMb(store);
    std::printf("store: %llu mails + 200 appointments + 300 contacts, %.0f MB (written in %.1f s)\n",
                static_cast<unsigned long long>(mails), storeMb, made.seconds());
    const bool readpst = peers && bmbench::OnPath("readpst");
    if (peers && !readpst) std::printf("readpst is not on the PATH: left out\n");

    const std::vector<std::string> names = {"save --all", "readpst -j 0", "list --json", "analyze"};
    std::map<std::string, Runs> runs;
    for (std::uint64_t round = 0; round < rounds; ++round) {
        for (const std::string& name : names) {
            if (name == "readpst -j 0" && !readpst) continue;
            const fs::path out = dir.path() / "out";
            fs::remove_all(out);
            fs::create_directories(out);
            std::vector<std::string> argv;
            if (name == "save --all")
                argv = {cli.string(), "-q", "save", store.string(), "--output", (out / "saved.pst").string(), "--all"};
            else if (name == "readpst -j 0")
                argv = {"readpst", "-q", "-j", "0", "-o", out.string(), store.string()};
            else if (name == "list --json")
                argv = {cli.string(), "-q", "list", store.string(), "--json"};
            else
                argv = {cli.string(), "-q", "analyze", store.string()};
            if (cold ? !DropFromCache(store) : !bmbench::WarmPageCache(store)) {
                std::fprintf(stderr, "cannot %s the page cache\n", cold ? "drop the store from" : "warm");
                return 1;
            }
            const ChildRun r = bmbench::RunProgram(argv);
            Runs& k = runs[name];
            // readpst exits non-zero on what it cannot read; the others must exit 0.
            if (!r.ran || (name != "readpst -j 0" && r.exitCode != 0)) k.failed = true;
            k.seconds.push_back(r.seconds);
            k.peakMb = std::max(k.peakMb, r.peakRssMb);
        }
    }
    std::printf("%s cache, %llu rounds, load average %.1f\n", cold ? "cold" : "warm",
                static_cast<unsigned long long>(rounds), bmbench::LoadAverage());
    std::printf("%-14s %10s %10s %10s\n", "command", "median s", "MB/s", "peak MB");
    for (const std::string& name : names) {
        if (!runs.count(name)) continue;
        const Runs& k = runs[name];
        const double s = Median(k.seconds);
        std::printf("%-14s %10.2f %10.0f %10.0f%s\n", name.c_str(), s, s > 0 ? storeMb / s : 0, k.peakMb,
                    k.failed ? "  (a run FAILED)" : "");
    }
    const double save = Median(runs["save --all"].seconds);
    if (readpst && save > 0) {
        const double ratio = Median(runs["readpst -j 0"].seconds) / save;
        std::printf("save is %.2fx readpst's speed (target 3x): %s\n", ratio, ratio >= 3 ? "met" : "NOT met");
    }
    const double listTarget = cold ? 300 : 600;
    for (const char* name : {"list --json", "analyze"}) {
        const double s = Median(runs[name].seconds);
        if (s > 0)
            std::printf("%s at %.0f MB/s (target %.0f): %s\n", name, storeMb / s, listTarget,
                        storeMb / s >= listTarget ? "met" : "NOT met");
    }
    bool failed = false;
    for (const auto& [name, k] : runs) failed = failed || k.failed;
    return failed ? 1 : 0;
}
