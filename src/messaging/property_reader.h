// Reading property and table contexts out of a store: a node's data blocks
// become a heap, its subnodes the source of values kept outside the heap.
#pragma once

#include <cstdint>
#include <optional>

#include "messaging/heap_node.h"
#include "messaging/property_context.h"
#include "store/blocks.h"
#include "store/store_file.h"
#include "store/subnodes.h"

namespace bm {

// How the store's HIDs split into allocation and page index.
HidLayout HidLayoutFor(const StoreFile& store);

// The data of a node block by block (one heap page each). A data tree that
// breaks off keeps the blocks read before the break; nullopt when nothing
// could be read.
std::optional<HeapBlocks> ReadNodeBlocks(StoreFile& store, const BlockEntry& dataBlock);

// Values in subnodes are read from `subnodes` (none: every such value is
// unreadable). The reader borrows the store and the list.
SubnodeDataReader MakeSubnodeDataReader(StoreFile& store, const SubnodeList* subnodes);

// The property list of the object whose data block is `dataBlock`: a
// property context or a table context, by the heap's signature. nullopt
// when the node holds neither.
std::optional<PropertyList> ReadPropertyObject(StoreFile& store, const BlockEntry& dataBlock,
                                               const SubnodeList* subnodes);
// What ReadPropertyObject lists, one chunk at a time (a table's rows are not
// kept past their call); false when it would give nullopt.
bool ForEachPropertyChunk(StoreFile& store, const BlockEntry& dataBlock, const SubnodeList* subnodes,
                          const TableRowVisitor& visit);

// The whole data of subnode `nid` (first match in the list) into `out`;
// returns its byte count, 0 when the list or NID is absent or nothing could
// be read. A data tree that breaks off yields the bytes read before the break.
std::size_t ReadSubnodeValue(StoreFile& store, std::uint32_t nid, const SubnodeList* subnodes, Bytes& out);

}  // namespace bm
