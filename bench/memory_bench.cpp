// Peak memory of the command line's list, analyze, save --all and check on
// a generated store, each beside its target: at most 300 MB whatever the
// store's size. What may grow with the store is the index (a record per
// node and per block); the benchmark prints what that record costs and how
// much each command grew per index entry over a small store of the same
// kind.
//
//   memory_bench [--dir DIR] [--messages N] [--folders F] [--small]
//                [--deep-scan] [--cli PATH]
//   memory_bench --make-store FILE [--messages N] [--folders F] [--small]
//       N mails (default 20,000, about 130 MB) over F folders below Inbox
//       (default 20; 1 puts every mail in one folder). --small writes mails
//       of one paragraph and no attachment (for a million messages in one
//       folder without a store of many gigabytes). --deep-scan measures
//       `list --deep-scan` too. --cli names brightmend-cli (default: the
//       one built beside this benchmark).
//
// The stores are written into a directory the benchmark makes inside DIR
// (default: the temporary directory) and removes at the end; nothing else
// in DIR is touched. The commands run as child processes; their peak
// memory is the kernel's count of their resident pages (ru_maxrss).

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_cli.h"
#include "bench_support.h"
#include "store/btree_walk.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/tables.h"

namespace {

namespace fs = std::filesystem;

constexpr double kTargetMb = 300.0;
constexpr std::uint64_t kBaselineMessages = 200;

void PrintHelp() {
    std::printf(
        "usage: memory_bench [--dir DIR] [--messages N] [--folders F] [--small] [--deep-scan] [--cli PATH]\n"
        "       memory_bench --make-store FILE [--messages N] [--folders F] [--small]\n"
        "  Peak memory (RSS) of brightmend-cli list, analyze, save --all and check --strict on a\n"
        "  generated store of N mails (default 20000) over F folders (default 20), each beside its\n"
        "  300 MB target, and the bytes each grew per index entry (node or block) over a store of\n"
        "  %llu mails of the same kind.\n"
        "  --small      mails of one paragraph without attachments\n"
        "  --deep-scan  also list --deep-scan, with its bytes per byte of store\n"
        "  --cli PATH   the brightmend-cli to run (default: the one built beside this program)\n"
        "  --dir DIR    where the benchmark makes (and at the end removes) its working directory\n"
        "  --make-store FILE  only write such a store to FILE (which must not exist) and keep it\n",
        static_cast<unsigned long long>(kBaselineMessages));
}

struct IndexSize {
    std::uint64_t nodes = 0;
    std::uint64_t blocks = 0;
    std::uint64_t entries() const { return nodes + blocks; }
};

// Counted in a child process: the commands are forked from this one, and a
// child's peak memory starts from what its parent held when it forked.
IndexSize CountIndex(const fs::path& store) {
    IndexSize out;
    int fds[2];
    if (pipe(fds) != 0) return out;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        bm::StoreFile file;
        bm::StoreReader reader;
        if (bm::OpenStore(file, store, bm::StoreOpenMode::SharedRead) == 0) {
            if (bm::BuildIndexes(file, reader) == 0) {
                out.nodes = file.forest.size();
                out.blocks = file.blocks.size();
            }
            bm::ReleaseStore(file);
        }
        const bool written = write(fds[1], &out, sizeof out) == static_cast<ssize_t>(sizeof out);
        _exit(written ? 0 : 1);
    }
    close(fds[1]);
    if (child > 0) {
        if (read(fds[0], &out, sizeof out) != static_cast<ssize_t>(sizeof out)) out = {};
        int status = 0;
        waitpid(child, &status, 0);
    }
    close(fds[0]);
    return out;
}

struct Command {
    std::string name;
    std::vector<std::string> argv;
};

struct Measured {
    std::string name;
    bmbench::ChildRun run;
};

// Runs each command on `store`; the saved .pst goes to `saved`.
std::vector<Measured> RunCommands(const fs::path& cli, const fs::path& store, const fs::path& saved, bool deepScan) {
    std::vector<Command> commands{
        {"list", {cli.string(), "list", store.string()}},
        {"analyze", {cli.string(), "analyze", store.string()}},
        {"save --all", {cli.string(), "save", store.string(), "--all", "--output", saved.string()}},
        {"check --strict", {cli.string(), "check", "--strict", saved.string()}},
    };
    if (deepScan) commands.push_back({"list --deep-scan", {cli.string(), "list", "--deep-scan", store.string()}});
    std::vector<Measured> out;
    for (const Command& c : commands) out.push_back({c.name, bmbench::RunProgram(c.argv)});
    return out;
}

bool Ran(const Measured& m) {
    // save exits 3 when some items came back incomplete; still a measured run.
    return m.run.ran && (m.run.exitCode == 0 || (m.name == "save --all" && m.run.exitCode == 3));
}

}  // namespace

