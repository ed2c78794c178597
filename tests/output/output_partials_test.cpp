// How the writer names what it writes: a store is written as
// "<name>.partial" and gets its name only once it is finished, a left-over
// ".partial" keeps its name from being taken, and the private folders that
// killed runs of earlier versions left in the temporary directory go at the
// next start.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/engine_test_helpers.h"
#include "output/save_to_pst.h"
#include "support/calendar_time.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

// Every store of these tests is made at midnight, 3 January 2026.
SaveOptions OptionsIn(const fs::path& dir) {
    SaveOptions o;
    o.sourceFileName = "outlook.ost";
    o.defaultDirectory = dir;
    o.tempDirectory = dir / "tmp";
    o.localClock = [] { return bmtest::CalendarTime(2026, 1, 3); };
    return o;
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

TEST(OutputPartials, AStoreHasItsNameOnlyOnceItIsFinished) {
    for (const bool afterCheck : {false, true}) {
        SCOPED_TRACE(afterCheck ? "named by the caller" : "named by Finish");
        const fs::path dir = bmtest::ScratchDir(afterCheck ? "partials-after-check" : "partials-finish");
        SaveOptions options = OptionsIn(dir);
        options.publishAfterCheck = afterCheck;
        USave_to_PST_Format writer(options);
        ASSERT_EQ(writer.CreateOutputStore({}), std::nullopt);
        const fs::path name = dir / "outlook3-1-2026 0-0-0.pst";
        EXPECT_EQ(writer.outputStorePath(), name);
        StoreFile none;
        SinkFolder inbox;
        inbox.name = "Inbox";
        writer.OpenFolder(inbox, none);
        // While it is written, a kill would leave only the ".partial".
        EXPECT_FALSE(Exists(name));
        EXPECT_TRUE(Exists(PartialPath(name)));
        writer.Finish();
        if (afterCheck) {
            EXPECT_FALSE(Exists(name));
            EXPECT_EQ(writer.partPath(0), PartialPath(name));
            EXPECT_EQ(writer.PublishPart(0), "");
        }
        EXPECT_TRUE(Exists(name));
        EXPECT_FALSE(Exists(PartialPath(name)));
        EXPECT_EQ(writer.partPath(0), name);
    }
}

TEST(OutputPartials, ALeftOverPartialKeepsItsNameFromBeingTaken) {
    const fs::path dir = bmtest::ScratchDir("partials-left-over");
    const fs::path name = dir / "outlook3-1-2026 0-0-0.pst";
    { std::ofstream(PartialPath(name)) << "a store a killed run was writing"; }
    USave_to_PST_Format writer(OptionsIn(dir));
    ASSERT_EQ(writer.CreateOutputStore({}), std::nullopt);
    EXPECT_EQ(writer.outputStorePath(), dir / "outlook3-1-2026 0-0-0 (2).pst");
    writer.Finish();
    EXPECT_FALSE(Exists(name));
    EXPECT_EQ(bmtest::ReadTextFile(PartialPath(name)), "a store a killed run was writing");

    // A name chosen for the output is refused while its ".partial" is there.
    SaveOptions chosen = OptionsIn(dir);
    chosen.outputFile = name;
    USave_to_PST_Format refused(chosen);
    const std::optional<std::string> error = refused.CreateOutputStore({});
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find(std::string(kOutputFileExists)), std::string::npos) << *error;
    EXPECT_FALSE(Exists(name));
}

// A process id that is certainly gone: a child that has ended and been
// waited for.
pid_t GonePid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(OutputTempFolders, TheFoldersOfRunsThatAreGoneAreRemovedAtStart) {
    const fs::path dir = bmtest::ScratchDir("temp-folders-stale");
    const fs::path tmp = dir / "tmp";
    const fs::path gone = tmp / (std::string(kSaveDirectoryPrefix) + std::to_string(GonePid()) + "-a1b2c3");
    const fs::path running = tmp / (std::string(kSaveDirectoryPrefix) + std::to_string(::getpid()) + "-d4e5f6");
    const fs::path other = tmp / (std::string(kSaveDirectoryPrefix) + "notes");
    for (const fs::path& p : {gone, running, other}) {
        fs::create_directories(p);
        std::ofstream(p / "Temp.eml") << "From:x\r\n";
    }
    USave_to_PST_Format writer(OptionsIn(dir));
    ASSERT_EQ(writer.CreateOutputStore({}), std::nullopt);
    EXPECT_FALSE(Exists(gone));
    EXPECT_TRUE(Exists(running)) << "a live process's folder stays";
    EXPECT_TRUE(Exists(other)) << "a folder of another pattern stays";
}

}  // namespace
}  // namespace bm
