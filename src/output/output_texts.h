// Texts and names of the output store that users see or that tests check.
#pragma once

#include <cstdint>
#include <string_view>

namespace bm {

// The display name of a new store is this followed by the timestamp.
inline constexpr std::string_view kOutputDisplayNamePrefix = "Brightmend_Personal_Folder";
// A store file past this size is continued in a new file.
inline constexpr std::uint64_t kDefaultStoreSizeLimit = 0x60000000;
// The part sizes a user may choose: from 100 MiB up to the 50 GiB a mail
// client opens a store of by default.
inline constexpr std::uint64_t kSmallestStoreSizeLimit = 100ULL << 20;
inline constexpr std::uint64_t kLargestStoreSizeLimit = 50ULL << 30;

}  // namespace bm

namespace bm {
// The output store file could not be created; followed by its path.
inline constexpr std::string_view kCannotCreateOutputStore = "Can Not Create Output Store";
}  // namespace bm

namespace bm {
// A file chosen as the output exists: it is left as it is.
inline constexpr std::string_view kOutputFileExists = "the file exists already and is not overwritten";
}  // namespace bm
