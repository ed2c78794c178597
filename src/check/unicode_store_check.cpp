#include "check/unicode_store_check.h"

#include "store/btree_walk.h"
#include "store/store_reader.h"

namespace bm {

void RunOverUnicodeStore(const std::filesystem::path& path, CheckReport& report,
                         void (*check)(StoreFile& store, CheckReport& report)) {
    StoreFile store;
    StoreReader reader;
    if (OpenStore(store, path, StoreOpenMode::SharedRead) != 0) return;
    if (store.formatVersion == kUnicodeVersion && BuildIndexes(store, reader) == 0) check(store, report);
    ReleaseStore(store);
}

}  // namespace bm
