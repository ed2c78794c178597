// Selection rules, destination, mail-client check, status values and the
// stop rule of the saving run.
#include <gtest/gtest.h>

#include <fstream>

#include "engine/saving_selection.h"
#include "engine/saving_status.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kFolders = {"Personal Folders\\", "Personal Folders\\Inbox\\",
                                           "Personal Folders\\Inbox\\Sub\\", "Personal Folders\\Inbox\\Sub\\Deep\\",
                                           "Personal Folders\\Inbox2\\", "Personal Folders\\Contacts\\"};

TEST(FolderSelection, OnlyTheWholePathSelectsAFolderNotItsChildren) {
    SelectedFolders s;
    s.Select("Personal Folders\\Inbox\\");
    EXPECT_TRUE(s.IsSelected("Personal Folders\\Inbox\\"));
    EXPECT_FALSE(s.IsSelected("Personal Folders\\Inbox\\Sub\\"));
    EXPECT_FALSE(s.IsSelected("Personal Folders\\inbox\\")) << "case-sensitive";
    EXPECT_FALSE(s.IsSelected("Personal Folders\\Inbox"));
}

TEST(FolderSelection, APathWithoutTheFinalBackslashSelectsTheSameFolder) {
    SelectedFolders s;
    s.Select("Personal Folders\\Inbox");
    s.Select("Personal Folders\\Inbox\\");
    EXPECT_TRUE(s.IsSelected("Personal Folders\\Inbox\\"));
    EXPECT_EQ(s.paths().size(), 1u);
}

TEST(FolderSelection, TreeSelectsTheFolderAndEveryFolderBelowButNotItsNamesakes) {
    SelectedFolders s;
    s.SelectTree("Personal Folders\\Inbox", kFolders);
    EXPECT_EQ(s.paths(), (std::vector<std::string>{"Personal Folders\\Inbox\\", "Personal Folders\\Inbox\\Sub\\",
                                                   "Personal Folders\\Inbox\\Sub\\Deep\\"}));
    EXPECT_FALSE(s.IsSelected("Personal Folders\\Inbox2\\"));
}

TEST(FolderSelection, AllSelectsEveryFolderInTreeOrder) {
    SelectedFolders s;
    EXPECT_TRUE(s.empty());
    s.SelectAll(kFolders);
    EXPECT_EQ(s.paths(), kFolders);
    s.Clear();
    EXPECT_TRUE(s.empty());
    EXPECT_FALSE(s.IsSelected("Personal Folders\\"));
}

TEST(SaveDestination, RepairIsAppendedWithOneSeparatorWithOrWithoutAFinalOne) {
    EXPECT_EQ(MakeSaveDestination("/data/out"), fs::path("/data/out/Repair"));
    EXPECT_EQ(MakeSaveDestination("/data/out/"), fs::path("/data/out/Repair"));
    EXPECT_EQ(MakeSaveDestination("/"), fs::path("/Repair"));
}

TEST(MailClientCheck, PassesWithoutTheCheckProgram) {
    EXPECT_EQ(CheckMailClient(bmtest::ScratchDir("no-ostvine")), MailClientCheck::Passed);
}

TEST(MailClientCheck, ExitCodeZeroMeansNoMailClientAndAnyOtherPasses) {
    const fs::path dir = bmtest::ScratchDir("ostvine");
    const fs::path program = dir / kMailClientCheckProgram;
    const auto write = [&](const std::string& body) {
        std::ofstream(program) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(program, fs::perms::owner_all);
    };
    write("exit 0");
    EXPECT_EQ(CheckMailClient(dir), MailClientCheck::Missing);
    write("exit 1");
    EXPECT_EQ(CheckMailClient(dir), MailClientCheck::Passed);
    write("[ \"$1\" = \"\" ] && exit 0; exit 3");  // the empty second argument arrives
    EXPECT_EQ(CheckMailClient(dir), MailClientCheck::Missing);
    fs::permissions(program, fs::perms::owner_read);
    EXPECT_EQ(CheckMailClient(dir), MailClientCheck::Passed) << "a program that cannot start passes";
}

TEST(SavingStopRule, AfterACompleteAnalysisTheWalkGoesToTheEnd) {
    WellKnownCounts saved, analysis;
    saved[WellKnownCategory::Inbox] = 10;
    EXPECT_TRUE(SavingWalkMayGoOn(false, saved, analysis));
}

TEST(SavingStopRule, AfterAStoppedAnalysisTheWalkEndsOnceEveryCategoryReachedItsCount) {
    WellKnownCounts saved, analysis;
    analysis[WellKnownCategory::Inbox] = 2;
    analysis[WellKnownCategory::Contacts] = 1;
    saved[WellKnownCategory::Inbox] = 2;
    EXPECT_TRUE(SavingWalkMayGoOn(true, saved, analysis));
    saved[WellKnownCategory::Contacts] = 1;
    EXPECT_FALSE(SavingWalkMayGoOn(true, saved, analysis));
}

TEST(SavingStatusValues, EachValueIsReplacedWholeAndTheCountIsDecimalText) {
    SavingStatus status;
    status.SetFolder("Personal Folders\\Inbox\\");
    status.SetCount(1234);
    status.SetTotal(97);
    status.SetPosition(12);
    status.SetOutputPath("/out/Repair/a.pst");
    const SavingStatusValues v = status.Snapshot();
    EXPECT_EQ(v.statusFolderText, "Personal Folders\\Inbox\\");
    EXPECT_EQ(v.statusCountText, "1234");
    EXPECT_EQ(v.savingTotal, 97);
    EXPECT_EQ(v.savingPos, 12);
    EXPECT_EQ(v.outputPath, fs::path("/out/Repair/a.pst"));
    status.Reset();
    EXPECT_TRUE(status.Snapshot().statusCountText.empty());
    EXPECT_EQ(SavingOutcomeText(false), "Saving completed successfully");
    EXPECT_EQ(SavingOutcomeText(true), "Saving aborted");
}

}  // namespace
}  // namespace bm
