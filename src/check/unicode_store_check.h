// The client-rule checks hold Unicode stores (wVer 23) only: each runs
// either over a store already opened with its index built, or over a file
// it opens itself through RunOverUnicodeStore.
#pragma once

#include <cstdint>
#include <filesystem>

#include "check/check_report.h"
#include "store/store_file.h"

namespace bm {

inline constexpr std::uint32_t kUnicodeVersion = 23;

// Opens the store at `path` for reading, builds its index and runs `check`
// over it. A store that does not open, is of another layout or has no
// usable index is passed over.
void RunOverUnicodeStore(const std::filesystem::path& path, CheckReport& report,
                         void (*check)(StoreFile& store, CheckReport& report));

}  // namespace bm
