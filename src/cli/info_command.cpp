// brightmend-cli info: what the store reader sees in a store's header and
// indexes (the same listing as tools/storeinfo).
#include <cstdio>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "engine/analysis_run.h"
#include "store/store.h"
#include "store/store_info.h"

namespace bm::cli {

int RunInfo(CliEnvironment&, const std::string& path) {
    StoreFile store;
    if (OpenStore(store, path, StoreOpenMode::SharedRead) != 0) {
        // A FIFO or a device is said to be one, not a file in use.
        const std::optional<std::string> what = NotARegularFile(path);
        PrintError(what ? *what : std::string(kSourceFileInUse));
        return kExitFailure;
    }
    StoreReader reader;
    const int built = BuildIndexes(store, reader);
    PrintStoreInfo(stdout, store, path, built);
    const bool known = store.layout != nullptr && store.layout->walkable;
    const std::uint32_t version = store.formatVersion;
    ReleaseStore(store);
    if (!known) {
        // Not a layout the reader knows: no store, or a damaged header.
        PrintError("format version " + std::to_string(version) +
                   " is no store layout this tool reads; if the file is a damaged store, analyze, list and save "
                   "with --deep-scan look for its items");
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace bm::cli
