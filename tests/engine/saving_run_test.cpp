// The saving run over stores written in the test: a stop during the index
// load, a stop during the walk, items the writer fails on, a source that
// changes under the run and a part that fails its check.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "engine/activity_log.h"
#include "engine/engine_test_helpers.h"
#include "engine/log_texts.h"
#include "engine/saving_run.h"
#include "engine/settings.h"
#include "output/output_readback.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "check/store_checker.h"
#include "support/inbox_store.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
namespace tags = pst::tags;

class RecordingSavingObserver : public SavingObserver {
public:
    void OnMessage(const std::string& text) override { messages.push_back(text); }
    void OnFinished(const SavingFinish& f) override {
        finish = f;
        ++finishes;
    }
    std::vector<std::string> messages;
    SavingFinish finish;
    int finishes = 0;
};

using bmtest::MessageOf;

// Inbox with five mails (the third with an attachment), and a task folder
// with two tasks.
fs::path WriteStore(const fs::path& dir) {
    const fs::path path = dir / "source.ost";
    auto store = pst::PstStore::Create(path, {});
    const auto inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    for (int i = 1; i <= 5; ++i) {
        pst::Message m = MessageOf("IPM.Note", "mail " + std::to_string(i));
        if (i == 3) m.attachments.push_back(pst::Attachment::FromBytes("report.txt", {'a', 'b', 'c'}));
        store->AddMessage(inbox, m);
    }
    const auto tasks = store->CreateFolder(store->ipmSubtree(), "Tasks", "IPF.Task");
    store->AddMessage(tasks, MessageOf("IPM.Task", "task 1"));
    store->AddMessage(tasks, MessageOf("IPM.Task", "task 2"));
    store->Finish();
    return path;
}

std::string SubjectOfRecord(const ItemRecord& r) {
    return r.messageFields && r.messageFields->subject ? r.messageFields->subject->text : std::string();
}

struct SavingFixture {
    explicit SavingFixture(const std::string& name)
        : dir(bmtest::ScratchDir(name)), settings(dir / "brightmend.conf"), log(settings, dir / "app"),
          run(observer, &log) {
        fs::create_directories(dir / "app");
        source.sourcePath = WriteStore(dir).string();
        source.destination = dir / "Repair";
        source.selected.SelectAll(
            {"Personal Folders\\", "Personal Folders\\Inbox\\", "Personal Folders\\Tasks\\"});
    }
    AnalysisOutcome Save() {
        EXPECT_TRUE(run.Start(source));
        run.Wait();
        EXPECT_EQ(observer.finishes, 1);
        return run.outcome();
    }
    std::string LogText() const { return bmtest::ReadTextFile(log.PathOf(LogChannel::ActivityLog)); }
    void ExpectCleanOutput() const {
        ASSERT_EQ(run.outputStores().size(), 1u);
        const CheckReport report = CheckStore(run.outputStores()[0]);
        for (const Finding& f : report.findings) ADD_FAILURE() << FormatFinding(f);
        EXPECT_EQ(report.errorCount(), 0u);
    }

    fs::path dir;
    Settings settings;
    ActivityLog log;
    RecordingSavingObserver observer;
    SavingRun run;
    SavingSource source;
};

TEST(SavingRunStop, AStopDuringTheIndexLoadIsAnAbortedSavingNotAFailedAnalysis) {
    SavingFixture f("saving-stop-index");
    // The worker waits at the first B-tree page; the stop is set before it
    // goes on, so the node index is cut short and the store object missing.
    f.run.Pause();
    ASSERT_TRUE(f.run.Start(f.source));
    f.run.Stop();
    f.run.Resume();
    f.run.Wait();
    EXPECT_EQ(f.run.outcome(), AnalysisOutcome::Aborted);
    EXPECT_EQ(f.run.message(), kLogSavingAborted);
    EXPECT_EQ(f.observer.finish.outcome, AnalysisOutcome::Aborted);
    EXPECT_EQ(f.observer.finish.message, kLogSavingAborted);
    EXPECT_TRUE(f.observer.messages.empty()) << f.observer.messages.front();
    EXPECT_TRUE(f.run.outputStores().empty());
    EXPECT_FALSE(fs::exists(f.source.destination));
    EXPECT_NE(f.LogText().find(std::string(kLogSavingAborted)), std::string::npos);
    // The store is closed again: a second run opens it and completes.
    f.observer.finishes = 0;
    EXPECT_EQ(f.Save(), AnalysisOutcome::Completed);
}

