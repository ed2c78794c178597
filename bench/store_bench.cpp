// Speed of the store reader's table building.
//
//   BuildIndexes/<store>   open and build a real store (../shared/stores/, or
//                          the folder named by BRIGHTMEND_STORES)
//   SyntheticTables        1,000,000 block entries appended and 500,000 NBT
//                          entries placed with PlaceNodeEntry, folders and
//                          messages in NID order with some children met
//                          before their parents; must stay well under a
//                          second (a quadratic forest would take hours)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "store/store.h"

namespace {

namespace fs = std::filesystem;

fs::path StoresDir() {
    if (const char* env = std::getenv("BRIGHTMEND_STORES")) return env;
    return fs::path(BRIGHTMEND_SOURCE_DIR).parent_path() / "shared" / "stores";
}

void BuildRealStore(benchmark::State& state, const fs::path& path) {
    std::size_t nodes = 0;
    for (auto _ : state) {
        bm::StoreFile store;
        if (bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead) != 0) {
            state.SkipWithError("cannot open store");
            return;
        }
        bm::StoreReader reader;
        benchmark::DoNotOptimize(bm::BuildIndexes(store, reader));
        nodes = store.forest.size();
    }
    state.counters["nodes"] = static_cast<double>(nodes);
}

struct SyntheticEntry {
    std::uint32_t nid;
    std::uint64_t bidData;
    std::uint32_t parent;
};

// 1,000 folders (a tenth of them nested in another folder) and the rest
// messages spread over them, sorted by NID as an NBT holds them. Message
// NIDs are drawn from the whole range, so many come before their folder.
std::vector<SyntheticEntry> SyntheticNodes(std::size_t count) {
    std::mt19937 random(42);
    std::vector<SyntheticEntry> out;
    out.push_back({0x21, 4, 0});
    out.push_back({0x122, 8, 0x122});
    std::vector<std::uint32_t> folders;
    for (std::uint32_t i = 0; i < 1000; ++i) {
        const std::uint32_t nid = 0x8002 + (i << 5) * 37;
        const std::uint32_t parent = (i % 10 == 9) ? folders[random() % folders.size()] : 0x122;
        folders.push_back(nid);
        out.push_back({nid, 12 + 4ull * i, parent});
    }
    std::uniform_int_distribution<std::uint32_t> index(1, 0x7FFFFFF);
    while (out.size() < count) {
        const std::uint32_t nid = (index(random) << 5) | 4;
        out.push_back({nid, 4ull * (out.size() + 8), folders[random() % folders.size()]});
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.nid < b.nid; });
    out.erase(std::unique(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.nid == b.nid; }),
              out.end());
    return out;
}

void SyntheticTables(benchmark::State& state) {
    const std::vector<SyntheticEntry> nodes = SyntheticNodes(500000);
    for (auto _ : state) {
        bm::StoreFile store;
        for (std::uint64_t i = 0; i < 1000000; ++i) store.blocks.Append({4 + 4 * i, 0x4400 + 64 * i, 64, 2, 64});
        bm::LeafPageContext ctx;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            if (i % 15 == 0) ctx = bm::LeafPageContext{};  // a new leaf page
            bm::PlaceNodeEntry(store, ctx, nodes[i].nid, nodes[i].bidData, 0, nodes[i].parent);
        }
        if (!bm::OrphanNodes(store).empty()) state.SkipWithError("orphans left");
        benchmark::DoNotOptimize(store.forest.first());
    }
    state.counters["nodes"] = static_cast<double>(nodes.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(StoresDir(), ec)) {
        const auto ext = entry.path().extension();
        if (!entry.is_regular_file() || (ext != ".ost" && ext != ".pst") || entry.file_size() < (1u << 20)) continue;
        benchmark::RegisterBenchmark(("BuildIndexes/" + entry.path().filename().string()).c_str(), BuildRealStore,
                                     entry.path())
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("SyntheticTables", SyntheticTables)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
