// What the store reader sees in a store's header and indexes, as text: the
// one listing both `brightmend-cli info` and tools/storeinfo print.
#pragma once

#include <cstdio>
#include <string>

#include "store/store_file.h"

namespace bm {

// "none", "permutation", "cyclic" or "unknown".
const char* EncodingName(std::uint32_t method);

// Header fields, layout, encoding, tree depths, table sizes and damage
// counters of `store` after BuildIndexes returned `buildResult`, one
// "label  value" line each.
std::string FormatStoreInfo(const StoreFile& store, const std::string& path, int buildResult);
// The same listing written to `out`.
void PrintStoreInfo(std::FILE* out, const StoreFile& store, const std::string& path, int buildResult);

}  // namespace bm
