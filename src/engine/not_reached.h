// What a saving walk that ended early (a stop, a changed source, an output
// that could not be written) never reached, so the account names it
// rather than calling it none.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/reconciliation.h"
#include "engine/saving_selection.h"
#include "store/store_file.h"
#include "store/tables.h"

namespace bm {

// The items the index names in the selected folders that a walk ended
// early never reached: per folder path, the item nodes below its folder
// nodes less the items the walk found there. Folders the walk never entered
// are read for their names.
void AccountNotReached(StoreFile& store, const NodeEntry& root, const SelectedFolders& selected,
                       const std::function<std::optional<std::string>(std::uint32_t)>& pathOf,
                       Reconciliation& account);

}  // namespace bm
