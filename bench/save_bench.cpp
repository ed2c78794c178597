// Throughput and memory of saving.
//
//   save_bench [--dir DIR] [--messages N | --store FILE] [--no-peers] [--skip-peer NAME]...
//       `save --all` of a generated store: N mails (default 100,000) written
//       first with the project's writer (in a child process), or of a copy
//       of FILE; then the analysis run and the saving run of every folder,
//       as the command line does them. Reports messages/s, MB/s of the
//       source read and of the output written, CPU time and peak memory of
//       the runs, each next to its target, and next to readpst (`-j 0`, a
//       full export) and pffexport run over the same store in the same run
//       (--no-peers leaves both out, --skip-peer one of them).
//   save_bench --records [--dir DIR] [--messages N]
//       The saving side alone: N item records (default 10,000) of about
//       19 KB each - plain or HTML body, recipients, sender, times, one
//       attachment in three - over 20 selected folders, handed to the saving
//       actions and written by USave_to_PST_Format, without reading a source.
//   save_bench --damage-account [--dir DIR] [--messages N] [--rounds R] [--account-only on|off]
//       What the per-item account of damaged content costs a save: the same
//       `save --all` of a generated store of N mails (default 20,000) run R
//       times (default 7, at least 5) with the account and R times without
//       it (SavingSource::accountDamage), interleaved, the order swapped
//       every round; prints the median wall and CPU time of each and the
//       difference as a share of the save without it (target: under 2%).
//       --account-only on|off runs the saves of one side alone, to count
//       their instructions apart, free of the machine's load:
//       `valgrind --tool=callgrind --toggle-collect='bm::SavingRun::SaveStore*'
//       save_bench --damage-account --account-only on`, then `off`.
//   save_bench --journal [--dir DIR] [--messages N] [--rounds R] [--part-mb M]
//       What the journal that lets a killed save go on costs: the same as
//       --damage-account for the journal (N default 100,000, parts of M MB,
//       default 100, so that several parts are finished); target under 2%.
//   save_bench --resume-rework [--dir DIR] [--messages N] [--part-mb M]
//       The save whole, then killed (SIGKILL) at half its time and resumed
//       from its journal: the re-work in seconds, at most about one part.
//
// The stores are written into a directory the benchmark makes inside DIR
// (default: the temporary directory) and removes at the end; nothing else
// in DIR is touched. Timings on a machine shared with other work are noisy:
// the load average is printed with them, and CPU time next to wall time.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <variant>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_cli.h"
#include "bench_support.h"
#include "engine/analysis_run.h"
#include "engine/save_journal.h"
#include "engine/saving_actions.h"
#include "engine/saving_run.h"

