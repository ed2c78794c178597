// storeinfo: what the store reader sees in a store file.
//
//   storeinfo STORE            header fields, table sizes, tree depths, damage
//   storeinfo --nodes STORE    also every node record (NID, parent, blocks)
//   storeinfo --blocks STORE   also every block entry (BID, offset, sizes)
//
// The file is opened for shared reading, so it can be inspected while the
// tool runs elsewhere. Exit code 0 when the store opened, 1 otherwise.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "store/store.h"
#include "store/store_info.h"

namespace {

constexpr const char* kUsage =
    "usage: storeinfo [--nodes] [--blocks] STORE\n"
    "  prints the header fields, table sizes, tree depths and damage the store\n"
    "  reader sees; --nodes also every node record, --blocks every block entry.\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool listNodes = false;
    bool listBlocks = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--nodes") == 0) {
            listNodes = true;
        } else if (std::strcmp(argv[i], "--blocks") == 0) {
            listBlocks = true;
        } else if (path == nullptr && argv[i][0] != '-') {
            path = argv[i];
        } else {
            return Usage();
        }
    }
    if (path == nullptr) return Usage();

    bm::StoreFile store;
    if (bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead) != 0) {
        std::fprintf(stderr, "storeinfo: cannot open %s\n", path);
        return 1;
    }
    bm::StoreReader reader;
    const int built = bm::BuildIndexes(store, reader);

    bm::PrintStoreInfo(stdout, store, path, built);

    if (listBlocks) {
        for (const bm::BlockEntry& b : store.blocks.entries())
            std::printf("block 0x%llx at 0x%llx size %u inflated %u refs %d\n", static_cast<unsigned long long>(b.bid()),
                        static_cast<unsigned long long>(b.offset()), b.size(), b.inflatedSize(), b.refCount());
    }
    if (listNodes) {
        for (const bm::NodeEntry& n : store.forest.records())
            std::printf("node 0x%x parent 0x%x data 0x%llx%s sub 0x%llx%s%s\n", n.nid, n.nidParent,
                        static_cast<unsigned long long>(n.bidData()), n.dataBlock() != nullptr ? "" : " (missing)",
                        static_cast<unsigned long long>(n.bidSub()),
                        n.bidSub() == 0 || n.subnodeBlock() != nullptr ? "" : " (missing)", n.waiting() ? " orphan" : "");
    }
    return 0;
}
