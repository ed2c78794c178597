// The cards the preview shows for a contact, an appointment, a task, a note
// or a journal item: a title and the fields that have a value, every text
// escaped (what an item says of itself is never read as markup).
#pragma once

#include <QLocale>
#include <QString>

#include <string>

#include "engine/analysis_results.h"
#include "ui/item_rows.h"

namespace bmui {

// The card of row `source` of a list of `kind`; empty when there is none.
std::string CardOf(const bm::AnalysisData& data, ListKind kind, int source);

}  // namespace bmui
