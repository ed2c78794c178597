// The settings file, the application directory and its pages.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "engine/settings.h"
#include "engine/shipped_pages.h"
#include "engine_test_helpers.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

using bmtest::ReadTextFile;
using bmtest::WriteTextFile;

TEST(Settings, ValuesAreReadByNameAndAMissingValueIsEmpty) {
    const fs::path dir = bmtest::ScratchDir("settings-read");
    WriteTextFile(dir / "b.conf",
              "# comment\n[Brightmend]\nFilePath = /opt/bm \nLogPath=/var/log/bm\nRecovery Log=/tmp/r\n"
              "[Other]\nRPTFile=/not/ours\n");
    const Settings s(dir / "b.conf");
    EXPECT_EQ(s.Value(kSettingFilePath), "/opt/bm");
    EXPECT_EQ(s.Value(kSettingLogPath), "/var/log/bm");
    EXPECT_EQ(s.Value(kSettingRecoveryLog), "/tmp/r");
    EXPECT_EQ(s.Value(kSettingReportFile), "");  // only in another section
    EXPECT_EQ(s.Value(kSettingLanguageFile), "");
}

TEST(Settings, AMissingFileReadsAsEmptyAndSetValueCreatesIt) {
    const fs::path dir = bmtest::ScratchDir("settings-write");
    const fs::path file = dir / "sub" / "brightmend.conf";
    Settings s(file);
    EXPECT_EQ(s.Value(kSettingLogPath), "");
    ASSERT_TRUE(s.SetValue(kSettingLogPath, "/home/u/logs"));
    ASSERT_TRUE(s.SetValue(kSettingRecoveryLog, "/home/u/rec"));
    const Settings again(file);
    EXPECT_EQ(again.Value(kSettingLogPath), "/home/u/logs");
    EXPECT_EQ(again.Value(kSettingRecoveryLog), "/home/u/rec");
    EXPECT_NE(ReadTextFile(file).find("[Brightmend]"), std::string::npos);
}

TEST(Settings, TheEnvironmentNamesTheFile) {
    const fs::path dir = bmtest::ScratchDir("settings-env");
    {
        ScopedEnv config("BRIGHTMEND_CONFIG", (dir / "named.conf").string());
        EXPECT_EQ(Settings::DefaultFilePath(), dir / "named.conf");
    }
    ScopedEnv unsetConfig("BRIGHTMEND_CONFIG", "");
    ScopedEnv xdg("XDG_CONFIG_HOME", (dir / "xdg").string());
    EXPECT_EQ(Settings::DefaultFilePath(), dir / "xdg" / "brightmend" / "brightmend.conf");
}

TEST(AppDir, FilePathWinsOverTheDataDirectory) {
    const fs::path dir = bmtest::ScratchDir("appdir-resolve");
    ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    Settings s(dir / "c.conf");
    EXPECT_EQ(ResolveAppDir(s), dir / "data" / "brightmend");
    s.SetValue(kSettingFilePath, (dir / "install").string());
    EXPECT_EQ(ResolveAppDir(s), dir / "install");
}

TEST(AppDir, FirstStartCreatesTheDirectoryWithEveryPageAndKeepsExistingOnes) {
    const fs::path dir = bmtest::ScratchDir("appdir-pages") / "brightmend";
    ASSERT_TRUE(PrepareAppDir(dir));
    for (const ShippedPage& page : DefaultShippedPages()) {
        const fs::path p = dir / std::string(page.name);
        ASSERT_TRUE(fs::exists(p)) << page.name;
        EXPECT_EQ(ReadTextFile(p), page.content);
    }
    for (const std::string_view name : {kProgressPage, kCompletedPage, kAbortPage, kPreviewPage, kMessagePreviewPage})
        EXPECT_TRUE(fs::exists(dir / std::string(name))) << name;
    WriteTextFile(dir / std::string(kAbortPage), "mine");
    fs::remove(dir / std::string(kCompletedPage));
    ASSERT_TRUE(PrepareAppDir(dir));
    EXPECT_EQ(ReadTextFile(dir / std::string(kAbortPage)), "mine");
    EXPECT_TRUE(fs::exists(dir / std::string(kCompletedPage)));
}

TEST(AppDir, ANewerVersionReplacesItsUnchangedPagesAndKeepsEditedOnes) {
    const fs::path dir = bmtest::ScratchDir("appdir-upgrade") / "brightmend";
    const std::array<ShippedPage, 3> older{ShippedPage{kHelpPage, "help 1"}, ShippedPage{kAbortPage, "abort 1"},
                                           ShippedPage{kMessagePreviewPage, "scratch 1"}};
    const std::array<ShippedPage, 3> newer{ShippedPage{kHelpPage, "help 2"}, ShippedPage{kAbortPage, "abort 2"},
                                           ShippedPage{kMessagePreviewPage, "scratch 2"}};
    ASSERT_TRUE(PrepareAppDir(dir, older));
    WriteTextFile(dir / std::string(kAbortPage), "mine");
    WriteTextFile(dir / std::string(kMessagePreviewPage), "a mail shown last");
    ASSERT_TRUE(PrepareAppDir(dir, newer));
    EXPECT_EQ(ReadTextFile(dir / std::string(kHelpPage)), "help 2");
    EXPECT_EQ(ReadTextFile(dir / std::string(kAbortPage)), "mine");
    EXPECT_EQ(ReadTextFile(dir / std::string(kMessagePreviewPage)), "a mail shown last");
    // And once more: the replaced page is known as installed.
    const std::array<ShippedPage, 1> newest{ShippedPage{kHelpPage, "help 3"}};
    ASSERT_TRUE(PrepareAppDir(dir, newest));
    EXPECT_EQ(ReadTextFile(dir / std::string(kHelpPage)), "help 3");

    // Pages installed by a version that kept no list of them are taken as
    // that version's own.
    const fs::path old = bmtest::ScratchDir("appdir-upgrade-old") / "brightmend";
    fs::create_directories(old);
    WriteTextFile(old / std::string(kHelpPage), "help 0");
    ASSERT_TRUE(PrepareAppDir(old, newer));
    EXPECT_EQ(ReadTextFile(old / std::string(kHelpPage)), "help 2");
}

TEST(AppDir, ADirectoryThatCannotBeMadeIsReported) {
    const fs::path dir = bmtest::ScratchDir("appdir-blocked");
    WriteTextFile(dir / "file", "x");
    EXPECT_FALSE(PrepareAppDir(dir / "file" / "brightmend"));
}

}  // namespace
}  // namespace bm