TEST(SavingRunStop, AStopDuringTheWalkFinishesTheCurrentItemAndLeavesACompleteStore) {
    SavingFixture f("saving-stop-walk");
    int seen = 0;
    f.source.beforeItemWrite = [&](USave_to_PST_Format&, const ItemRecord&) {
        if (++seen == 2) f.run.Stop();
    };
    EXPECT_EQ(f.Save(), AnalysisOutcome::Aborted);
    EXPECT_EQ(f.run.message(), kLogSavingAborted);
    EXPECT_EQ(f.run.outcomeName(), "aborted");
    EXPECT_EQ(f.run.saved()[WellKnownCategory::Inbox], 2);
    f.ExpectCleanOutput();
    const bmtest::ReadBackStore back = bmtest::ReadBack(f.run.outputStores()[0]);
    ASSERT_EQ(back.In("Inbox").size(), 2u);
    EXPECT_TRUE(back.In("Tasks").empty());
    // The account names what the walk did not reach, folder by folder,
    // rather than calling the unsaved items none.
    const Reconciliation account = f.run.reconciliation();
    std::map<std::string, std::int64_t> notReached;
    for (const FolderTally& t : account.folders())
        if (t.notReached > 0) notReached[t.path] = t.notReached;
    EXPECT_EQ(notReached, (std::map<std::string, std::int64_t>{{"Personal Folders\\Inbox\\", 3},
                                                                {"Personal Folders\\Tasks\\", 2}}));
    EXPECT_EQ(account.totals().saved, 2);
    const std::string report = bmtest::ReadTextFile(f.run.reportText());
    EXPECT_NE(report.find("Items not reached (the run ended before them): 5"), std::string::npos) << report;
    EXPECT_NE(report.find("not reached 5 (in 2 folders)"), std::string::npos) << report;
}

TEST(SavingRunFailures, AnItemTheWriterFailsOnIsCountedAndSkippedAndTheRunGoesOn) {
    SavingFixture f("saving-item-fails");
    f.source.beforeItemWrite = [&](USave_to_PST_Format&, const ItemRecord& item) {
        const std::string subject = SubjectOfRecord(item);
        // The writer fails on these two (as on a store it cannot write);
        // the items around them are saved.
        if (subject == "mail 3") throw std::runtime_error("cannot write");
        if (subject == "task 1") throw std::runtime_error("refused");
    };
    EXPECT_EQ(f.Save(), AnalysisOutcome::Completed);
    // A run that lost items says so, in its message, its outcome and the log.
    const std::string headline = "5 of 7 items were saved; 2 could not be recovered \u2014 see the report";
    EXPECT_EQ(f.run.message(), headline);
    EXPECT_EQ(f.run.outcomeName(), "partial");
    EXPECT_EQ(f.observer.finish.outcomeName, "partial");
    EXPECT_EQ(f.LogText().find(std::string(kLogSavingCompleted)), std::string::npos) << f.LogText();
    EXPECT_NE(f.LogText().find("\r\n" + headline), std::string::npos) << f.LogText();
    EXPECT_EQ(f.run.failedItems(), 2);
    EXPECT_EQ(f.run.saved()[WellKnownCategory::Inbox], 4);
    EXPECT_EQ(f.run.saved()[WellKnownCategory::Tasks], 1);
    f.ExpectCleanOutput();

    const bmtest::ReadBackStore back = bmtest::ReadBack(f.run.outputStores()[0]);
    std::vector<std::string> inbox;
    for (const bmtest::ReadBackItem* i : back.In("Inbox")) inbox.push_back(SubjectOfRecord(*i->record));
    std::sort(inbox.begin(), inbox.end());
    EXPECT_EQ(inbox, (std::vector<std::string>{"mail 1", "mail 2", "mail 4", "mail 5"}));
    ASSERT_EQ(back.In("Tasks").size(), 1u);
    EXPECT_EQ(SubjectOfRecord(*back.In("Tasks")[0]->record), "task 2");
}

