// The analysis run over stores written in the test with the project's
// writer: counts, folder records, progress, the finish, the log, Stop,
// Pause and the early ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/analysis_run.h"
#include "engine/log_texts.h"
#include "engine/shipped_pages.h"
#include "engine_test_helpers.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
namespace tags = pst::tags;
using bmtest::ReadTextFile;

class RecordingObserver : public AnalysisObserver {
public:
    void OnSourcePath(const std::string& path) override {
        source = path;
        if (onSource) onSource();
        sourceSeen = true;
    }
    void OnProgressRange(std::int32_t maximum) override {
        range = maximum;
        if (onRange) onRange();
    }
    void OnProgressPosition(std::int32_t position) override { lastPosition = position; }
    void OnMessage(const std::string& text) override { messages.push_back(text); }
    void OnFinished(const AnalysisFinish& f) override {
        finish = f;
        ++finishes;
    }

    std::function<void()> onSource;
    std::function<void()> onRange;
    std::string source;
    std::atomic<bool> sourceSeen{false};  // polled by the test's own thread
    std::int32_t range = -1000;
    std::int32_t lastPosition = 0;
    std::vector<std::string> messages;
    AnalysisFinish finish;
    int finishes = 0;
};

using bmtest::MessageOf;

// A store with mail in well-known folders, a subfolder of Inbox, a folder
// that merely begins with "Inbox", a stray message in a calendar, and one
// item of every other kind.
fs::path WriteSampleStore(const fs::path& dir) {
    const fs::path path = dir / "sample.ost";
    auto store = pst::PstStore::Create(path, {});
    const auto top = store->ipmSubtree();
    const auto inbox = store->CreateFolder(top, "Inbox");
    for (int i = 0; i < 51; ++i) store->AddMessage(inbox, MessageOf("IPM.Note", "in " + std::to_string(i)));
    const auto old = store->CreateFolder(inbox, "Old");
    store->AddMessage(old, MessageOf("IPM.Note", "old"));
    store->AddMessage(old, MessageOf("IPM.Note", "old 2"));
    store->AddMessage(store->CreateFolder(top, "Inboxes"), MessageOf("IPM.Note", "prefix"));
    const auto sent = store->CreateFolder(top, "Sent Items");
    for (int i = 0; i < 3; ++i) store->AddMessage(sent, MessageOf("IPM.Note", "sent"));
    store->AddMessage(store->deletedItems(), MessageOf("IPM.Note", "gone"));
    const auto calendar = store->CreateFolder(top, "Calendar", "IPF.Appointment");
    store->AddMessage(calendar, MessageOf("IPM.Appointment", "meeting"));
    store->AddMessage(calendar, MessageOf("IPM.Note", "stray"));
    const auto tasks = store->CreateFolder(top, "Tasks", "IPF.Task");
    store->AddMessage(tasks, MessageOf("IPM.Task", "task"));
    store->AddMessage(tasks, MessageOf("IPM.Task.Custom", "not a task"));
    const auto contacts = store->CreateFolder(top, "Contacts", "IPF.Contact");
    pst::Message contact = MessageOf("IPM.Contact", "Ann");
    contact.properties.SetString(tags::kGivenName, "Ann");
    store->AddMessage(contacts, contact);
    store->AddMessage(store->CreateFolder(top, "Notes", "IPF.StickyNote"), MessageOf("IPM.StickyNote", "note"));
    pst::Message journal = MessageOf("IPM.Activity", "call");
    journal.properties.SetString(pst::NamedPropTag{{}, std::uint32_t{0x8700}, pst::PropType::Unicode}, "Phone call");
    store->AddMessage(store->CreateFolder(top, "Journal", "IPF.Journal"), journal);
    store->CreateFolder(top, "Empty");
    store->Finish();
    return path;
}