namespace {

namespace fs = std::filesystem;

using bmbench::PeakRssMb;

bm::Bytes TimeBytes(std::int64_t unixSeconds) {
    const std::uint64_t t = static_cast<std::uint64_t>((unixSeconds + 11644473600LL) * 10000000LL);
    bm::Bytes b(8);
    for (int i = 0; i < 8; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(t >> (8 * i));
    return b;
}

std::unique_ptr<bm::ItemRecord> MakeMail(std::uint64_t i, const std::string& paragraph) {
    auto r = std::make_unique<bm::ItemRecord>();
    r->kind = bm::ItemKind::Mail;
    r->messageClass = "IPM.Note";
    r->messageFields = std::make_unique<bm::MessageFields>();
    bm::MessageFields& m = *r->messageFields;
    m.subject = std::make_unique<bm::SubjectParts>();
    m.subject->text = "Benchmark message " + std::to_string(i);
    m.sentRepresentingName = "Bench Sender";
    m.sentRepresentingAddress = "bench@example.org";
    m.displayTo = "First Recipient; Second Recipient";
    m.deliveryTime = TimeBytes(1'700'000'000 + static_cast<std::int64_t>(i));
    std::string body;
    for (std::size_t k = 0; k < 16 + i % 24; ++k) body += paragraph;
    if (i % 2 == 0) {
        m.body = body;
    } else {
        const std::string html = "<html><body><p>" + body + "</p></body></html>";
        m.htmlBody.assign(html.begin(), html.end());
    }
    if (i % 3 == 0) {
        bm::AttachmentRecord a;
        a.fileName = "note-" + std::to_string(i) + ".bin";
        a.data.resize(4000 + (i * 7919) % 9000);
        for (std::size_t k = 0; k < a.data.size(); ++k) a.data[k] = static_cast<std::uint8_t>(k * 31 + i);
        a.hasData = true;
        a.dataBid = bm::kAttachmentDataInRecord;
        r->attachments.push_back(std::move(a));
    }
    return r;
}

// Both runs report to nobody.
class Quiet : public bm::AnalysisObserver, public bm::SavingObserver {};

// What the saving run has to reach on a store held in the page cache.
constexpr double kTargetMbPerSecond = 200.0;

const char* Verdict(bool met) { return met ? "met" : "NOT met"; }

int SaveStore(const fs::path& dir, std::uint64_t count, const fs::path& given, bool peers,
              const std::vector<std::string>& skipped) {
    fs::path source = dir / "large.ost";
    if (given.empty()) {
        const bmbench::Timer making;
        if (!bmbench::MakeLargeStore(source, count)) return 1;
        std::printf("save_bench: source %llu messages, %.1f MB, written in %.1f s\n",
                    static_cast<unsigned long long>(count), bmbench::FileMb(source), making.seconds());
    } else {
        // The runs open their store exclusively: a copy of our own.
        source = dir / given.filename();
        fs::copy_file(given, source, fs::copy_options::overwrite_existing);
        fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write);
        std::printf("save_bench: source %s, %.1f MB\n", given.c_str(), bmbench::FileMb(source));
    }
    if (!bmbench::WarmPageCache(source)) {
        std::fprintf(stderr, "save_bench: cannot read %s\n", source.c_str());
        return 1;
    }
    const double sourceMb = bmbench::FileMb(source);
    std::printf("save_bench: load average %.2f on %ld cores before the runs\n", bmbench::LoadAverage(),
                sysconf(_SC_NPROCESSORS_ONLN));

    Quiet quiet;
    const bmbench::Timer analysing;
    const double cpuBeforeAnalysis = bmbench::SelfCpuSeconds();
    bm::AnalysisRun analysis(quiet, nullptr, dir / "app");
    bm::AnalysisSource from;
    from.sourcePath = source.string();
    if (analysis.AnalyzeStore(from) != bm::AnalysisOutcome::Completed) {
        std::fprintf(stderr, "save_bench: analysis: %s\n", analysis.message().c_str());
        return 1;
    }
    const double analysisSeconds = analysing.seconds();
    const double analysisCpu = bmbench::SelfCpuSeconds() - cpuBeforeAnalysis;
    std::vector<std::string> tree;
    analysis.results().Read([&](const bm::AnalysisData& d) {
        for (const bm::FolderTreeEntry& e : d.tree) tree.push_back(e.path);
    });
    const double analysisPeak = PeakRssMb();

    const bmbench::Timer saving;
    const double cpuBeforeSaving = bmbench::SelfCpuSeconds();
    const double systemBeforeSaving = bmbench::SelfSystemSeconds();
    bm::SavingRun run(quiet, nullptr);
    bm::SavingSource what;
    what.sourcePath = source.string();
    what.selected.SelectAll(tree);
    what.destination = dir / "Repair";
    if (run.SaveStore(what) != bm::AnalysisOutcome::Completed) {
        std::fprintf(stderr, "save_bench: saving: %s\n", run.message().c_str());
        return 1;
    }
    const double seconds = saving.seconds();
    const double cpu = bmbench::SelfCpuSeconds() - cpuBeforeSaving;
    const double system = bmbench::SelfSystemSeconds() - systemBeforeSaving;
    double outputMb = 0;
    for (const fs::path& p : run.outputStores()) outputMb += bmbench::FileMb(p);
    std::int64_t saved = 0;
    for (const std::int32_t n : run.saved().values) saved += n;
    std::printf("save_bench: analysis %.2f s (CPU %.2f s): %.0f messages/s, %.1f MB/s, peak RSS %.1f MB\n",
                analysisSeconds, analysisCpu, static_cast<double>(saved) / analysisSeconds,
                sourceMb / analysisSeconds, analysisPeak);
    std::printf("save_bench: save --all %lld messages (%d failed) into %zu store file(s) of %.1f MB in %.2f s "
                "(CPU %.2f s, of it system %.2f s): %.0f messages/s, %.1f MB/s read, %.1f MB/s written, "
                "peak RSS %.1f MB\n",
                static_cast<long long>(saved), run.failedItems(), run.outputStores().size(), outputMb, seconds, cpu, system,
                static_cast<double>(saved) / seconds, sourceMb / seconds, outputMb / seconds, PeakRssMb());
    std::printf("save_bench: target %.0f MB/s read and written: read %.1f MB/s %s, written %.1f MB/s %s "
                "(by CPU time alone: %.1f MB/s)\n",
                kTargetMbPerSecond, sourceMb / seconds, Verdict(sourceMb / seconds >= kTargetMbPerSecond),
                outputMb / seconds, Verdict(outputMb / seconds >= kTargetMbPerSecond), sourceMb / cpu);

    const auto skip = [&skipped](const std::string& peer) {
        return std::find(skipped.begin(), skipped.end(), peer) != skipped.end();
    };
    if (peers) {
        // The independent readers over the same store: a full export each.
        const fs::path readpstOut = dir / "readpst";
        fs::create_directories(readpstOut);
        const bmbench::ChildRun readpst =
            skip("readpst") ? bmbench::ChildRun{}
                            : bmbench::RunProgram({"readpst", "-j", "0", "-q", "-S", "-D", "-o", readpstOut.string(),
                                                   source.string()});
        fs::remove_all(readpstOut);
        const fs::path pffOut = dir / "pffexport";
        const bmbench::ChildRun pff =
            skip("pffexport") ? bmbench::ChildRun{}
                              : bmbench::RunProgram({"pffexport", "-q", "-t", pffOut.string(), source.string()});
        fs::remove_all(pffOut.string() + ".export");
        fs::remove_all(pffOut);
        for (const auto& [name, r] : {std::pair{"readpst", &readpst}, std::pair{"pffexport", &pff}}) {
            if (!r->ran) {
                std::printf("save_bench: peer %-9s not installed or --skip-peer, skipped\n", name);
                continue;
            }
            std::printf("save_bench: peer %-9s %8.2f s (CPU %.2f s): %.0f messages/s, %.1f MB/s%s; save --all is "
                        "%.1fx its speed\n",
                        name, r->seconds, r->cpuSeconds, static_cast<double>(saved) / r->seconds, sourceMb / r->seconds,
                        r->exitCode == 0 ? "" : " (exit code not 0)", r->seconds / seconds);
        }
    }
    if (given.empty() && saved != static_cast<std::int64_t>(count)) return 1;
    return run.failedItems() == 0 ? 0 : 1;
}

// One `save --all` of `source` into a new directory below `dir`, removed
// after; false when the run did not complete.
// `side` sets the switch the comparison is about (see Compare).
using Side = std::function<void(bm::SavingSource&, bool on)>;

bm::SavingSource SaveAll(const fs::path& source, const std::vector<std::string>& tree, const fs::path& dir) {
    bm::SavingSource what;
    what.sourcePath = source.string();
    what.selected.SelectAll(tree);
    what.destination = dir;
    return what;
}

bool TimedSave(const fs::path& source, const std::vector<std::string>& tree, const fs::path& dir, const Side& side,
               bool on, double& seconds, double& cpu) {
    Quiet quiet;
    bm::SavingRun run(quiet, nullptr);
    bm::SavingSource what = SaveAll(source, tree, dir);
    side(what, on);
    fs::create_directories(dir);
    const bmbench::Timer timer;
    const double cpuBefore = bmbench::SelfCpuSeconds();
    const bool completed = run.SaveStore(what) == bm::AnalysisOutcome::Completed;
    seconds = timer.seconds();
    cpu = bmbench::SelfCpuSeconds() - cpuBefore;
    if (!completed) std::fprintf(stderr, "save_bench: saving: %s\n", run.message().c_str());
    fs::remove_all(dir);
    return completed && run.failedItems() == 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The target: the damage account, or the journal, costs less than this
// share of a save.
constexpr double kSwitchShare = 0.02;

// The generated store of `count` mails, analysed: its folder tree.
bool MadeAndAnalysed(const fs::path& dir, const fs::path& source, std::uint64_t count, std::vector<std::string>& tree) {
    const bmbench::Timer making;
    if (!bmbench::MakeLargeStore(source, count)) return false;
    std::printf("save_bench: source %llu messages, %.1f MB, written in %.1f s\n", static_cast<unsigned long long>(count),
                bmbench::FileMb(source), making.seconds());
    if (!bmbench::WarmPageCache(source)) {
        std::fprintf(stderr, "save_bench: cannot read %s\n", source.c_str());
        return false;
    }
    Quiet quiet;
    bm::AnalysisRun analysis(quiet, nullptr, dir / "app");
    bm::AnalysisSource from;
    from.sourcePath = source.string();
    if (analysis.AnalyzeStore(from) != bm::AnalysisOutcome::Completed) {
        std::fprintf(stderr, "save_bench: analysis: %s\n", analysis.message().c_str());
        return false;
    }
    analysis.results().Read([&](const bm::AnalysisData& d) {
        for (const bm::FolderTreeEntry& e : d.tree) tree.push_back(e.path);
    });
    return true;
}

// The same save of a generated store run `rounds` times with the switch
// `what` on and as often off, interleaved; `only`: -1 both sides, 0 or 1
// that side alone.
int Compare(const fs::path& dir, std::uint64_t count, int rounds, int only, const char* what, const Side& side) {
    const fs::path source = dir / "large.ost";
    std::vector<std::string> tree;
    if (!MadeAndAnalysed(dir, source, count, tree)) return 1;
    std::printf("save_bench: load average %.2f on %ld cores before the rounds\n", bmbench::LoadAverage(),
                sysconf(_SC_NPROCESSORS_ONLN));
    // One save first, not counted: the page cache and the allocator settle.
    double seconds = 0;
    double cpu = 0;
    if (!TimedSave(source, tree, dir / "warm-up", side, true, seconds, cpu)) return 1;
    std::vector<double> wall[2];
    std::vector<double> cpus[2];
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 2; ++k) {
            const bool on = only < 0 ? (r + k) % 2 == 0 : only == 1;
            if (only >= 0 && k == 1) break;
            if (!TimedSave(source, tree, dir / ("round-" + std::to_string(r) + (on ? "-on" : "-off")), side, on,
                           seconds, cpu))
                return 1;
            wall[on].push_back(seconds);
            cpus[on].push_back(cpu);
            std::printf("save_bench: round %d, %s %-3s %.3f s (CPU %.3f s)\n", r + 1, what, on ? "on" : "off",
                        seconds, cpu);
        }
    }
    if (only >= 0) {
        std::printf("save_bench: %s %s alone, median of %d: %.3f s (CPU %.3f s)\n", what, only == 1 ? "on" : "off",
                    rounds, Median(wall[only]), Median(cpus[only]));
        return 0;
    }
    const double on = Median(wall[1]);
    const double off = Median(wall[0]);
    const double onCpu = Median(cpus[1]);
    const double offCpu = Median(cpus[0]);
    const double share = (on - off) / off;
    const double cpuShare = (onCpu - offCpu) / offCpu;
    std::printf("save_bench: %s, median of %d: on %.3f s (CPU %.3f s), off %.3f s (CPU %.3f s); "
                "it costs %+.2f%% of the save's wall time (%+.2f%% of its CPU time), target under %.0f%%: %s\n",
                what, rounds, on, onCpu, off, offCpu, 100 * share, 100 * cpuShare, 100 * kSwitchShare,
                Verdict(share < kSwitchShare));
    return 0;
}

// What a save killed half-way costs when it goes on from its journal: the
// save whole, then the same save killed (SIGKILL, in a child process) at
// half its time and resumed. The re-work is what the two runs took beyond
// the whole save: at most about one part.
int ResumeRework(const fs::path& dir, std::uint64_t count, std::uint64_t partBytes) {
    const fs::path source = dir / "large.ost";
    std::vector<std::string> tree;
    if (!MadeAndAnalysed(dir, source, count, tree)) return 1;
    const auto asked = [&](const fs::path& output) {
        bm::SavingSource what = SaveAll(source, tree, output.parent_path());
        what.outputFile = output;
        what.storeSizeLimit = partBytes;
        what.journalRequest = "save_bench";
        fs::create_directories(output.parent_path());
        return what;
    };
    Quiet quiet;
    double whole = 0;
    {
        bm::SavingRun run(quiet, nullptr);
        const bmbench::Timer timer;
        if (run.SaveStore(asked(dir / "whole" / "saved.pst")) != bm::AnalysisOutcome::Completed) return 1;
        whole = timer.seconds();
        std::printf("save_bench: whole save %.2f s, %zu parts of %.0f MB\n", whole, run.outputStores().size(),
                    static_cast<double>(partBytes) / (1 << 20));
    }
    const fs::path output = dir / "killed" / "saved.pst";
    const bm::SavingSource killed = asked(output);
    const bmbench::Timer untilKill;
    const pid_t child = ::fork();
    if (child == 0) {
        bm::SavingRun run(quiet, nullptr);
        run.SaveStore(killed);
        ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(whole / 2));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    const double before = untilKill.seconds();
    std::variant<bm::SaveJournal, std::string> journal = bm::ReadSaveJournal(bm::JournalPath(output));
    if (!std::holds_alternative<bm::SaveJournal>(journal)) {
        std::fprintf(stderr, "save_bench: %s\n", std::get<std::string>(journal).c_str());
        return 1;
    }
    bm::SavingSource again = killed;
    again.resume = std::get<bm::SaveJournal>(journal);
    const std::size_t kept = again.resume->parts.size();
    bm::SavingRun run(quiet, nullptr);
    const bmbench::Timer resuming;
    if (run.SaveStore(again) != bm::AnalysisOutcome::Completed) return 1;
    const double resumed = resuming.seconds();
    std::printf("save_bench: killed after %.2f s with %zu parts finished; the resumed save took %.2f s; re-work "
                "%.2f s (%.0f%% of the whole save)\n",
                before, kept, resumed, before + resumed - whole, 100 * (before + resumed - whole) / whole);
    return 0;
}

constexpr const char* kUsage =
    "usage: save_bench [--records] [--dir DIR] [--messages N | --store FILE] [--no-peers]\n"
    "                  [--skip-peer readpst|pffexport]...\n"
    "       save_bench --damage-account [--dir DIR] [--messages N] [--rounds R] [--account-only on|off]\n"
    "       save_bench --journal [--dir DIR] [--messages N] [--rounds R] [--part-mb M]\n"
    "       save_bench --resume-rework [--dir DIR] [--messages N] [--part-mb M]\n"
    "  save --all of a generated store of N mails (default 100000) or of a copy of\n"
    "  FILE, next to readpst and pffexport over the same store (unless --no-peers);\n"
    "  or with --records the saving side alone over N item records (default 10000);\n"
    "  or with --damage-account the same save of N mails (default 20000) with and\n"
    "  without the account of damaged content, R rounds (default 7) interleaved\n"
    "  (--account-only: one side alone, for counting instructions under callgrind);\n"
    "  or with --journal the same save (default 100000 mails, parts of M MB,\n"
    "  default 100) with and without its journal; or with --resume-rework that\n"
    "  save whole, then killed at half its time and resumed.\n";

}  // namespace

