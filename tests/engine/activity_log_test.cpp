// The activity log: where it lives, how entries are written, the size
// reset, the line limit, and appends from many threads at once.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/activity_log.h"
#include "engine/log_texts.h"
#include "engine/well_known_counts.h"
#include "engine_test_helpers.h"
#include "support/calendar_time.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using bmtest::ReadTextFile;
using bmtest::WriteTextFile;

struct LogFixture {
    explicit LogFixture(const std::string& name)
        : dir(bmtest::ScratchDir(name)), settings(dir / "brightmend.conf"), log(settings, dir / "app") {
        fs::create_directories(dir / "app");
    }
    fs::path dir;
    Settings settings;
    ActivityLog log;
};

TEST(ActivityLogLocation, WithoutLogPathTheLogLivesInTheApplicationDirectory) {
    LogFixture f("log-default");
    EXPECT_EQ(f.log.PathOf(LogChannel::ActivityLog), f.dir / "app" / "Activity Log.txt");
    EXPECT_EQ(f.log.PathOf(LogChannel::RecoveryLog), f.dir / "app" / "Recovery Log.txt");
    ASSERT_EQ(f.log.Append("hello"), 1);
    EXPECT_EQ(ReadTextFile(f.dir / "app" / "Activity Log.txt"), "\r\nhello");
}

TEST(ActivityLogLocation, LogPathIsUsedWhenItExistsAndFallsBackWhenItDisappears) {
    LogFixture f("log-logpath");
    fs::create_directories(f.dir / "logs");
    f.settings.SetValue(kSettingLogPath, (f.dir / "logs").string());
    f.settings.SetValue(kSettingRecoveryLog, (f.dir / "missing").string());
    EXPECT_EQ(f.log.PathOf(LogChannel::ActivityLog), f.dir / "logs" / "Activity Log.txt");
    EXPECT_EQ(f.log.PathOf(LogChannel::RecoveryLog), f.dir / "app" / "Recovery Log.txt");
    fs::remove_all(f.dir / "logs");
    EXPECT_EQ(f.log.PathOf(LogChannel::ActivityLog), f.dir / "app" / "Activity Log.txt");
}

TEST(ActivityLogEntries, EachEntryIsALineBreakFollowedByItsText) {
    LogFixture f("log-format");
    f.log.Append("one");
    f.log.Append(kLogLineBreak);
    f.log.Append("two");
    EXPECT_EQ(ReadTextFile(f.log.PathOf(LogChannel::ActivityLog)), "\r\none\r\n\r\n\r\ntwo");
}

TEST(ActivityLogEntries, AnEntryOf299BytesIsWrittenWholeAndLongerOnesAreCutWithAMark) {
    LogFixture f("log-limit");
    const std::string exact(kLogLineLimit, 'a');
    f.log.Append(exact);
    // A cut entry ends in "…" (three bytes) and stays within the limit.
    const std::string mark = "\xE2\x80\xA6";
    f.log.Append(std::string(kLogLineLimit + 50, 'b'));
    // A cut never splits a character: "é" is two bytes and would straddle the cut.
    f.log.Append(std::string(kLogLineLimit - 4, 'c') + "\xC3\xA9" + "dddd");
    EXPECT_EQ(ReadTextFile(f.log.PathOf(LogChannel::ActivityLog)),
              "\r\n" + exact + "\r\n" + std::string(kLogLineLimit - 3, 'b') + mark + "\r\n" +
                  std::string(kLogLineLimit - 4, 'c') + mark);
}

TEST(ActivityLogReset, ALogOfExactlyFiveMegabytesIsAppendedToAndOneByteMoreStartsAfresh) {
    LogFixture f("log-reset");
    const fs::path path = f.log.PathOf(LogChannel::ActivityLog);
    WriteTextFile(path, std::string(kLogResetSize, 'x'));
    ASSERT_EQ(f.log.Append("kept"), 1);
    EXPECT_EQ(fs::file_size(path), kLogResetSize + 6);
    ASSERT_EQ(f.log.Append("fresh"), 1);
    EXPECT_EQ(ReadTextFile(path), "\r\nfresh");
}

TEST(ActivityLogReset, AReadOnlyLogIsMadeWritableAndAppendedTo) {
    LogFixture f("log-readonly");
    const fs::path path = f.log.PathOf(LogChannel::ActivityLog);
    WriteTextFile(path, "\r\nold");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read, fs::perm_options::replace);
    ASSERT_EQ(f.log.Append("new"), 1);
    EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_EQ(ReadTextFile(path), "\r\nold\r\nnew");
}