struct RunFixture {
    explicit RunFixture(const std::string& name)
        : dir(bmtest::ScratchDir(name)), settings(dir / "brightmend.conf"), log(settings, dir / "app") {
        PrepareAppDir(dir / "app");
    }
    std::string LogText() const { return ReadTextFile(log.PathOf(LogChannel::ActivityLog)); }

    fs::path dir;
    Settings settings;
    ActivityLog log;
    RecordingObserver observer;
};

AnalysisOutcome RunOn(RunFixture& f, AnalysisRun& run, const fs::path& store) {
    const AnalysisOutcome outcome = bmtest::AnalyseToEnd(run, store);
    EXPECT_EQ(f.observer.finishes, 1);
    return outcome;
}

std::int32_t CountOf(const AnalysisRun& run, const std::string& path) {
    for (const FolderSummary& s : run.results().folderSummaries())
        if (s.path == path) return s.count;
    return -1;
}

TEST(AnalysisRunCounts, AWrittenStoreIsSortedIntoFoldersListsAndCounts) {
    RunFixture f("run-counts");
    const fs::path store = WriteSampleStore(f.dir);
    AnalysisRun run(f.observer, &f.log, f.dir / "app");
    ASSERT_EQ(RunOn(f, run, store), AnalysisOutcome::Completed);

    const WellKnownCounts c = run.results().counts();
    EXPECT_EQ(c[WellKnownCategory::Inbox], 54);  // 51 + 2 in Old + 1 in Inboxes
    // 3, the stray message of the calendar and the "IPM.Task.Custom" mail of
    // the task folder: both land in the last record made, Sent Items.
    EXPECT_EQ(c[WellKnownCategory::SentItems], 5);
    EXPECT_EQ(c[WellKnownCategory::DeletedItems], 1);
    EXPECT_EQ(c[WellKnownCategory::Calendar], 1);
    EXPECT_EQ(c[WellKnownCategory::Tasks], 1);
    EXPECT_EQ(c[WellKnownCategory::Contacts], 1);
    EXPECT_EQ(c[WellKnownCategory::Notes], 1);
    EXPECT_EQ(c[WellKnownCategory::Journal], 1);
    EXPECT_EQ(CountOf(run, "Personal Folders\\Inbox\\"), 51);
    EXPECT_EQ(CountOf(run, "Personal Folders\\Inbox\\Old\\"), 2);
    EXPECT_EQ(CountOf(run, "Personal Folders\\Inboxes\\"), 1);
    EXPECT_EQ(CountOf(run, "Personal Folders\\Calendar\\"), -1);  // no record for a calendar
    run.results().Read([](const AnalysisData& d) {
        EXPECT_EQ(d.formatVersion, 23u);
        ASSERT_FALSE(d.folders.empty());
        EXPECT_EQ(d.folders.front().path, "Personal Folders\\");
        for (const FolderRecord& r : d.folders)
            if (r.path == "Personal Folders\\Inbox\\") {
                ASSERT_EQ(r.messages.size(), 50u);
                ASSERT_TRUE(r.messages.front().subject);
            }
        std::vector<std::string> tree;
        for (const FolderTreeEntry& e : d.tree) tree.push_back(e.path);
        EXPECT_NE(std::find(tree.begin(), tree.end(), "Personal Folders\\Empty\\"), tree.end());
        EXPECT_NE(std::find(tree.begin(), tree.end(), "Personal Folders\\Calendar\\"), tree.end());
    });

    EXPECT_EQ(f.observer.source, store.string());
    EXPECT_EQ(f.observer.finish.page, f.dir / "app" / std::string(kCompletedPage));
    EXPECT_TRUE(f.observer.finish.treeHasItems);
    EXPECT_TRUE(f.observer.messages.empty());
    EXPECT_GT(f.observer.lastPosition, f.observer.range);  // every node with data advanced the bar
    EXPECT_EQ(run.progressPos(), f.observer.lastPosition);

    const std::string log = f.LogText();
    EXPECT_NE(log.find("\r\n\r\n\r\nStep2: Analysis OST File\r\n" + FormatSummary(c)), std::string::npos);
}

