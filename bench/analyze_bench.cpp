// Time and peak memory of the analysis run and of the full listing (what
// `analyze` and `list` do, the listing also with --recover-deleted) over
// large stores, next to pffexport and readpst (`-j 0`, a full export) on the
// same files in the same run. Each figure is printed next to its target:
// at least 300 MB/s from the page cache, and at least 5x readpst's speed;
// and the ratio to each reader. A reader that is not installed is skipped.
// CPU time is printed next to wall time and the load average once, since a
// shared machine makes wall time noisy.
//
//   analyze_bench [--dir DIR] [--messages N] [--store FILE]... [--skip-peer NAME]...
//
// Stores: a generated one of N mails (default 100,000; 0 for none) written
// with the project's writer, unicode-enron.pst from the shared stores when
// present, and every --store given. Each is copied into DIR first, since
// the runs open their store exclusively. Every program runs in a child
// process of its own, so each peak memory is that program's alone. The
// copies go into a directory the benchmark makes inside DIR (default: the
// temporary directory) and removes at the end; nothing else in DIR is touched.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_cli.h"
#include "bench_support.h"
#include "engine/analysis_run.h"
#include "engine/store_listing.h"

namespace {

namespace fs = std::filesystem;
using bmbench::ChildRun;

class Quiet : public bm::AnalysisObserver {};

// Readers left out with --skip-peer (on large stores they can take far
// longer than everything else together).
std::vector<std::string> g_skippedPeers;
bool Skipped(const std::string& peer) {
    return std::find(g_skippedPeers.begin(), g_skippedPeers.end(), peer) != g_skippedPeers.end();
}

class CountingVisitor : public bm::StoreListingVisitor {
public:
    void OnFolderBegin(const bm::ListedFolder&) override { ++folders; }
    void OnItem(std::uint32_t, const bm::ItemRecord& record) override {
        ++items;
        attachments += record.attachments.size();
    }
    std::uint64_t folders = 0;
    std::uint64_t items = 0;
    std::uint64_t attachments = 0;
};

// Runs `work` in a child process: its time, peak memory and whether it
// succeeded (exit code 0).
template <typename Work>
ChildRun InChild(Work work) {
    ChildRun r;
    const bmbench::Timer timer;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return r;
    if (child == 0) _exit(work() ? 0 : 1);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return r;
    r.ran = true;
    r.seconds = timer.seconds();
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.peakRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    r.cpuSeconds = bmbench::CpuSecondsOf(usage);
    return r;
}

constexpr double kTargetMbPerSecond = 300.0;
constexpr double kTargetTimesReadpst = 5.0;

void Print(const char* what, const ChildRun& r, double mb, bool withTarget) {
    if (!r.ran) {
        std::printf("  %-10s not installed or --skip-peer, skipped\n", what);
        return;
    }
    std::printf("  %-10s %8.2f s (CPU %6.2f s) %7.1f MB/s  peak RSS %7.1f MB%s", what, r.seconds, r.cpuSeconds,
                mb / r.seconds, r.peakRssMb, r.exitCode == 0 ? "" : "  (exit code not 0)");
    if (withTarget)
        std::printf("  [target %.0f MB/s: %s]", kTargetMbPerSecond,
                    mb / r.seconds >= kTargetMbPerSecond ? "met" : "NOT met");
    std::printf("\n");
}

// How many times faster than the reader, with the target where one is set.
void PrintRatio(const char* what, const ChildRun& ours, const char* peer, const ChildRun& theirs, double target) {
    if (!ours.ran || !theirs.ran || theirs.exitCode != 0 || ours.seconds <= 0) return;
    const double ratio = theirs.seconds / ours.seconds;
    std::printf("  %-10s %.1fx faster than %s", what, ratio, peer);
    if (target > 0) std::printf("  [target %.0fx: %s]", target, ratio >= target ? "met" : "NOT met");
    std::printf("\n");
}

void Bench(const fs::path& store, const fs::path& dir) {
    const double mb = bmbench::FileMb(store);
    std::printf("%s: %.1f MB\n", store.filename().c_str(), mb);

    const ChildRun analyze = InChild([&] {
        Quiet quiet;
        bm::AnalysisRun run(quiet, nullptr, dir / "app");
        bm::AnalysisSource source;
        source.sourcePath = store.string();
        return run.AnalyzeStore(source) == bm::AnalysisOutcome::Completed;
    });
    const auto listing = [&](bool recoverDeleted) {
        return InChild([&] {
            CountingVisitor visitor;
            bm::StoreReader reader;
            bm::StoreListingOptions options;
            options.recoverDeleted = recoverDeleted;
            const bm::StoreListing listed = bm::ListStoreContents(store, visitor, reader, options);
            return listed.result == bm::StoreListingResult::Listed && visitor.items > 0;
        });
    };
    const ChildRun list = listing(false);
    // The search for deleted items adds one sequential pass over the file.
    const ChildRun listDeleted = listing(true);
    const fs::path pffOut = dir / "pffexport";
    const fs::path readpstOut = dir / "readpst";
    fs::remove_all(pffOut);
    fs::remove_all(readpstOut);
    fs::create_directories(readpstOut);
    const ChildRun pff = Skipped("pffexport") ? ChildRun{}
                                              : bmbench::RunProgram({"pffexport", "-q", "-t", pffOut.string(), store.string()});
    fs::remove_all(pffOut.string() + ".export");
    fs::remove_all(pffOut);
    const ChildRun readpst =
        Skipped("readpst") ? ChildRun{}
                           : bmbench::RunProgram({"readpst", "-j", "0", "-q", "-S", "-D", "-o", readpstOut.string(),
                                                  store.string()});
    fs::remove_all(readpstOut);

    Print("analyze", analyze, mb, true);
    Print("list", list, mb, true);
    Print("list+del", listDeleted, mb, false);
    if (list.ran && listDeleted.ran && list.seconds > 0)
        std::printf("  --recover-deleted costs %.2f s more (%.1fx the listing)\n", listDeleted.seconds - list.seconds,
                    listDeleted.seconds / list.seconds);
    Print("pffexport", pff, mb, false);
    Print("readpst", readpst, mb, false);
    PrintRatio("analyze", analyze, "readpst", readpst, kTargetTimesReadpst);
    PrintRatio("list", list, "readpst", readpst, kTargetTimesReadpst);
    PrintRatio("analyze", analyze, "pffexport", pff, 0);
    PrintRatio("list", list, "pffexport", pff, 0);
}

constexpr const char* kUsage =
    "usage: analyze_bench [--dir DIR] [--messages N] [--store FILE]... [--skip-peer readpst|pffexport]...\n"
    "  the analysis and the full listing of a generated store of N mails (default\n"
    "  100000; 0 for none), of unicode-enron.pst when present and of every --store,\n"
    "  next to pffexport and readpst.\n";

}  // namespace

