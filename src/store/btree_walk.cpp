#include "store/btree_walk.h"

namespace bm {

int BuildIndexes(StoreFile&, StoreReader&) { return 2; }
int WalkBlockTree(StoreFile&, StoreReader&, std::uint64_t, unsigned, TreeKey, TreeKey) { return kWalkRejected; }
int WalkNodeTree(StoreFile&, StoreReader&, std::uint64_t, unsigned, TreeKey, TreeKey) { return kWalkRejected; }
void SettleCryptMethod(StoreFile& store) { store.cryptMethod = 1; }

}  // namespace bm