TEST(ActivityLogFailures, AnUnwritableLocationReturnsZero) {
    LogFixture f("log-unwritable");
    ActivityLog nowhere(f.settings, f.dir / "no" / "such" / "dir");
    EXPECT_EQ(nowhere.Append("lost"), 0);
}

TEST(ActivityLogConcurrency, EntriesFromEightThreadsAreAllWrittenWhole) {
    LogFixture f("log-threads");
    constexpr int kThreads = 8;
    constexpr int kEntries = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEntries; ++i) f.log.Append("thread " + std::to_string(t) + " entry " + std::to_string(i));
        });
    for (auto& th : threads) th.join();
    const std::string text = ReadTextFile(f.log.PathOf(LogChannel::ActivityLog));
    std::set<std::string> entries;
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        ASSERT_EQ(text.compare(at, 2, "\r\n"), 0) << "entry not introduced by a line break at " << at;
        const std::size_t next = text.find("\r\n", at + 2);
        entries.insert(text.substr(at + 2, (next == std::string::npos ? text.size() : next) - at - 2));
        ++count;
        at = next == std::string::npos ? text.size() : next;
    }
    EXPECT_EQ(count, static_cast<std::size_t>(kThreads * kEntries));
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kEntries; ++i)
            EXPECT_EQ(entries.count("thread " + std::to_string(t) + " entry " + std::to_string(i)), 1u) << t << " " << i;
}

TEST(ActivityLogClear, ClearingDeletesTheLogEvenWhenReadOnly) {
    LogFixture f("log-clear");
    f.log.Append("entry");
    const fs::path path = f.log.PathOf(LogChannel::ActivityLog);
    fs::permissions(path, fs::perms::owner_read, fs::perm_options::replace);
    EXPECT_TRUE(f.log.ClearActivityLog());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(f.log.ClearActivityLog());  // nothing left to delete
}

TEST(ActivityLogEntries, TheStartBannerHasItsFiveEntriesAndAnUnpaddedDate) {
    LogFixture f("log-banner");
    f.log.WriteStartBanner(bmtest::CalendarTime(2024, 3, 5, 7, 4, 9));
    EXPECT_EQ(ReadTextFile(f.log.PathOf(LogChannel::ActivityLog)),
              "\r\n*******************************START LOG FILE *******************************"
              "\r\nBrightmend\r\nVersion 12.0\r\n5-3-2024 7:4:9\r\n\r\n");
}

TEST(ActivityLogEntries, RunEntriesAreWrittenInTheirOrder) {
    LogFixture f("log-runs");
    LogSourceChosen(f.log, "/data/OUTLOOK.OST");
    LogAnalysisStart(f.log);
    LogSavingStart(f.log, "/out");
    LogSavingEnd(f.log, "Inbox    1\r\n", kLogSavingAborted);
    LogSearchStarted(f.log, "/home");
    EXPECT_EQ(ReadTextFile(f.log.PathOf(LogChannel::ActivityLog)),
              "\r\n\r\n\r\nStep1:\r\nSelect Source Path: /data/OUTLOOK.OST"
              "\r\n\r\n\r\nStep2: Analysis OST File"
              "\r\n\r\n\r\nStep3: Saving OST File\r\nTarget Path: /out"
              "\r\nInbox    1\r\n\r\nSaving aborted"
              "\r\n\r\n\r\nClick the Search button for the Searching *.OST file\r\n/home");
}

TEST(AnalysisSummary, TwelveLinesInTheSummaryOrderWithTheirLabels) {
    WellKnownCounts c;
    for (std::size_t i = 0; i < kWellKnownCategoryCount; ++i) c.values[i] = static_cast<std::int32_t>(i + 1);
    EXPECT_EQ(FormatSummary(c),
              "Deleted Items    5\r\nInbox    1\r\nOutbox    2\r\nJournal    10\r\nTasks    6\r\nDrafts    3\r\n"
              "Contacts Items    7\r\nNotes    9\r\nCalendar    11\r\nJunk E-mails    8\r\nSent Items    4\r\n"
              "Sync Issues    12\r\n");
    c.values.fill(2147483647);
    EXPECT_LT(FormatSummary(c).size(), kLogLineLimit);
}

}  // namespace
}  // namespace bm
