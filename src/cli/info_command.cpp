// brightmend-cli info: what the store reader sees in a store's header and
// indexes (the same listing as tools/storeinfo).
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "engine/analysis_run.h"
#include "store/store.h"
#include "store/store_info.h"

namespace bm::cli {

int RunInfo(CliEnvironment&, const std::string& path) {
    StoreFile store;
    if (OpenStore(store, path, StoreOpenMode::SharedRead) != 0) {
        PrintError(std::string(kSourceFileInUse));
        return kExitFailure;
    }
    StoreReader reader;
    const int built = BuildIndexes(store, reader);
    PrintStoreInfo(stdout, store, path, built);
    ReleaseStore(store);
    return kExitSuccess;
}

}  // namespace bm::cli
