// Whether a block whose checksum fails still holds together, so that the
// deep scan may use it.
//
// A checksum that fails says some byte of the block changed, not which. Bit
// rot and bad copies change a few bytes here and there; most of a block is
// then still what it was, and often it is the only copy. The scan takes
// such a block only when its structure holds (the trailer's signature of
// offset and BID has already held):
//   internal block  btype 1 (data tree) with cLevel 1 or 2, or btype 2
//                   (subnode list) with cLevel 0 or 1; cEnt above 0 and its
//                   entries inside the stored bytes; a data tree's total
//                   above 0; no entry BID 0;
//   data block      decoded with one of the three methods, a heap page:
//                   the page map (ibHnpm) inside the block, its allocation
//                   offsets rising from the page header's end (12 bytes for
//                   the heap's first page, whose signature 0xEC and client
//                   signature must be known; 2 or 66 for later pages) up to
//                   the page map; the first page's user root an allocation
//                   of the map (or 0).
// A deflated block (4 KiB layout) is not taken: what it holds can only be
// told once inflated. A data block that is no heap page (a value kept in
// blocks of its own: a body, an attachment's data) has no structure to
// check, and is not taken either. Everything taken is read later with its
// checksum failing, so the item it belongs to is named as damaged, and
// each value inside it is checked again as it is read.
#pragma once

#include <cstdint>
#include <span>

#include "store/layout.h"

namespace bm {

// Whether `plain` (decoded bytes of a data block) is a heap page:
// `first` asks for the heap's first page (with its header and signature),
// otherwise a later page of the heap is accepted too.
bool HeapPageHolds(std::span<const std::uint8_t> plain, bool firstOnly);

// Whether a block of `bid` whose stored bytes are `stored` holds together
// (see the top of this file). `inflatedSize` is the size the trailer or the
// index gives (above the stored size for a deflated block).
bool BlockStructureHolds(std::span<const std::uint8_t> stored, std::uint64_t bid, std::uint32_t inflatedSize,
                         const StoreLayout& layout);

}  // namespace bm
