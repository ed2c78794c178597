// Temporary files of the analysis and saving runs: an RTF body never goes
// through a file a planted link could redirect, and no brightmend folder is
// left in the temporary directory after a run, also after a stopped one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/analysis_run.h"
#include "engine/engine_test_helpers.h"
#include "engine/saving_run.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "check/store_checker.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

// Points TMPDIR at a folder of the test for its lifetime.
class TemporaryDirectoryOverride {
public:
    explicit TemporaryDirectoryOverride(const fs::path& dir) {
        if (const char* old = std::getenv("TMPDIR")) old_ = old;
        had_ = std::getenv("TMPDIR") != nullptr;
        fs::create_directories(dir);
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TemporaryDirectoryOverride() {
        if (had_) {
            ::setenv("TMPDIR", old_.c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

private:
    std::string old_;
    bool had_ = false;
};

std::vector<std::string> BrightmendEntries(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().starts_with("brightmend")) out.push_back(e.path().filename().string());
    return out;
}

// An Inbox of three mails whose bodies are RTF only, one with an attachment.
fs::path WriteRtfStore(const fs::path& dir) {
    const fs::path path = dir / "rtf-source.ost";
    auto store = pst::PstStore::Create(path, {});
    const auto inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    for (int i = 1; i <= 3; ++i) {
        pst::Message m = bmtest::MessageOf("IPM.Note", "rtf mail " + std::to_string(i));
        m.SetRtfBody("{\\rtf1\\ansi\\deff0 {\\fonttbl{\\f0 Arial;}}\\f0 Body number " + std::to_string(i) + "\\par}");
        if (i == 2) m.attachments.push_back(pst::Attachment::FromBytes("note.txt", {'x', 'y'}));
        store->AddMessage(inbox, m);
    }
    store->Finish();
    return path;
}

class CountingSavingObserver : public SavingObserver {
public:
    void OnFinished(const SavingFinish&) override { ++finishes; }
    int finishes = 0;
};

TEST(TemporaryFiles, APlantedLinkAtThePredictablePathIsNotFollowedAndNoTemporaryFolderIsLeft) {
    const fs::path dir = bmtest::ScratchDir("temp-files-link");
    const fs::path tmp = dir / "tmp";
    fs::remove_all(tmp);
    const TemporaryDirectoryOverride override(tmp);
    const fs::path store = WriteRtfStore(dir);

    // The folder and file name an older build wrote every RTF body to,
    // prepared by another user as a link to a file of the victim.
    const fs::path victim = dir / "victim.txt";
    bmtest::WriteTextFile(victim, "precious");
    const fs::path planted = tmp / ("brightmend-" + std::to_string(::getpid()));
    fs::create_directories(planted);
    fs::create_symlink(victim, planted / "temp.rtf");

    {
        AnalysisObserver observer;
        fs::create_directories(dir / "app");
        AnalysisRun run(observer, nullptr, dir / "app");
        ASSERT_EQ(bmtest::AnalyseToEnd(run, store), AnalysisOutcome::Completed);
        EXPECT_EQ(run.results().counts()[WellKnownCategory::Inbox], 3);
    }
    EXPECT_EQ(bmtest::ReadTextFile(victim), "precious");

    for (const bool stopEarly : {false, true}) {
        SCOPED_TRACE(stopEarly ? "stopped save" : "whole save");
        CountingSavingObserver observer;
        SavingRun run(observer, nullptr);
        SavingSource source;
        source.sourcePath = store.string();
        source.destination = dir / (stopEarly ? "Stopped" : "Repair");
        source.selected.SelectAll({"Personal Folders\\", "Personal Folders\\Inbox\\"});
        int seen = 0;
        source.beforeItemWrite = [&](USave_to_PST_Format&, const ItemRecord&) {
            if (stopEarly && ++seen == 2) run.Stop();
        };
        ASSERT_TRUE(run.Start(source));
        run.Wait();
        EXPECT_EQ(run.outcome(), stopEarly ? AnalysisOutcome::Aborted : AnalysisOutcome::Completed);
        ASSERT_EQ(run.outputStores().size(), 1u);
        EXPECT_EQ(CheckStore(run.outputStores()[0]).errorCount(), 0u);
        EXPECT_EQ(run.saved()[WellKnownCategory::Inbox], stopEarly ? 2 : 3);
    }
    EXPECT_EQ(bmtest::ReadTextFile(victim), "precious");
    EXPECT_TRUE(fs::is_symlink(planted / "temp.rtf"));

    // Only the planted folder remains; the runs left nothing of their own.
    fs::remove_all(planted);
    EXPECT_EQ(BrightmendEntries(tmp), std::vector<std::string>{});
}

}  // namespace
}  // namespace bm
