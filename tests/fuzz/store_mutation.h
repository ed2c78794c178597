// The structure-aware mutation both fuzz targets use beside libFuzzer's
// byte mutations.
//
// Byte mutations rarely hit the one field of an index page that matters
// and, when they do, mostly break the page's CRC, which the deep scan then
// rejects. This mutation finds the index pages of the input by their
// trailers and changes one thing the reader must not trust: an entry's file
// offset, size, BID/NID or key, or a page's level or entry count. Values
// are taken from those that have broken readers before (past the end of the
// file, all ones, the highest bit, a neighbour's value, zero). Half the time
// the page's CRC is made to match again, so the change also reaches the
// paths that only sound pages reach.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmfuzz {

// Changes one field of one index page of `data` in place, and returns the
// size (unchanged); 0 when the input holds no index page.
std::size_t MutateIndexPage(std::uint8_t* data, std::size_t size, unsigned seed);

// What LLVMFuzzerCustomMutator does: the byte mutation or the one above,
// one or the other about equally often.
std::size_t MutateStoreInput(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned seed);

}  // namespace bmfuzz
