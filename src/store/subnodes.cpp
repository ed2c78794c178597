#include "store/subnodes.h"

namespace bm {

void SubnodeList::Append(const SubnodeEntry& entry) {
    first_.try_emplace(entry.nid, entries_.size());
    entries_.push_back(entry);
}
const BlockEntry* SubnodeList::Find(std::uint32_t) const { return nullptr; }
std::size_t ReadSubnodes(StoreFile&, const BlockEntry&, SubnodeList&) { return 0; }
SubnodeList ReadSubnodes(StoreFile&, const BlockEntry&) { return {}; }
const BlockEntry* FindSubnode(const SubnodeList& list, std::uint32_t nid) { return list.Find(nid); }

}  // namespace bm
