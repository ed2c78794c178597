// The words and the verdict a saving run ends with, from its account of
// the selected items. The command line, the report, the JSON object and the
// wizard all take them from here, so a run that lost items is never called
// a success anywhere.
//
//   every item saved (or none to save)   -> "Saving completed successfully"
//   some saved, some not                  -> "3 of 113 items were saved; 110 could not be recovered — see the report"
//   none of them saved                    -> "0 of 1 item was saved; 1 could not be recovered — see the report"
#pragma once

#include <string>
#include <string_view>

#include "engine/reconciliation.h"

namespace bm {

enum class SavingVerdict : int {
    AllSaved,    // every item of the selected folders is in the new store, none damaged
    SomeLost,    // some were saved, some could not be recovered
    NoneSaved,   // there were items and not one of them was saved
};

SavingVerdict SavingVerdictOf(const Reconciliation& account);

// The closing words of a run that walked to its end (see above).
std::string SavingHeadline(const Reconciliation& account);

// The outcome a finished run reports in its JSON and its report:
// "completed" (all saved), "partial" (some lost), "failed" (none saved).
std::string_view SavingVerdictName(SavingVerdict verdict);

}  // namespace bm