TEST(AnalysisRunCounts, ASecondRunStartsFromEmptyListsAndKeepsTheProgressPosition) {
    RunFixture f("run-twice");
    const fs::path store = WriteSampleStore(f.dir);
    AnalysisRun run(f.observer, nullptr, f.dir / "app");
    ASSERT_EQ(RunOn(f, run, store), AnalysisOutcome::Completed);
    const std::int32_t firstPosition = run.progressPos();
    const WellKnownCounts first = run.results().counts();
    f.observer.finishes = 0;
    ASSERT_EQ(RunOn(f, run, store), AnalysisOutcome::Completed);
    EXPECT_EQ(run.results().counts(), first);
    EXPECT_EQ(run.progressPos(), 2 * firstPosition);
}

TEST(AnalysisRunCounts, TheCountingWalkSkipsChildrenOfNodesWithoutData) {
    StoreFile store;
    LeafPageContext ctx;
    BlockInfo block;
    block.bid = 8;
    const BlockEntry& data = store.blocks.Append(block);
    PlaceNodeEntry(store, ctx, 0x2142, 0, 0, 0x122);  // the root itself needs no data
    store.forest.Place(ctx, 0x8022, 8, 0, 0x2142, &data, nullptr);
    store.forest.Place(ctx, 0x8042, 0, 0, 0x2142, nullptr, nullptr);
    store.forest.Place(ctx, 0x200004, 8, 0, 0x8022, &data, nullptr);
    store.forest.Place(ctx, 0x200024, 8, 0, 0x8022, &data, nullptr);
    store.forest.Place(ctx, 0x200044, 8, 0, 0x8042, &data, nullptr);  // under the node without data
    store.forest.Place(ctx, 0x8062, 8, 0, 0x2142, &data, nullptr);
    const NodeEntry* root = FindNode(store, 0x2142);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(CountSubtreeNodes(store.forest, *root), 5);
}

TEST(AnalysisRunStop, StoppingBeforeTheFirstNodeShowsTheAbortPageAndLogsZeroCounts) {
    RunFixture f("run-stop-walk");
    const fs::path store = WriteSampleStore(f.dir);
    AnalysisRun run(f.observer, &f.log, f.dir / "app");
    f.observer.onRange = [&] { run.Stop(); };
    ASSERT_EQ(RunOn(f, run, store), AnalysisOutcome::Aborted);
    EXPECT_EQ(run.results().counts(), WellKnownCounts());
    EXPECT_EQ(f.observer.finish.page, f.dir / "app" / std::string(kAbortPage));
    EXPECT_FALSE(f.observer.finish.treeHasItems);
    EXPECT_EQ(f.observer.lastPosition, 0);
    const auto folders = run.results().folderSummaries();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].path, "Personal Folders\\");
    EXPECT_NE(f.LogText().find(FormatSummary(WellKnownCounts())), std::string::npos);
}

