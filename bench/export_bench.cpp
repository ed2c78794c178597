// Throughput and memory of the export to mail files.
//
//   export_bench [--dir DIR] [--messages N]... [--format mbox|maildir|eml]... [--cli PATH] [--no-peers]
//       For each N (default 100,000) a store of N generated mails over 25
//       folders (plain and HTML bodies, an attachment in every fourth) is
//       written with the project's writer; then `brightmend-cli export
//       --all` runs over it in each format (default mbox) as a child
//       process, and readpst's MBOX export of the same store beside it
//       (unless --no-peers). Reports MB/s of source data, time per message
//       (flat from one N to the next when the export scales) and peak
//       memory, each next to its target.
//
// The stores are written into a directory the benchmark makes inside DIR
// (default: the temporary directory) and removes at the end.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_cli.h"
#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
using bmbench::ChildRun;

constexpr double kTargetMbPerSecond = 200.0;
constexpr double kPeakTargetMb = 300.0;

constexpr const char* kUsage =
    "usage: export_bench [--dir DIR] [--messages N]... [--format mbox|maildir|eml]... [--cli PATH] [--no-peers]\n"
    "  brightmend-cli export --all of a generated store of N mails (default 100000; several\n"
    "  --messages show how the time per message grows) in each format (default mbox), next to\n"
    "  readpst's MBOX export of the same store (unless --no-peers); MB/s, time per message and\n"
    "  peak memory against the targets (200 MB/s, 300 MB).\n"
    "  --cli PATH   the brightmend-cli to run (default: the one built beside this program)\n";

const char* Verdict(bool met) { return met ? "met" : "NOT met"; }

void Report(const char* what, std::uint64_t messages, double sourceMb, const ChildRun& run) {
    if (!run.ran) {
        std::printf("export_bench: %-8s could not run\n", what);
        return;
    }
    const double mbPerSecond = sourceMb / run.seconds;
    std::printf("export_bench: %-8s %8llu messages: %6.2f s (CPU %.2f s), %7.1f MB/s, %6.1f us/message, peak "
                "%6.1f MB, exit %d\n",
                what, static_cast<unsigned long long>(messages), run.seconds, run.cpuSeconds, mbPerSecond,
                run.seconds * 1e6 / static_cast<double>(messages), run.peakRssMb, run.exitCode);
}

}  // namespace

int main(int argc, char** argv) {
    if (bmbench::AnsweredHelp(argc, argv, kUsage)) return 0;
    fs::path parent = fs::temp_directory_path();
    fs::path cli = bmbench::DefaultCli();
    std::vector<std::uint64_t> counts;
    std::vector<std::string> formats;
    bool peers = true;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        std::uint64_t n = 0;
        if (std::strcmp(argv[i], "--dir") == 0 && hasValue) {
            parent = argv[++i];
        } else if (std::strcmp(argv[i], "--cli") == 0 && hasValue) {
            cli = argv[++i];
        } else if (std::strcmp(argv[i], "--messages") == 0 && hasValue && bmbench::ParseCount(argv[i + 1], n) && n > 0) {
            counts.push_back(n);
            ++i;
        } else if (std::strcmp(argv[i], "--format") == 0 && hasValue &&
                   (std::strcmp(argv[i + 1], "mbox") == 0 || std::strcmp(argv[i + 1], "maildir") == 0 ||
                    std::strcmp(argv[i + 1], "eml") == 0)) {
            formats.push_back(argv[++i]);
        } else if (std::strcmp(argv[i], "--no-peers") == 0) {
            peers = false;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (counts.empty()) counts = {100'000};
    if (formats.empty()) formats = {"mbox"};
    const bmbench::ScratchDir dir(parent, "export-bench");
    if (!dir.ok()) {
        std::fprintf(stderr, "%s\n", dir.error().c_str());
        return 1;
    }
    std::printf("export_bench: %s, load average %.2f\n", cli.c_str(), bmbench::LoadAverage());
    int failures = 0;
    for (const std::uint64_t count : counts) {
        const fs::path store = dir.path() / ("generated-" + std::to_string(count) + ".ost");
        bmbench::StoreShape shape;
        shape.folders = 25;
        if (!bmbench::MakeLargeStore(store, count, shape) || !bmbench::WarmPageCache(store)) {
            std::fprintf(stderr, "export_bench: cannot write %s\n", store.c_str());
            return 1;
        }
        const double sourceMb = bmbench::FileMb(store);
        std::printf("export_bench: source %llu messages, %.1f MB\n", static_cast<unsigned long long>(count), sourceMb);
        for (const std::string& format : formats) {
            const fs::path out = dir.path() / ("export-" + format);
            const ChildRun run = bmbench::RunProgram(
                {cli.string(), "-q", "export", store.string(), "--output", out.string(), "--format", format, "--all"});
            Report(format.c_str(), count, sourceMb, run);
            if (run.ran) {
                std::printf("export_bench: %-8s target %.0f MB/s %s, peak %.0f MB %s\n", format.c_str(),
                            kTargetMbPerSecond, Verdict(sourceMb / run.seconds >= kTargetMbPerSecond), kPeakTargetMb,
                            Verdict(run.peakRssMb <= kPeakTargetMb));
                if (peers && format == "mbox") {
                    const fs::path readpstOut = dir.path() / "readpst";
                    fs::create_directories(readpstOut);
                    const ChildRun readpst =
                        bmbench::RunProgram({"readpst", "-q", "-o", readpstOut.string(), store.string()});
                    if (readpst.ran) {
                        Report("readpst", count, sourceMb, readpst);
                        std::printf("export_bench: export --format mbox is %.1fx readpst's speed\n",
                                    readpst.seconds / run.seconds);
                    } else {
                        std::printf("export_bench: readpst not installed, skipped\n");
                    }
                    std::error_code ec;
                    fs::remove_all(readpstOut, ec);
                }
            }
            failures += run.exitCode == 0 ? 0 : 1;
            std::error_code ec;
            fs::remove_all(out, ec);
            fs::remove(out.string() + " report.txt", ec);
            fs::remove(out.string() + " report.json", ec);
        }
        std::error_code ec;
        fs::remove(store, ec);
    }
    return failures == 0 ? 0 : 1;
}