// The file size limit stands in for a full disk: a write past it fails
// (EFBIG) the way it fails with ENOSPC. Restored when the scope ends.
class FileSizeLimit {
public:
    FileSizeLimit() {
        getrlimit(RLIMIT_FSIZE, &saved_);
        savedSignal_ = std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the process
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedSignal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    void Lower(rlim_t bytes) {
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }

private:
    rlimit saved_{};
    void (*savedSignal_)(int) = SIG_DFL;
};

// Saves the whole Inbox of `source` in parts of `partBytes`; once the third
// part is open, no file may grow past `limitBytes`.
AnalysisOutcome SaveWithTheThirdPartLimited(SavingRun& run, const fs::path& source, const fs::path& destination,
                                            std::uint64_t partBytes, rlim_t limitBytes) {
    SavingSource what;
    what.sourcePath = source.string();
    what.destination = destination;
    what.storeSizeLimit = partBytes;
    what.selected.SelectAll({"Personal Folders\\", "Personal Folders\\Inbox\\"});
    std::optional<FileSizeLimit> limit(std::in_place);
    int writtenInThird = 0;
    what.beforeItemWrite = [&](USave_to_PST_Format& writer, const ItemRecord&) {
        if (writer.outputStores().size() == 3 && writtenInThird++ == 0) limit->Lower(limitBytes);
    };
    const AnalysisOutcome outcome = run.SaveStore(what);
    limit.reset();  // the limit is back before anything is checked
    EXPECT_GT(writtenInThird, 0) << "the store never reached a third part";
    return outcome;
}

// The run failed with the system's reason; the two parts before the one
// that failed pass the checker, hold some of the mails and are kept, as the
// message says; the third, cut short, is removed, under every name.
void ExpectTwoSoundPartsAndTheThirdRemoved(const SavingRun& run, AnalysisOutcome outcome, int mails) {
    EXPECT_EQ(outcome, AnalysisOutcome::Failed);
    EXPECT_NE(run.message().find(std::strerror(EFBIG)), std::string::npos) << run.message();
    EXPECT_NE(run.message().find("was removed"), std::string::npos) << run.message();
    EXPECT_NE(run.message().find("passed the store check and are kept"), std::string::npos) << run.message();
    const std::vector<fs::path> parts = run.outputStores();
    ASSERT_EQ(parts.size(), 2u);
    int savedBefore = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        const CheckReport report = CheckStore(parts[i]);
        for (const Finding& f : report.findings) ADD_FAILURE() << parts[i] << ": " << FormatFinding(f);
        EXPECT_EQ(report.errorCount(), 0u) << parts[i];
        const auto back = bmtest::ReadBack(parts[i]);
        EXPECT_FALSE(back.In("Inbox").empty()) << parts[i];
        savedBefore += static_cast<int>(back.In("Inbox").size());
    }
    EXPECT_LT(savedBefore, mails);
    EXPECT_EQ(run.reconciliation().totals().saved, savedBefore);
    const fs::path third = StorePartPath(parts[0], 3);
    for (const char* suffix : {"", ".partial", ".incomplete"})
        EXPECT_FALSE(fs::exists(third.string() + suffix)) << third << suffix;
}

// The third part's writes (buffered, so perhaps only when the part is
// closed) fail half-way: its file cannot grow past 64 KiB.
TEST(SavingRunFailures, AWriteThatFailsInALaterPartFailsTheRunAndLeavesTheEarlierPartsValid) {
    const fs::path dir = bmtest::ScratchDir("saving-part-write-fails");
    const fs::path source = dir / "large.ost";
    constexpr int kMails = 40;
    bmtest::WriteInbox(source, kMails, 64 * 1024);
    RecordingSavingObserver observer;
    SavingRun run(observer, nullptr);
    const AnalysisOutcome outcome = SaveWithTheThirdPartLimited(run, source, dir / "Repair", 512 * 1024, 64 * 1024);
    ExpectTwoSoundPartsAndTheThirdRemoved(run, outcome, kMails);
}

