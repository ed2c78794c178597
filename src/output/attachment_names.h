// File names for attachments saved to the temporary directory on their way
// into the new store.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

namespace bm {

// Whether a name can be used as it is: not empty, shorter than 256 bytes,
// no character below 0x20 and none of " * / : < > ? \ |, not only dots, and
// (before its first ".") not a reserved device name such as CON, PRN, AUX,
// NUL, CLOCK$, COM1-9 or LPT1-9. Letters beyond ASCII (UTF-8) are fine.
bool IsUsableFileName(std::string_view name);

// A usable name made from any name: forbidden characters become "_", a
// device name gets a leading "_", an overlong name is cut (keeping its
// extension, at a character boundary), an empty or dots-only name becomes
// "attachment". A usable name is returned unchanged.
std::string MakeSafeFileName(std::string_view name);

// `name`, or "stem (2).ext", "stem (3).ext"... the first not in `taken`;
// the result is added to `taken`.
std::string UniqueFileName(const std::string& name, std::unordered_set<std::string>& taken);

}  // namespace bm