int main(int argc, char** argv) {
    if (bmbench::WantsHelp(argc, argv)) {
        PrintHelp();
        return 0;
    }
    fs::path parent = fs::temp_directory_path();
    fs::path cli = bmbench::DefaultCli();
    std::uint64_t messages = 20'000;
    std::uint64_t folders = 20;
    bmbench::StoreShape shape;
    bool deepScan = false;
    fs::path makeStore;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--dir" && value != nullptr) {
            parent = argv[++i];
        } else if (a == "--cli" && value != nullptr) {
            cli = argv[++i];
        } else if (a == "--messages" && bmbench::ParseCount(value, messages)) {
            ++i;
        } else if (a == "--folders" && bmbench::ParseCount(value, folders) && folders > 0 && folders < 100'000) {
            ++i;
        } else if (a == "--small") {
            shape.smallMessages = true;
        } else if (a == "--make-store" && value != nullptr) {
            makeStore = argv[++i];
        } else if (a == "--deep-scan") {
            deepScan = true;
        } else {
            std::fprintf(stderr, "memory_bench: unexpected argument %s (see --help)\n", a.c_str());
            return 2;
        }
    }
    shape.folders = static_cast<unsigned>(folders);
    if (!makeStore.empty()) {
        std::error_code exists;
        if (fs::exists(makeStore, exists)) {
            std::fprintf(stderr, "memory_bench: %s already exists\n", makeStore.c_str());
            return 1;
        }
        const bmbench::Timer making;
        if (!bmbench::MakeLargeStore(makeStore, messages, shape)) {
            std::fprintf(stderr, "memory_bench: cannot write %s\n", makeStore.c_str());
            return 1;
        }
        std::printf("%s: %llu mails in %llu folder(s)%s, %.1f MB, written in %.1f s\n", makeStore.c_str(),
                    static_cast<unsigned long long>(messages), static_cast<unsigned long long>(folders),
                    shape.smallMessages ? " (small mails)" : "", bmbench::FileMb(makeStore), making.seconds());
        return 0;
    }
    if (!bmbench::OnPath(cli.string())) {
        std::fprintf(stderr, "memory_bench: cannot run %s (give --cli PATH)\n", cli.c_str());
        return 1;
    }
    cli = fs::absolute(cli);
    bmbench::ScratchDir scratch(parent, "memory-bench");
    if (!scratch.ok()) {
        std::fprintf(stderr, "memory_bench: %s\n", scratch.error().c_str());
        return 1;
    }
    const fs::path dir = scratch.path();

    // The small store first: what every command needs whatever the size.
    const fs::path small = dir / "baseline.ost";
    const fs::path large = dir / "large.ost";
    const bmbench::Timer making;
    if (!bmbench::MakeLargeStore(small, kBaselineMessages, shape) || !bmbench::MakeLargeStore(large, messages, shape)) {
        std::fprintf(stderr, "memory_bench: cannot write the stores\n");
        return 1;
    }
    const double storeMb = bmbench::FileMb(large);
    const IndexSize smallIndex = CountIndex(small);
    const IndexSize largeIndex = CountIndex(large);
    std::printf("store: %llu mails in %llu folder(s)%s, %.1f MB, written in %.1f s\n",
                static_cast<unsigned long long>(messages), static_cast<unsigned long long>(folders),
                shape.smallMessages ? " (small mails)" : "", storeMb, making.seconds());
    std::printf("index: %llu nodes, %llu blocks; in the reader's tables a node record takes %zu bytes (and 2-4 "
                "hash slots of %zu bytes), a block record %zu bytes (and 1/8 byte of lookup while the blocks come "
                "in BID order; %zu more for an entry whose values do not fit the record)\n",
                static_cast<unsigned long long>(largeIndex.nodes), static_cast<unsigned long long>(largeIndex.blocks),
                sizeof(bm::NodeEntry), bm::FlatIndex<std::uint32_t>::slotSize(), sizeof(bm::BlockEntry),
                sizeof(bm::BlockInfo));

    const std::vector<Measured> base = RunCommands(cli, small, dir / "baseline-saved.pst", deepScan);
    std::error_code ec;
    fs::remove(dir / "baseline-saved.pst", ec);
    const std::vector<Measured> big = RunCommands(cli, large, dir / "saved.pst", deepScan);
    const double savedMb = bmbench::FileMb(dir / "saved.pst");

    std::printf("\n%-17s %10s %8s %6s %10s %12s %16s\n", "command", "peak RSS", "target", "", "seconds",
                "small store", "grew per entry");
    bool allWithin = true;
    for (std::size_t i = 0; i < big.size(); ++i) {
        const Measured& m = big[i];
        if (!Ran(m)) {
            std::printf("%-17s failed (exit %d)\n", m.name.c_str(), m.run.exitCode);
            allWithin = false;
            continue;
        }
        const bool within = m.run.peakRssMb <= kTargetMb;
        allWithin = allWithin && within;
        const double grew = m.run.peakRssMb - base[i].run.peakRssMb;
        const std::uint64_t moreEntries = largeIndex.entries() - std::min(largeIndex.entries(), smallIndex.entries());
        const double perEntry = moreEntries > 0 ? grew * 1024.0 * 1024.0 / static_cast<double>(moreEntries) : 0.0;
        std::printf("%-17s %7.1f MB %5.0f MB %6s %10.2f %9.1f MB %10.0f bytes\n", m.name.c_str(), m.run.peakRssMb,
                    kTargetMb, within ? "ok" : "OVER", m.run.seconds, base[i].run.peakRssMb, perEntry);
        if (m.name == "list --deep-scan" && storeMb > 0) {
            const double extra = std::max(0.0, m.run.peakRssMb - big[0].run.peakRssMb);
            std::printf("%-17s %.3f bytes per byte of store above list\n", "", extra / storeMb);
        }
    }
    std::printf("\nsaved store %.1f MB; a command's growth per index entry is (its peak - its peak on %llu mails) / "
                "(%llu - %llu nodes and blocks)\n",
                savedMb, static_cast<unsigned long long>(kBaselineMessages),
                static_cast<unsigned long long>(largeIndex.entries()),
                static_cast<unsigned long long>(smallIndex.entries()));
    std::printf("%s\n", allWithin ? "every peak within 300 MB" : "NOT every peak within 300 MB");
    return allWithin ? 0 : 3;
}
