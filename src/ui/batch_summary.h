// The closing words of "Save All Found": how many stores were saved whole,
// then each store in the list's order with what became of it, in the
// saving run's own words, and where its new store and its report are.
#pragma once

#include <QString>

#include <vector>

#include "ui/batch_save.h"

namespace bmui {

// Whether every store was saved whole (by its saving run's verdict).
bool EveryStoreWhole(const std::vector<BatchStoreResult>& results);

// The text of the closing message box; `stopped` when Stop ended the batch.
QString BatchSummaryText(const std::vector<BatchStoreResult>& results, bool stopped);

}  // namespace bmui