// The contents-table rows of a part wait in a temporary file beside it; a
// write of that file that fails is a failed write of the output like any
// other: the run fails with the system's reason, the parts before stay
// valid, and no temporary file is left. The third part's rows outgrow
// memory after a few hundred mails, while the part itself is still in the
// writer's buffer; their file cannot grow past 32 KiB.
TEST(SavingRunFailures, ARowsFileThatCannotBeWrittenInALaterPartFailsTheRunAndLeavesTheEarlierPartsValid) {
    const fs::path dir = bmtest::ScratchDir("saving-rows-file-fails");
    const fs::path source = dir / "many.ost";
    constexpr int kMails = 6000;
    bmtest::WriteInbox(source, kMails, 0);
    RecordingSavingObserver observer;
    SavingRun run(observer, nullptr);
    const AnalysisOutcome outcome = SaveWithTheThirdPartLimited(run, source, dir / "Repair", 1024 * 1024, 32 * 1024);
    ExpectTwoSoundPartsAndTheThirdRemoved(run, outcome, kMails);
    EXPECT_NE(run.message().find("temporary file of table rows"), std::string::npos) << run.message();
    ASSERT_FALSE(run.outputStores().empty());
    for (const auto& e : fs::directory_iterator(run.outputStores()[0].parent_path())) {
        EXPECT_EQ(e.path().filename().string().rfind(".brightmend-rows", 0), std::string::npos) << e.path();
    }
}

// The source is cut to a few pages while the third item is written: the
// walk stops at the next read that comes back short, says why, and keeps
// what it saved before in a store that has its name.
TEST(SavingRunSourceChanges, ASourceThatShrinksStopsTheRunWithTheCauseAndKeepsWhatWasSaved) {
    SavingFixture f("saving-source-shrinks");
    int seen = 0;
    f.source.beforeItemWrite = [&](USave_to_PST_Format&, const ItemRecord&) {
        if (++seen == 3) fs::resize_file(f.source.sourcePath, 8192);
    };
    f.Save();
    const std::string message = f.run.message();
    EXPECT_EQ(message.rfind(std::string(kSourceChanged) + f.source.sourcePath, 0), 0u) << message;
    EXPECT_NE(message.find("could not be recovered"), std::string::npos) << message;
    EXPECT_EQ(f.run.outcomeName(), "partial");
    const FolderTally totals = f.run.reconciliation().totals();
    EXPECT_GE(totals.saved, 2);
    EXPECT_GT(totals.notReached + totals.lost, 0);
    f.ExpectCleanOutput();
    EXPECT_EQ(f.run.outputStores()[0].extension(), ".pst");
    EXPECT_EQ(bmtest::ReadBack(f.run.outputStores()[0]).In("Inbox").size(), static_cast<std::size_t>(totals.saved));
}

// A part that fails its check is set apart as ".incomplete"; the items in
// it are not saved, each with the reason, and nothing says otherwise.
TEST(SavingRunFailures, ItemsOfAPartSetApartAreNotCountedAsSaved) {
    SavingFixture f("saving-part-set-apart");
    f.source.beforeCheck = [](const fs::path& part) {
        std::fstream file(part, std::ios::in | std::ios::out | std::ios::binary);
        file.write("XXXX", 4);  // the header's magic
    };
    EXPECT_EQ(f.Save(), AnalysisOutcome::Failed);
    ASSERT_EQ(f.run.outputStores().size(), 1u);
    const fs::path kept = f.run.outputStores()[0];
    EXPECT_EQ(kept.extension(), ".incomplete") << kept;
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(fs::path(kept).replace_extension("")));
    EXPECT_EQ(f.observer.finish.itemsSaved, 0);
    const Reconciliation account = f.run.reconciliation();
    EXPECT_EQ(account.totals().saved, 0);
    EXPECT_EQ(account.totals().lost, 7);
    for (const LostItem& item : account.lost()) {
        EXPECT_EQ(item.reason, LossReason::OutputUnusable);
        EXPECT_NE(item.detail.find(".incomplete"), std::string::npos) << item.detail;
    }
}

}  // namespace
}  // namespace bm