int main(int argc, char** argv) {
    if (bmbench::AnsweredHelp(argc, argv, kUsage)) return 0;
    fs::path parent = fs::temp_directory_path();
    bool records = false;
    bool damageAccount = false;
    bool journalCost = false;
    bool resumeRework = false;
    std::uint64_t partMb = 100;
    int accountOnly = -1;
    std::uint64_t rounds = 7;
    bool peers = true;
    std::vector<std::string> skipped;
    fs::path store;
    std::uint64_t count = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--records") == 0) {
            records = true;
        } else if (std::strcmp(argv[i], "--damage-account") == 0) {
            damageAccount = true;
        } else if (std::strcmp(argv[i], "--journal") == 0) {
            journalCost = true;
        } else if (std::strcmp(argv[i], "--resume-rework") == 0) {
            resumeRework = true;
        } else if (i + 1 < argc && std::strcmp(argv[i], "--part-mb") == 0 && bmbench::ParseCount(argv[i + 1], partMb) &&
                   partMb >= 1) {
            ++i;
        } else if (i + 1 < argc && std::strcmp(argv[i], "--account-only") == 0 &&
                   (std::strcmp(argv[i + 1], "on") == 0 || std::strcmp(argv[i + 1], "off") == 0)) {
            accountOnly = std::strcmp(argv[++i], "on") == 0 ? 1 : 0;
        } else if (i + 1 < argc && std::strcmp(argv[i], "--rounds") == 0 && bmbench::ParseCount(argv[i + 1], rounds) &&
                   rounds >= 5 && rounds <= 1000) {
            ++i;
        } else if (std::strcmp(argv[i], "--no-peers") == 0) {
            peers = false;
        } else if (i + 1 < argc && std::strcmp(argv[i], "--skip-peer") == 0) {
            skipped.emplace_back(argv[++i]);
        } else if (i + 1 < argc && std::strcmp(argv[i], "--store") == 0) {
            store = argv[++i];
        } else if (i + 1 < argc && std::strcmp(argv[i], "--dir") == 0) {
            parent = argv[++i];
        } else if (i + 1 < argc && std::strcmp(argv[i], "--messages") == 0 && bmbench::ParseCount(argv[i + 1], count)) {
            ++i;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    const bmbench::ScratchDir scratch(parent, "brightmend-save-bench");
    if (!scratch.ok()) {
        std::fprintf(stderr, "save_bench: %s\n", scratch.error().c_str());
        return 1;
    }
    const fs::path& dir = scratch.path();
    const std::uint64_t partBytes = partMb << 20;
    if (damageAccount)
        return Compare(dir, count == 0 ? 20'000 : count, static_cast<int>(rounds), accountOnly, "damage account",
                       [](bm::SavingSource& s, bool on) { s.accountDamage = on; });
    if (journalCost)
        return Compare(dir, count == 0 ? 100'000 : count, static_cast<int>(rounds), accountOnly, "journal",
                       [partBytes](bm::SavingSource& s, bool on) {
                           s.storeSizeLimit = partBytes;
                           if (on) s.journalRequest = "save_bench";
                       });
    if (resumeRework) return ResumeRework(dir, count == 0 ? 100'000 : count, partBytes);
    if (!records) return SaveStore(dir, count == 0 ? 100'000 : count, store, peers, skipped);
    if (count == 0) count = 10'000;
    const std::string paragraph =
        "The quarterly figures are attached; please check the totals before Friday's review. ";

    bm::SaveOptions options;
    options.sourceFileName = "bench.ost";
    options.defaultDirectory = dir;
    bm::USave_to_PST_Format writer(options);
    bm::StoreFile source;
    bm::SelectedFolders selected;
    bm::SavingStatus status;
    std::vector<std::string> folders;
    for (int f = 0; f < 20; ++f) folders.push_back("Personal Folders\\Inbox\\Folder " + std::to_string(f) + "\\");
    selected.SelectAll(folders);
    if (const auto message = writer.CreateOutputStore({})) {
        std::fprintf(stderr, "%s\n", message->c_str());
        return 1;
    }
    constexpr std::uint32_t kTop = 0x22;
    bm::SavingActions actions(writer, source, selected, status, kTop);
    std::vector<bm::NodeEntry> nodes(folders.size());
    for (std::size_t f = 0; f < folders.size(); ++f) {
        bm::ItemRecord folder;
        folder.displayName = "Folder " + std::to_string(f);
        folder.messageClass = "IPF.Note";
        nodes[f].nid = static_cast<std::uint32_t>(0x10000 + f * 32 + 2);
        actions.FolderEntered(folder, nodes[f], kTop, folders[f]);
    }

    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t f = i % folders.size();
        auto record = MakeMail(i, paragraph);
        actions.ItemRead(*record, nodes[f].nid, nodes[f].nid, folders[f]);
    }
    writer.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::uint64_t bytes = 0;
    for (const fs::path& p : writer.outputStores()) bytes += fs::file_size(p);
    const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("save_bench: %llu records, %zu store file(s), %.1f MB in %.2f s: %.0f records/s, %.1f MB/s, peak RSS %.1f MB\n",
                static_cast<unsigned long long>(count), writer.outputStores().size(), mb, seconds,
                static_cast<double>(count) / seconds, mb / seconds, PeakRssMb());
    return 0;
}
