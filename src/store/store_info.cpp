#include "store/store_info.h"

#include <cstdio>

#include "store/store.h"

namespace bm {
namespace {

unsigned TreeDepth(std::uint8_t leafDepth) { return leafDepth == kLeafDepthUnknown ? 0u : leafDepth + 1u; }

unsigned long long U64(std::uint64_t v) { return static_cast<unsigned long long>(v); }

// The deepest chain of the node forest, walked without recursion.
unsigned ForestDepth(const StoreFile& store) {
    unsigned deepest = 0;
    for (const NodeEntry* top = store.forest.first(); top != nullptr; top = store.forest.NewerSibling(*top)) {
        const NodeEntry* n = top;
        unsigned depth = 1;
        while (n != nullptr) {
            if (depth > deepest) deepest = depth;
            if (n->hasChildren()) {
                n = store.forest.OldestChild(*n);
                ++depth;
                continue;
            }
            while (n != top && store.forest.NewerSibling(*n) == nullptr) {
                n = store.forest.Parent(*n);
                --depth;
            }
            n = n == top ? nullptr : store.forest.NewerSibling(*n);
        }
    }
    return deepest;
}

template <typename... Args>
void Line(std::string& out, const char* format, Args... args) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, args...);
    out += buffer;
}

}  // namespace

const char* EncodingName(std::uint32_t method) {
    switch (method) {
    case 0: return "none";
    case 1: return "permutation";
    case 2: return "cyclic";
    default: return "unknown";
    }
}

std::string FormatStoreInfo(const StoreFile& store, const std::string& path, int buildResult) {
    std::string out;
    const char* layout = store.layout != nullptr ? store.layout->name : "unknown";
    const bool unread = store.layout != nullptr && !store.layout->walkable;
    out += "file                 " + path + "\n";
    Line(out, "file size            %llu\n", U64(store.file.size()));
    Line(out, "format version       %u (%s layout%s)\n", store.formatVersion, layout, unread ? ", not read yet" : "");
    Line(out, "NBT root offset      0x%llx\n", U64(store.nbtRootOffset));
    Line(out, "BBT root offset      0x%llx\n", U64(store.bbtRootOffset));
    Line(out, "header crypt method  %u (%s)\n", store.headerCryptMethod, EncodingName(store.headerCryptMethod));
    Line(out, "crypt method used    %u (%s)\n", store.cryptMethod, EncodingName(store.cryptMethod));
    Line(out, "build result         %d\n", buildResult);
    Line(out, "BBT tree depth       %u\n", TreeDepth(store.bbtLeafDepth));
    Line(out, "NBT tree depth       %u\n", TreeDepth(store.nbtLeafDepth));
    Line(out, "block entries        %zu\n", store.blocks.size());
    Line(out, "BBT leaf entries     %llu from %u pages (%llu past the page's count)\n",
         U64(store.walkStats.bbtLeafEntries), store.walkStats.bbtLeafPages, U64(store.walkStats.bbtEntriesPastCount));
    Line(out, "NBT leaf entries     %llu from %u pages (%llu past the page's count)\n",
         U64(store.walkStats.nbtLeafEntries), store.walkStats.nbtLeafPages, U64(store.walkStats.nbtEntriesPastCount));
    Line(out, "node records         %zu\n", store.forest.size());
    Line(out, "orphan records       %zu\n", OrphanNodes(store).size());
    Line(out, "forest depth         %u\n", ForestDepth(store));
    Line(out, "first top-level NID  0x%x\n", store.forest.first() != nullptr ? store.forest.first()->nid : 0u);
    for (const auto& [name, value] : store.damage.Items()) Line(out, "damage: %-21s %llu\n", name, U64(value));
    return out;
}

void PrintStoreInfo(std::FILE* out, const StoreFile& store, const std::string& path, int buildResult) {
    std::fputs(FormatStoreInfo(store, path, buildResult).c_str(), out);
}

}  // namespace bm
