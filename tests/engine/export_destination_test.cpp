// The export's own folder is always a new one, and its account reads as
// the "brightmend.export/1" object.
#include "engine/export_destination.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

fs::path Made(const std::variant<fs::path, std::string>& result) {
    if (const auto* error = std::get_if<std::string>(&result)) {
        ADD_FAILURE() << *error;
        return {};
    }
    return std::get<fs::path>(result);
}

std::string Refused(const std::variant<fs::path, std::string>& result) {
    if (const auto* path = std::get_if<fs::path>(&result)) {
        ADD_FAILURE() << "made " << *path;
        return {};
    }
    return std::get<std::string>(result);
}

TEST(ExportDestination, AChosenDirectoryGetsANewFolderBelowExportNamedLikeTheSavedStore) {
    const fs::path dir = bmtest::ScratchDir("export-destination");
    const fs::path first = Made(CreateExportFolder(dir, "OUTLOOK.OST", "10-12-2026 16-5-3"));
    EXPECT_EQ(first, dir / "Export" / "OUTLOOK10-12-2026 16-5-3");
    EXPECT_TRUE(fs::is_directory(first));
    // The same second again: never the folder that is there.
    std::ofstream(first / "kept.eml") << "x";
    const fs::path second = Made(CreateExportFolder(dir, "OUTLOOK.OST", "10-12-2026 16-5-3"));
    EXPECT_EQ(second, dir / "Export" / "OUTLOOK10-12-2026 16-5-3 (2)");
    EXPECT_TRUE(fs::exists(first / "kept.eml"));
    // A file where the Export folder should be, and no directory at all.
    const fs::path blocked = bmtest::ScratchDir("export-destination-blocked");
    std::ofstream(blocked / "Export") << "x";
    EXPECT_NE(Refused(CreateExportFolder(blocked, "a.ost", "t")).find("no directory"), std::string::npos);
    EXPECT_NE(Refused(CreateExportFolder(blocked / "missing", "a.ost", "t")).find("no such directory"),
              std::string::npos);
}

TEST(ExportDestination, AFolderNamedOutrightMustNotExistInAnyForm) {
    const fs::path dir = bmtest::ScratchDir("export-named");
    fs::create_directory(dir / "there");
    std::ofstream(dir / "file") << "x";
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    for (const char* taken : {"there", "file", "dangling", "fifo"})
        EXPECT_NE(Refused(CreateNamedExportFolder(dir / taken)).find("exists"), std::string::npos) << taken;
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
    EXPECT_NE(Refused(CreateNamedExportFolder(dir / "no parent" / "out")).find("cannot create"), std::string::npos);
    EXPECT_EQ(Made(CreateNamedExportFolder(dir / "new")), dir / "new");
    EXPECT_TRUE(fs::is_directory(dir / "new"));
}

TEST(ExportDestination, TheAccountReadsAsTheExportSchemaWithEveryItemNotRecovered) {
    Reconciliation account;
    account.Found("Personal Folders\\Inbox\\", 0x200024);
    account.Found("Personal Folders\\Inbox\\", 0x200044);
    account.Read("Personal Folders\\Inbox\\");
    account.Saved("Personal Folders\\Inbox\\");
    account.Lost({0x200044, "Personal Folders\\Inbox\\", "Grüße", LossReason::WriteFailed, "no space left"});
    ReportHeader header;
    header.run = "export";
    header.source = "/data/outlook.ost";
    header.outcome = "partial";
    header.message = "Export completed; 1 item could not be exported";
    ExportSummary summary{"maildir", "/out/Export/outlook1", 1, 2, 3, 4, {"Contacts.vcf", "Calendar.ics"}};
    const auto j = nlohmann::json::parse(ExportJson(header, summary, account));
    EXPECT_EQ(j["schema"], "brightmend.export/1");
    EXPECT_EQ(j["format"], "maildir");
    EXPECT_EQ(j["outcome"], "partial");
    EXPECT_EQ(j["written"], (nlohmann::json{{"messages", 1}, {"contacts", 2}, {"calendarItems", 3}}));
    EXPECT_EQ(j["associatedLeftOut"], 4);
    EXPECT_EQ(j["cardAndCalendarFiles"], (nlohmann::json{"Contacts.vcf", "Calendar.ics"}));
    EXPECT_EQ(j["reconciliation"]["totals"]["saved"], 1);
    ASSERT_EQ(j["reconciliation"]["notRecovered"].size(), 1u);
    EXPECT_EQ(j["reconciliation"]["notRecovered"][0]["subject"], "Grüße");
    EXPECT_EQ(j["reconciliation"]["notRecovered"][0]["detail"], "no space left");
    for (const std::string_view f : kExportFormats) EXPECT_TRUE(IsExportFormat(f));
    EXPECT_FALSE(IsExportFormat("pst"));
}

}  // namespace
}  // namespace bm
