// The saving run over stores written in the test: a stop during the index
// load, a stop during the walk, and items the writer fails on.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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
#include "output/store_checker.h"
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
    EXPECT_EQ(f.run.saved()[WellKnownCategory::Inbox], 2);
    f.ExpectCleanOutput();
    const bmtest::ReadBackStore back = bmtest::ReadBack(f.run.outputStores()[0]);
    ASSERT_EQ(back.In("Inbox").size(), 2u);
    EXPECT_TRUE(back.In("Tasks").empty());
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
    EXPECT_EQ(f.run.message(), kLogSavingCompleted);
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

}  // namespace
}  // namespace bm
