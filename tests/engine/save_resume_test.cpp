// A save that is killed (SIGKILL) goes on from its journal: whatever the
// moment, the run that goes on ends with the same parts holding the same
// items and the same account as a save that was never cut off, every part a
// whole store, and nothing left behind. And a journal is only ever taken
// for the source it was written for.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "check/store_checker.h"
#include "engine/engine_test_helpers.h"
#include "engine/save_journal.h"
#include "engine/saving_run.h"
#include "output/output_readback.h"
#include "support/inbox_store.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kPartBytes = 384 * 1024;

SavingSource SaveInto(const fs::path& source, const fs::path& output) {
    SavingSource s;
    s.sourcePath = source.string();
    s.outputFile = output;
    s.destination = output.parent_path();
    s.storeSizeLimit = kPartBytes;
    s.selected.SelectAll({"Personal Folders\\", "Personal Folders\\Inbox\\"});
    s.journalRequest = "the test's request";
    return s;
}

struct Result {
    std::vector<std::vector<std::string>> parts;  // the subjects in each part, by part
    std::vector<std::string> names;               // each part's file name
    std::string account;                          // the account as JSON
};

Result SaveAndRead(const SavingSource& source) {
    class Quiet : public SavingObserver {} observer;
    SavingRun run(observer, nullptr);
    fs::create_directories(source.outputFile.parent_path());
    EXPECT_EQ(run.SaveStore(source), AnalysisOutcome::Completed) << run.message();
    Result r;
    r.account = ReconciliationJson(run.reconciliation());
    const CheckOptions strict{.strictReferenceCounts = true, .strictFolderTables = true, .clientRules = true};
    for (const fs::path& p : run.outputStores()) {
        const CheckReport report = CheckStore(p, strict);
        for (const Finding& f : report.findings) ADD_FAILURE() << p << ": " << FormatFinding(f);
        r.names.push_back(p.filename().string());
        r.parts.emplace_back();
        for (const bmtest::ReadBackItem& item : bmtest::ReadBack(p).items)
            r.parts.back().push_back(bmtest::SubjectOf(*item.record));
    }
    return r;
}

// Runs the save in a child process and kills it after `delay`; true when
// it was killed before it ended.
bool SaveKilledAfter(const SavingSource& source, std::chrono::microseconds delay) {
    fs::create_directories(source.outputFile.parent_path());
    const pid_t child = ::fork();
    if (child == 0) {
        class Quiet : public SavingObserver {} observer;
        SavingRun run(observer, nullptr);
        run.SaveStore(source);
        ::_exit(0);
    }
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status);
}

TEST(SaveResume, ASaveKilledAtAnyMomentGoesOnToTheSameStoresAndTheSameAccount) {
    const fs::path dir = bmtest::ScratchDir("save-resume");
    const fs::path source = dir / "large.ost";
    bmtest::WriteInbox(source, 48, 40 * 1024);
    const auto started = std::chrono::steady_clock::now();
    const Result whole = SaveAndRead(SaveInto(source, dir / "whole" / "mail.pst"));
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    ASSERT_GE(whole.parts.size(), 3u) << "the save needs several parts to be cut off between them";
    EXPECT_FALSE(fs::exists(JournalPath(dir / "whole" / "mail.pst"))) << "a save that ended needs no journal";

    std::mt19937 random(20261211);
    std::uniform_int_distribution<std::int64_t> moment(0, took.count());
    int resumedAfterAPart = 0;
    for (int i = 0; i < 20; ++i) {
        const fs::path output = dir / ("killed " + std::to_string(i)) / "mail.pst";
        const SavingSource asked = SaveInto(source, output);
        if (!SaveKilledAfter(asked, std::chrono::microseconds(moment(random)))) continue;  // it ended first
        const fs::path journalPath = JournalPath(output);
        if (!fs::exists(journalPath)) {
            // Killed before its store was begun: nothing takes a store's
            // name. Or after its end (the report was being written): every
            // part has its name and is whole.
            if (fs::exists(output)) {
                for (const std::string& name : whole.names) {
                    EXPECT_TRUE(CheckStore(output.parent_path() / name).ok()) << "killed " << i << ": " << name;
                }
            }
            continue;
        }
        std::variant<SaveJournal, std::string> journal = ReadSaveJournal(journalPath);
        ASSERT_TRUE(std::holds_alternative<SaveJournal>(journal)) << std::get<std::string>(journal);
        SavingSource again = asked;
        again.resume = std::get<SaveJournal>(journal);
        again.resumedFrom = journalPath;
        if (!again.resume->parts.empty()) ++resumedAfterAPart;
        const Result resumed = SaveAndRead(again);
        EXPECT_EQ(resumed.parts, whole.parts) << "killed " << i;
        EXPECT_EQ(resumed.names, whole.names) << "killed " << i;
        EXPECT_EQ(resumed.account, whole.account) << "killed " << i;
        for (const auto& e : fs::directory_iterator(output.parent_path())) {
            const std::string name = e.path().filename().string();
            EXPECT_FALSE(name.ends_with(".partial") || name.ends_with(".journal")) << "killed " << i << ": " << name;
        }
    }
    EXPECT_GE(resumedAfterAPart, 5) << "too few of the kills came after a finished part";
}

