// The store-file search: which names are found, in which order, stop, and
// the size and time texts of the result list.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/file_finder.h"
#include "engine_test_helpers.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using bmtest::WriteTextFile;

std::vector<std::string> Search(const fs::path& dir, bool subdirs) {
    CFileFinder finder;
    FileFinderOptions options;
    options.baseDirectory = dir;
    options.searchSubdirectories = subdirs;
    finder.FindFiles(options);
    return finder.found();
}

TEST(FileFinderNames, NamesContainingDotOstAreFoundInAnyCase) {
    const fs::path dir = bmtest::ScratchDir("finder-names");
    for (const char* name : {"outlook.ost", "OUTLOOK.OST", "copy.ost.bak", "x.ostx", "outlook.pst", "ost", "a.os"})
        WriteTextFile(dir / name, "x");
    const std::string base = dir.string() + "/";
    EXPECT_EQ(Search(dir, true), (std::vector<std::string>{base + "OUTLOOK.OST", base + "copy.ost.bak",
                                                            base + "outlook.ost", base + "x.ostx"}));
}

TEST(FileFinderNames, ThePatternIsWidenedAndMatchedWithoutCase) {
    EXPECT_EQ(WidenNamePattern("*.ost"), "**.ost*");
    EXPECT_TRUE(MatchesNamePattern("**.ost*", "Mailbox.OsT"));
    EXPECT_FALSE(MatchesNamePattern("**.ost*", "mailbox.pst"));
}

TEST(FileFinderOrder, SubdirectoriesAreSearchedFirstDepthFirst) {
    const fs::path dir = bmtest::ScratchDir("finder-order");
    fs::create_directories(dir / "a" / "deep");
    fs::create_directories(dir / "b");
    WriteTextFile(dir / "top.ost", "x");
    WriteTextFile(dir / "a" / "a.ost", "x");
    WriteTextFile(dir / "a" / "deep" / "d.ost", "x");
    WriteTextFile(dir / "b" / "b.ost", "x");
    CFileFinder finder;
    std::vector<std::string> directories;
    FileFinderOptions options;
    options.baseDirectory = dir;
    finder.FindFiles(options, [&](std::size_t, const std::string& d) { directories.push_back(d); });
    const std::string base = dir.string() + "/";
    EXPECT_EQ(finder.found(), (std::vector<std::string>{base + "a/deep/d.ost", base + "a/a.ost", base + "b/b.ost",
                                                         base + "top.ost"}));
    EXPECT_EQ(directories, (std::vector<std::string>{base + "a/deep/", base + "a/", base + "b/", base}));
}

TEST(FileFinderOrder, WithoutSubdirectoriesOnlyTheDirectoryItselfIsSearched) {
    const fs::path dir = bmtest::ScratchDir("finder-flat");
    fs::create_directories(dir / "sub");
    WriteTextFile(dir / "sub" / "inner.ost", "x");
    WriteTextFile(dir / "outer.ost", "x");
    EXPECT_EQ(Search(dir, false), std::vector<std::string>{dir.string() + "/outer.ost"});
}

TEST(FileFinderOrder, AMatchingDirectoryIsListedWithATrailingSlashAndLinksAreNotFollowed) {
    const fs::path dir = bmtest::ScratchDir("finder-dirs");
    fs::create_directories(dir / "store.ost.d");
    fs::create_directory_symlink(dir, dir / "loop");
    const std::vector<std::string> found = Search(dir, true);
    EXPECT_EQ(found, std::vector<std::string>{dir.string() + "/store.ost.d/"});
}

TEST(FileFinderStop, AStopRequestEndsTheSearchAfterTheEntryAtHand) {
    const fs::path dir = bmtest::ScratchDir("finder-stop");
    for (int i = 0; i < 5; ++i) WriteTextFile(dir / ("f" + std::to_string(i) + ".ost"), "x");
    CFileFinder finder;
    FileFinderOptions options;
    options.baseDirectory = dir;
    const std::size_t n = finder.FindFiles(options, {}, [&](const std::string&) { finder.StopSearch(); });
    EXPECT_EQ(n, 1u);
    // A new search starts without the old request.
    EXPECT_EQ(finder.FindFiles(options), 5u);
}

TEST(FileFinderStop, AnUnreadableDirectoryIsPassedOverSilently) {
    EXPECT_TRUE(Search("/nonexistent/brightmend/dir", true).empty());
}

TEST(FileFinderTexts, SizesBelowTenKilobytesAreShownInBytes) {
    EXPECT_EQ(FileSizeText(0), "0 B");
    EXPECT_EQ(FileSizeText(10239), "10239 B");
    EXPECT_EQ(FileSizeText(10240), "10 KB");
    EXPECT_EQ(FileSizeText(1048576), "1024 KB");
    EXPECT_EQ(FileSizeText(5ull << 32), "20971520 KB");  // the full 64-bit length
}

TEST(FileFinderTexts, TheModifiedTimeIsUtcWithTwelveHourClock) {
    EXPECT_EQ(FileTimeText(0), "01-01-1970 12:00 AM");
    EXPECT_EQ(FileTimeText(1700000000), "14-11-2023 10:13 PM");
}

TEST(FileFinderTexts, ARowHoldsNameFullPathSizeAndTime) {
    const fs::path dir = bmtest::ScratchDir("finder-row");
    const fs::path file = dir / "mail.ost";
    WriteTextFile(file, std::string(10240, 'z'));
    const timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    const FoundFileRow row = DescribeFoundFile(file.string());
    EXPECT_EQ(row.name, "mail.ost");
    EXPECT_EQ(row.inFolder, file.string());
    EXPECT_EQ(row.size, "10 KB");
    EXPECT_EQ(row.modified, "14-11-2023 10:13 PM");
}

}  // namespace
}  // namespace bm
