#include "engine/saving_verdict.h"

#include <fmt/format.h>

#include "engine/log_texts.h"

namespace bm {

namespace {
// Items of the selected folders that are not in the new store: lost, or
// never reached by a walk that ended early.
std::int64_t NotRecovered(const FolderTally& t) { return t.lost + t.notReached; }
}  // namespace

SavingVerdict SavingVerdictOf(const Reconciliation& account) {
    const FolderTally t = account.totals();
    // An item saved from damaged blocks is in the new store, but not as the
    // source once held it: the run is not a whole one.
    if (NotRecovered(t) == 0 && t.damaged == 0) return SavingVerdict::AllSaved;
    return t.saved == 0 ? SavingVerdict::NoneSaved : SavingVerdict::SomeLost;
}

std::string SavingHeadline(const Reconciliation& account) {
    const FolderTally t = account.totals();
    if (SavingVerdictOf(account) == SavingVerdict::AllSaved) return std::string(kLogSavingCompleted);
    const std::int64_t all = t.saved + NotRecovered(t);
    // "0 of 1 item was saved", "1 of 2 items was saved", "3 of 113 items were saved"
    std::string text = fmt::format("{} of {} {} {} saved", t.saved, all, all == 1 ? "item" : "items",
                                   (t.saved == 1 || (t.saved == 0 && all == 1)) ? "was" : "were");
    if (NotRecovered(t) > 0) text += fmt::format("; {} could not be recovered", NotRecovered(t));
    // "..., 7 of them damaged": saved, but with content that failed its checks.
    if (t.damaged > 0) text += fmt::format("{} {} of them damaged", NotRecovered(t) > 0 ? ";" : ",", t.damaged);
    return text + " \u2014 see the report";
}

std::string_view SavingVerdictName(SavingVerdict verdict) {
    switch (verdict) {
    case SavingVerdict::AllSaved: return "completed";
    case SavingVerdict::SomeLost: return "partial";
    case SavingVerdict::NoneSaved: return "failed";
    }
    return "failed";
}

}  // namespace bm