TEST(SaveResume, AJournalIsTakenOnlyForItsOwnSourceAndWhatIsCutShortInItIsLeftOut) {
    const fs::path dir = bmtest::ScratchDir("save-resume-refused");
    const fs::path source = dir / "large.ost";
    bmtest::WriteInbox(source, 8, 0);
    const fs::path journalPath = dir / "mail.pst.journal";
    SaveJournal head;
    head.sourcePath = source.string();
    head.source = *IdentifySource(source);
    head.firstPart = dir / "mail.pst";
    head.timestamp = "1765400000";
    head.request = "a request\twith a tab, a % and\na line break";
    {
        std::string error;
        std::unique_ptr<SaveJournalWriter> writer = SaveJournalWriter::Open(journalPath, head, false, error);
        ASSERT_TRUE(writer) << error;
        EXPECT_TRUE(writer->AddPart({12, dir / "mail.pst"}));
        EXPECT_TRUE(writer->AddPart({30, dir / "mail (part 2).pst"}));
        std::string again;
        EXPECT_FALSE(SaveJournalWriter::Open(journalPath, head, false, again)) << "a journal is never replaced";
    }
    // A record the run was writing when it died: cut short, or with a CRC
    // that does not match.
    const std::string tails[] = {"part 41 /x (part 3).p", "part 41 /x (part 3).pst\t00000000\n"};
    for (const std::string& tail : tails) {
        const fs::path damaged = dir / ("damaged " + std::to_string(tail.size()) + ".journal");
        fs::copy_file(journalPath, damaged, fs::copy_options::overwrite_existing);
        std::ofstream(damaged, std::ios::app) << tail;
        const std::variant<SaveJournal, std::string> read = ReadSaveJournal(damaged);
        ASSERT_TRUE(std::holds_alternative<SaveJournal>(read)) << std::get<std::string>(read);
        const SaveJournal& j = std::get<SaveJournal>(read);
        EXPECT_EQ(j.request, head.request);
        EXPECT_EQ(j.source, head.source);
        ASSERT_EQ(j.parts.size(), 2u) << tail;
        EXPECT_EQ(j.parts[1].itemsThrough, 30u);
        EXPECT_EQ(j.parts[1].path, dir / "mail (part 2).pst");
    }
    {
        std::ofstream(dir / "other.journal") << "not a journal\n";
        EXPECT_TRUE(std::holds_alternative<std::string>(ReadSaveJournal(dir / "other.journal")));
    }
    // The source changed since: refused, and nothing is written.
    bmtest::WriteInbox(source, 9, 0);
    SavingSource again = SaveInto(source, dir / "mail.pst");
    again.resume = std::get<SaveJournal>(ReadSaveJournal(journalPath));
    class Quiet : public SavingObserver {} observer;
    SavingRun run(observer, nullptr);
    EXPECT_EQ(run.SaveStore(again), AnalysisOutcome::Failed);
    EXPECT_NE(run.message().find(kSourceChangedSinceCut), std::string::npos) << run.message();
    EXPECT_FALSE(fs::exists(dir / "mail.pst.partial"));
    EXPECT_TRUE(fs::exists(journalPath)) << "the journal of a refused resume is left for the user";
}

}  // namespace
}  // namespace bm