int main(int argc, char** argv) {
    if (bmbench::AnsweredHelp(argc, argv, kUsage)) return 0;
    fs::path parent = fs::temp_directory_path();
    std::uint64_t messages = 100'000;
    std::vector<fs::path> stores;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 < argc && std::strcmp(argv[i], "--dir") == 0) {
            parent = argv[++i];
        } else if (i + 1 < argc && std::strcmp(argv[i], "--messages") == 0 &&
                   bmbench::ParseCount(argv[i + 1], messages)) {
            ++i;
        } else if (i + 1 < argc && std::strcmp(argv[i], "--store") == 0) {
            stores.emplace_back(argv[++i]);
        } else if (i + 1 < argc && std::strcmp(argv[i], "--skip-peer") == 0) {
            g_skippedPeers.emplace_back(argv[++i]);
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    const bmbench::ScratchDir scratch(parent, "brightmend-analyze-bench");
    if (!scratch.ok()) {
        std::fprintf(stderr, "analyze_bench: %s\n", scratch.error().c_str());
        return 1;
    }
    const fs::path& dir = scratch.path();

    std::vector<fs::path> copies;
    const fs::path enron = fs::path(BRIGHTMEND_SOURCE_DIR) / ".." / "shared" / "stores" / "unicode-enron.pst";
    if (fs::exists(enron)) stores.insert(stores.begin(), enron);
    for (const fs::path& s : stores) {
        const fs::path copy = dir / s.filename();
        fs::copy_file(s, copy, fs::copy_options::overwrite_existing);
        fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
        copies.push_back(copy);
    }
    if (messages > 0) {
        const fs::path generated = dir / "generated.ost";
        const bmbench::Timer making;
        if (!bmbench::MakeLargeStore(generated, messages)) {
            std::fprintf(stderr, "analyze_bench: cannot write the generated store\n");
            return 1;
        }
        std::printf("generated.ost: %llu messages written in %.1f s\n", static_cast<unsigned long long>(messages),
                    making.seconds());
        copies.push_back(generated);
    }
    std::printf("load average %.2f on %ld cores before the runs\n", bmbench::LoadAverage(),
                sysconf(_SC_NPROCESSORS_ONLN));
    for (const fs::path& store : copies) {
        if (!bmbench::WarmPageCache(store)) {
            std::fprintf(stderr, "analyze_bench: cannot read %s\n", store.c_str());
            return 1;
        }
        Bench(store, dir);
    }
    return 0;
}
