// brightmend-cli info: what the store reader sees in a store's header and
// indexes (the same facts as tools/storeinfo).
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "engine/analysis_run.h"
#include "store/store.h"

namespace bm::cli {

namespace {

unsigned TreeDepth(std::uint8_t leafDepth) { return leafDepth == kLeafDepthUnknown ? 0u : leafDepth + 1u; }

const char* EncodingName(std::uint32_t method) {
    switch (method) {
    case 0: return "none";
    case 1: return "permutation";
    case 2: return "cyclic";
    default: return "unknown";
    }
}

}  // namespace

int RunInfo(CliEnvironment&, const std::string& path) {
    StoreFile store;
    if (OpenStore(store, path, StoreOpenMode::SharedRead) != 0) {
        PrintError(std::string(kSourceFileInUse));
        return kExitFailure;
    }
    StoreReader reader;
    const int built = BuildIndexes(store, reader);
    const auto u64 = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };

    std::printf("file                 %s\n", path.c_str());
    std::printf("file size            %llu\n", u64(store.file.size()));
    std::printf("format version       %u (%s layout)\n", store.formatVersion,
                store.layout != nullptr ? store.layout->name : "unknown");
    std::printf("NBT root offset      0x%llx\n", u64(store.nbtRootOffset));
    std::printf("BBT root offset      0x%llx\n", u64(store.bbtRootOffset));
    std::printf("header crypt method  %u (%s)\n", store.headerCryptMethod, EncodingName(store.headerCryptMethod));
    std::printf("crypt method used    %u (%s)\n", store.cryptMethod, EncodingName(store.cryptMethod));
    std::printf("build result         %d\n", built);
    std::printf("BBT tree depth       %u\n", TreeDepth(store.bbtLeafDepth));
    std::printf("NBT tree depth       %u\n", TreeDepth(store.nbtLeafDepth));
    std::printf("block entries        %zu (%u leaf pages, %llu past the page's count)\n", store.blocks.size(),
                store.walkStats.bbtLeafPages, u64(store.walkStats.bbtEntriesPastCount));
    std::printf("node records         %zu (%u leaf pages, %llu past the page's count)\n", store.forest.size(),
                store.walkStats.nbtLeafPages, u64(store.walkStats.nbtEntriesPastCount));
    std::printf("orphan records       %zu\n", OrphanNodes(store).size());
    for (const auto& [name, value] : store.damage.Items()) std::printf("damage: %-21s %llu\n", name, u64(value));
    ReleaseStore(store);
    return kExitSuccess;
}

}  // namespace bm::cli
