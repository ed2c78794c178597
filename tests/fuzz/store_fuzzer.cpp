// libFuzzer target over the reading path a damaged store goes through:
// open -> index walk -> deep scan and merge -> ReadItem of every node,
// then the orphan heaps. Any input must end without a crash, a sanitizer
// report or a hang. Inputs are mutated byte-wise and, about half the time,
// one index page field at a time (store_mutation.h).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/deep_recovery.h"
#include "messaging/item_reader.h"
#include "messaging/named_properties.h"
#include "store/btree_walk.h"
#include "store/store.h"
#include "store_mutation.h"

namespace {

std::string InputPath() {
    static const std::string path = "/dev/shm/brightmend-fuzz-" + std::to_string(::getpid()) + ".pst";
    return path;
}

bool WriteInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(InputPath().c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    std::fclose(f);
    return ok;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
    return bmfuzz::MutateStoreInput(data, size, maxSize, seed);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!WriteInput(data, size)) return 0;
    bm::StoreFile store;
    bm::StoreReader reader;
    if (bm::OpenStore(store, InputPath(), bm::StoreOpenMode::SharedRead) != 0) return 0;
    bm::BuildIndexes(store, reader);
    bm::LoadNamedPropertyMap(store);
    bm::DeepRecoveryOptions options;
    options.indexIncomplete = true;
    options.walkSettled = false;
    bm::RunDeepRecovery(store, reader, options);
    for (const bm::NodeEntry& node : store.forest.records()) bm::ReadItem(store, node, &reader);
    bm::NodeEntry root;
    root.nid = bm::kStandInRootNid;
    bm::GatherLostItems(store, root);
    if (const bm::RecoveredItems* recovered = bm::RecoveryOf(store)) {
        for (const bm::NodeEntry* item : recovered->items) bm::ReadItem(store, *item, &reader);
    }
    bm::ReleaseStore(store);
    return 0;
}
