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

namespace {

int Usage() {
    std::fprintf(stderr, "usage: storeinfo [--nodes] [--blocks] STORE\n");
    return 2;
}

const char* LayoutName(const bm::StoreFile& store) {
    if (store.layout == nullptr) return "unknown";
    return store.layout->name;
}

unsigned ForestDepth(const bm::StoreFile& store) {
    unsigned deepest = 0;
    for (const bm::NodeEntry* top = store.forest.first(); top != nullptr; top = top->newerSibling) {
        // Iterative pre-order walk, tracking depth.
        const bm::NodeEntry* n = top;
        unsigned depth = 1;
        while (n != nullptr) {
            if (depth > deepest) deepest = depth;
            if (n->oldestChild != nullptr) {
                n = n->oldestChild;
                ++depth;
                continue;
            }
            while (n != top && n->newerSibling == nullptr) {
                n = n->parent;
                --depth;
            }
            n = n == top ? nullptr : n->newerSibling;
        }
    }
    return deepest;
}

}  // namespace

int main(int argc, char** argv) {
    bool listNodes = false;
    bool listBlocks = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
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

    std::printf("file                 %s\n", path);
    std::printf("file size            %llu\n", static_cast<unsigned long long>(store.file.size()));
    std::printf("format version       %u (%s layout%s)\n", store.formatVersion, LayoutName(store),
                store.layout != nullptr && !store.layout->walkable ? ", not read yet" : "");
    std::printf("NBT root offset      0x%llx\n", static_cast<unsigned long long>(store.nbtRootOffset));
    std::printf("BBT root offset      0x%llx\n", static_cast<unsigned long long>(store.bbtRootOffset));
    std::printf("header crypt method  %u\n", store.headerCryptMethod);
    std::printf("crypt method used    %u\n", store.cryptMethod);
    std::printf("build result         %d\n", built);
    std::printf("BBT leaf depth       %u (tree depth %u)\n", store.bbtLeafDepth,
                store.bbtLeafDepth == bm::kLeafDepthUnknown ? 0u : store.bbtLeafDepth + 1u);
    std::printf("NBT leaf depth       %u (tree depth %u)\n", store.nbtLeafDepth,
                store.nbtLeafDepth == bm::kLeafDepthUnknown ? 0u : store.nbtLeafDepth + 1u);
    std::printf("block entries        %zu\n", store.blocks.size());
    std::printf("BBT leaf entries     %llu from %u pages (%llu past the page's count)\n",
                static_cast<unsigned long long>(store.walkStats.bbtLeafEntries), store.walkStats.bbtLeafPages,
                static_cast<unsigned long long>(store.walkStats.bbtEntriesPastCount));
    std::printf("NBT leaf entries     %llu from %u pages (%llu past the page's count)\n",
                static_cast<unsigned long long>(store.walkStats.nbtLeafEntries), store.walkStats.nbtLeafPages,
                static_cast<unsigned long long>(store.walkStats.nbtEntriesPastCount));
    std::printf("node records         %zu\n", store.forest.size());
    std::printf("orphan records       %zu\n", bm::OrphanNodes(store).size());
    std::printf("forest depth         %u\n", ForestDepth(store));
    std::printf("first top-level NID  0x%x\n", store.forest.first() != nullptr ? store.forest.first()->nid : 0u);
    for (const auto& [name, value] : store.damage.Items())
        std::printf("damage: %-21s %llu\n", name, static_cast<unsigned long long>(value));

    if (listBlocks) {
        for (const bm::BlockEntry& b : store.blocks.entries())
            std::printf("block 0x%llx at 0x%llx size %u inflated %u refs %d\n", static_cast<unsigned long long>(b.bid),
                        static_cast<unsigned long long>(b.offset), b.size, b.inflatedSize, b.refCount);
    }
    if (listNodes) {
        for (const bm::NodeEntry& n : store.forest.records())
            std::printf("node 0x%x parent 0x%x data 0x%llx%s sub 0x%llx%s%s\n", n.nid, n.nidParent,
                        static_cast<unsigned long long>(n.bidData), n.dataBlock != nullptr ? "" : " (missing)",
                        static_cast<unsigned long long>(n.bidSub),
                        n.bidSub == 0 || n.subnodeBlock != nullptr ? "" : " (missing)", n.waiting ? " orphan" : "");
    }
    return 0;
}
