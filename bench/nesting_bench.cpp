// Deep folder nesting: time and peak memory of `brightmend-cli list`, `analyze`,
// `save --all` and `check` of the saved store on stores whose folders form one chain, each folder inside
// the last, with one mail in every tenth folder.
//
//   nesting_bench [--dir DIR] [--depth N]... [--cli PATH]
//       Chains of 1,000, 2,000 and 4,000 folders unless --depth names
//       others. The cost should grow about as the depth does: a figure that
//       doubles more than the depth does means something carries a whole
//       path per folder again.
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

void Usage(std::FILE* out) {
    std::fputs(
        "usage: nesting_bench [--dir DIR] [--depth N]... [--cli PATH]\n"
        "  Wall time, CPU time and peak memory of brightmend-cli list and save --all on stores\n"
        "  whose folders are nested N deep (default 1000, 2000 and 4000), a mail in every\n"
        "  tenth folder.\n"
        "  --dir DIR    where the stores go (a directory of its own inside DIR, removed at the end)\n"
        "  --cli PATH   the brightmend-cli to run (default: the one built beside this program)\n",
        out);
}

bool MakeChain(const fs::path& path, std::uint64_t depth) {
    try {
        auto store = bm::pst::PstStore::Create(path, {});
        auto parent = store->ipmSubtree();
        for (std::uint64_t level = 1; level <= depth; ++level) {
            const std::string name = "Level " + std::to_string(level);
            parent = store->CreateFolder(parent, name);
            if (level % 10 == 0) {
                bm::pst::Message m;
                m.properties.SetString(bm::pst::tags::kMessageClass, "IPM.Note");
                m.properties.SetString(bm::pst::tags::kSubject, "mail at " + name);
                m.properties.SetString(bm::pst::tags::kBody, "A mail deep down.");
                store->AddMessage(parent, m);
            }
        }
        store->Finish();
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), e.what());
        return false;
    }
}

void Print(const char* what, std::uint64_t depth, const ChildRun& run) {
    if (!run.ran) {
        std::printf("%-6s depth %5llu: could not run\n", what, static_cast<unsigned long long>(depth));
        return;
    }
    std::printf("%-6s depth %5llu: %6.2f s wall, %6.2f s CPU, peak %7.1f MB, exit %d\n", what,
                static_cast<unsigned long long>(depth), run.seconds, run.cpuSeconds, run.peakRssMb, run.exitCode);
}

}  // namespace

int main(int argc, char** argv) {
    if (bmbench::WantsHelp(argc, argv)) {
        Usage(stdout);
        return 0;
    }
    fs::path parent = fs::temp_directory_path();
    fs::path cli = bmbench::DefaultCli();
    std::vector<std::uint64_t> depths;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--dir") == 0 && hasValue) {
            parent = argv[++i];
        } else if (std::strcmp(argv[i], "--cli") == 0 && hasValue) {
            cli = argv[++i];
        } else if (std::strcmp(argv[i], "--depth") == 0 && hasValue) {
            std::uint64_t depth = 0;
            if (!bmbench::ParseCount(argv[++i], depth) || depth == 0) {
                Usage(stderr);
                return 2;
            }
            depths.push_back(depth);
        } else {
            Usage(stderr);
            return 2;
        }
    }
    if (depths.empty()) depths = {1000, 2000, 4000};
    const bmbench::ScratchDir dir(parent, "nesting-bench");
    if (!dir.ok()) {
        std::fprintf(stderr, "%s\n", dir.error().c_str());
        return 1;
    }
    std::printf("nesting_bench: %s, load average %.2f\n", cli.c_str(), bmbench::LoadAverage());
    int failures = 0;
    for (const std::uint64_t depth : depths) {
        const fs::path store = dir.path() / ("chain-" + std::to_string(depth) + ".pst");
        if (!MakeChain(store, depth) || !bmbench::WarmPageCache(store)) return 1;
        const ChildRun list = bmbench::RunProgram({cli.string(), "list", store.string()});
        Print("list", depth, list);
        const ChildRun analyze = bmbench::RunProgram({cli.string(), "analyze", store.string()});
        Print("analyze", depth, analyze);
        const fs::path saved = dir.path() / ("saved-" + std::to_string(depth) + ".pst");
        const ChildRun save =
            bmbench::RunProgram({cli.string(), "save", store.string(), "--output", saved.string(), "--all"});
        Print("save", depth, save);
        // The save's own check of the new store, alone.
        const ChildRun check = bmbench::RunProgram({cli.string(), "check", saved.string()});
        Print("check", depth, check);
        failures += (list.exitCode != 0 ? 1 : 0) + (analyze.exitCode != 0 ? 1 : 0) + (save.exitCode != 0 ? 1 : 0) + (check.exitCode != 0 ? 1 : 0);
        std::error_code ec;
        fs::remove(store, ec);
        for (const auto& e : fs::directory_iterator(dir.path(), ec)) fs::remove_all(e.path(), ec);
    }
    return failures == 0 ? 0 : 3;
}
