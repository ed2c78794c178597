// The category that marks an item saved with damaged content, so that the
// user finds those items in the mail program (a search or view by category).
#pragma once

#include <string_view>

#include "output/pst/props.h"

namespace bm {

inline constexpr std::string_view kDamagedCategory = "Damaged in recovery";

// Adds `category` to the item's categories (the Keywords named property),
// keeping those it has; nothing when it has it already. A categories value
// that cannot be read as a list of strings is replaced.
void AddCategory(pst::PropertyBag& properties, std::string_view category);

}  // namespace bm