TEST(AnalysisRunStop, AStopSeenByTheIndexLoadEndsTheRunAsAborted) {
    RunFixture f("run-stop-index");
    const fs::path store = WriteSampleStore(f.dir);
    AnalysisRun run(f.observer, &f.log, f.dir / "app");
    // The worker waits at the first B-tree page; the stop is set before it
    // goes on, so the node index is cut short.
    f.observer.onSource = [&] { run.Pause(); };
    AnalysisSource source;
    source.sourcePath = store.string();
    ASSERT_TRUE(run.Start(source));
    while (!f.observer.sourceSeen && run.running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    run.Stop();
    run.Resume();
    run.Wait();
    EXPECT_EQ(run.outcome(), AnalysisOutcome::Aborted);
    EXPECT_EQ(f.observer.messages, std::vector<std::string>{std::string(kAnalysisAbortedByUser)});
    EXPECT_EQ(f.observer.finish.page, f.dir / "app" / std::string(kAbortPage));
    EXPECT_EQ(run.results().counts(), WellKnownCounts());
}

TEST(AnalysisRunStop, TwoPausesNeedTwoResumes) {
    RunFixture f("run-pause");
    const fs::path store = WriteSampleStore(f.dir);
    AnalysisRun run(f.observer, nullptr, f.dir / "app");
    run.Pause();
    run.Pause();
    AnalysisSource source;
    source.sourcePath = store.string();
    ASSERT_TRUE(run.Start(source));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    run.Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(run.running());
    EXPECT_EQ(f.observer.finishes, 0);
    run.Resume();
    run.Wait();
    EXPECT_EQ(run.outcome(), AnalysisOutcome::Completed);
}

TEST(AnalysisRunFailures, AStoreInUseEndsTheRunWithItsMessageAndTheProcessGoesOn) {
    RunFixture f("run-in-use");
    const fs::path store = WriteSampleStore(f.dir);
    const int fd = ::open(store.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    AnalysisRun run(f.observer, &f.log, f.dir / "app");
    const AnalysisOutcome outcome = RunOn(f, run, store);
    ::close(fd);
    EXPECT_EQ(outcome, AnalysisOutcome::Failed);
    EXPECT_EQ(f.observer.messages, std::vector<std::string>{std::string(kSourceFileInUse)});
    EXPECT_EQ(f.observer.finish.message, kSourceFileInUse);
    EXPECT_TRUE(f.observer.finish.page.empty());
    EXPECT_EQ(f.LogText().find(std::string(kLogAnalysisStart)), std::string::npos);
}

TEST(AnalysisRunFailures, AFileThatIsNoStoreIsHighlyCorruptedAndNeverCompleted) {
    RunFixture f("run-garbage");
    const fs::path file = f.dir / "garbage.ost";
    bmtest::WriteTextFile(file, std::string(4096, '\x5a'));
    AnalysisRun run(f.observer, &f.log, f.dir / "app");
    EXPECT_EQ(RunOn(f, run, file), AnalysisOutcome::Failed);
    EXPECT_EQ(f.observer.messages, std::vector<std::string>{std::string(kFileHighlyCorrupted)});
    EXPECT_EQ(f.observer.finish.page, f.dir / "app" / std::string(kAbortPage));
    EXPECT_FALSE(f.observer.finish.treeHasItems);
    EXPECT_NE(f.LogText().find(FormatSummary(WellKnownCounts())), std::string::npos);
}

TEST(AnalysisRunFailures, TheSourceComesFromTheSearchPageWhenChosenThereOrWhenStepOnesIsMissing) {
    const fs::path dir = bmtest::ScratchDir("run-source");
    bmtest::WriteTextFile(dir / "a.ost", "a");
    bmtest::WriteTextFile(dir / "b.ost", "b");
    const std::string a = (dir / "a.ost").string();
    const std::string b = (dir / "b.ost").string();
    EXPECT_EQ(ChooseSourcePath({a, b, 0}), a);
    EXPECT_EQ(ChooseSourcePath({a, b, 1}), b);
    EXPECT_EQ(ChooseSourcePath({"", b, 0}), b);
    EXPECT_EQ(ChooseSourcePath({(dir / "missing.ost").string(), b, 0}), b);
}

TEST(AnalysisRunFailures, ASharedStoreIsAnalysedFromItsOwnSubtreeRoot) {
    BM_REQUIRE_STORE(store, "unicode-sample.pst");
    RunFixture f("run-shared");
    AnalysisRun run(f.observer, &f.log, f.dir / "app");
    EXPECT_EQ(RunOn(f, run, store), AnalysisOutcome::Completed);
    EXPECT_EQ(run.results().folderSummaries().front().nid, 0x8022u);
}

}  // namespace
}  // namespace bm
