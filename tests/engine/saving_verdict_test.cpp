// The closing words and the verdict of a saving run, from its account: a
// run that lost items is never called a success, and the words count right.
#include <gtest/gtest.h>

#include <string>

#include "engine/log_texts.h"
#include "engine/saving_verdict.h"

namespace bm {
namespace {

// An account of one folder with these many items saved (the first
// `damaged` of them from damaged blocks), lost and not reached.
Reconciliation AccountOf(int saved, int lost, int notReached, int damaged) {
    Reconciliation account;
    const std::string folder = "Personal Folders\\Inbox\\";
    std::uint32_t nid = 0x200004;
    for (int i = 0; i < saved; ++i, nid += 0x20) {
        account.Found(folder, nid);
        account.Saved(folder);
        if (i < damaged) account.Damaged(DamagedItem{nid, folder, {}, {"body: 1 block failed its checksum"}, {}});
    }
    for (int i = 0; i < lost; ++i, nid += 0x20) {
        account.Found(folder, nid);
        account.Lost(LostItem{nid, folder, {}, LossReason::UnreadableNode, {}});
    }
    account.NotReached(folder, notReached);
    return account;
}

TEST(SavingHeadline, SaysWhatWasLostAndGivesEachEndItsOwnOutcome) {
    const std::string seeReport = " \u2014 see the report";
    struct Case {
        int saved, lost, notReached, damaged;
        std::string headline;
        const char* outcome;
    };
    const Case cases[] = {
        {3, 0, 0, 0, std::string(kLogSavingCompleted), "completed"},
        {0, 0, 0, 0, std::string(kLogSavingCompleted), "completed"},  // nothing to save is no loss
        {3, 110, 0, 0, "3 of 113 items were saved; 110 could not be recovered" + seeReport, "partial"},
        {1, 1, 0, 0, "1 of 2 items was saved; 1 could not be recovered" + seeReport, "partial"},
        {0, 1, 0, 0, "0 of 1 item was saved; 1 could not be recovered" + seeReport, "failed"},
        {0, 4, 0, 0, "0 of 4 items were saved; 4 could not be recovered" + seeReport, "failed"},
        // Items a walk that ended early never reached are not saved either.
        {2, 0, 5, 0, "2 of 7 items were saved; 5 could not be recovered" + seeReport, "partial"},
        // Saved with changed content is saved, but no whole run.
        {4, 0, 0, 1, "4 of 4 items were saved, 1 of them damaged" + seeReport, "partial"},
        {3, 2, 0, 2, "3 of 5 items were saved; 2 could not be recovered; 2 of them damaged" + seeReport, "partial"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headline);
        const Reconciliation account = AccountOf(c.saved, c.lost, c.notReached, c.damaged);
        EXPECT_EQ(SavingHeadline(account), c.headline);
        EXPECT_EQ(SavingVerdictName(SavingVerdictOf(account)), c.outcome);
    }
}

}  // namespace
}  // namespace bm
