// brightmend-cli save run as a program: a whole store saved into a new
// .pst, the output checked by the store checker and analysed again, read
// back by pypff and readpst like the source, and a save without a selection
// refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/engine_test_helpers.h"
#include "engine/saving_selection.h"
#include "output/store_checker.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct SaveCliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs the program with its settings and data in a scratch directory.
SaveCliResult RunSaveCli(const std::vector<std::string>& args, const fs::path& home) {
    const fs::path out = home / "stdout.txt";
    const fs::path err = home / "stderr.txt";
    std::string command = "BRIGHTMEND_CONFIG=" + ShellQuote((home / "brightmend.conf").string()) +
                          " XDG_DATA_HOME=" + ShellQuote((home / "data").string()) + " " + ShellQuote(BRIGHTMEND_CLI);
    for (const std::string& a : args) command += " " + ShellQuote(a);
    command += " >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string()) + " </dev/null";
    const int status = std::system(command.c_str());
    SaveCliResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = bmtest::ReadTextFile(out);
    r.err = bmtest::ReadTextFile(err);
    return r;
}

// Every item an analysis found: the mail of every mail folder and the
// other kinds.
long ItemsOf(const json& analysis) {
    long n = 0;
    for (const json& f : analysis["mailFolders"]) n += f["messageCount"].get<long>();
    for (const char* kind : {"contacts", "tasks", "notes", "journal", "calendar"}) n += analysis[kind].get<long>();
    return n;
}

TEST(CliSave, WithoutASelectionItFailsWithTheToolsMessage) {
    const fs::path home = bmtest::ScratchDir("cli-save-none");
    // Refused before the store is read, so any existing file serves.
    const fs::path store = home / "any.ost";
    std::ofstream(store) << "not read";
    const SaveCliResult r = RunSaveCli({"-q", "save", store.string(), "--to", home.string()}, home);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(std::string(kSelectAnyFolder)), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(home / "Repair"));
}

// Saves every folder of `store` and checks the output store.
void ExpectCleanSaveOfEveryItem(const fs::path& store, const fs::path& home) {
    const SaveCliResult source = RunSaveCli({"-q", "analyze", "--json", store.string()}, home);
    ASSERT_EQ(source.exitCode, 0) << source.err;

    const SaveCliResult r = RunSaveCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "completed");
    EXPECT_EQ(j["message"], "Saving completed successfully");
    EXPECT_EQ(j["failedItems"], 0);
    ASSERT_EQ(j["outputStores"].size(), 1u);
    const fs::path output = j["outputStores"][0].get<std::string>();
    EXPECT_EQ(output.parent_path(), home / "Repair");
    ASSERT_TRUE(fs::exists(output));

    const CheckReport report = CheckStore(output);
    for (const Finding& f : report.findings) ADD_FAILURE() << FormatFinding(f);
    EXPECT_EQ(report.errorCount(), 0u);

    const SaveCliResult again = RunSaveCli({"-q", "analyze", "--json", output.string()}, home);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    const json before = json::parse(source.out);
    const json after = json::parse(again.out);
    EXPECT_GT(ItemsOf(before), 0);
    EXPECT_EQ(ItemsOf(after), ItemsOf(before)) << "source " << before.dump() << "\noutput " << after.dump();

    const std::string log = bmtest::ReadTextFile(home / "data" / "brightmend" / "Activity Log.txt");
    EXPECT_NE(log.find("Step3: Saving OST File"), std::string::npos);
    EXPECT_NE(log.find("Saving completed successfully"), std::string::npos);
}

TEST(CliCheck, AFileThatIsNoStoreFailsWithItsFindings) {
    const fs::path home = bmtest::ScratchDir("cli-check-garbage");
    const fs::path file = home / "garbage.pst";
    std::ofstream(file) << std::string(8192, 'x');
    const SaveCliResult r = RunSaveCli({"check", "--json", file.string()}, home);
    EXPECT_EQ(r.exitCode, 1);
    const json j = json::parse(r.out);
    EXPECT_EQ(j["verdict"], "damaged");
    EXPECT_GT(j["errors"].get<int>(), 0);
    EXPECT_FALSE(j["findings"].empty());
}

TEST(CliCheck, ALayoutTheCheckerCannotVerifyIsNoPass) {
    BM_REQUIRE_STORE(store, "4k-sample.ost");
    const fs::path home = bmtest::ScratchDir("cli-check-4k");
    const SaveCliResult r = RunSaveCli({"check", store.string()}, home);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("not checked"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("format version 36 is not checked"), std::string::npos) << r.err;
}

TEST(CliSave, SaveAllOfTheDemoStoreGivesACleanStoreWithEveryItem) {
    const fs::path home = bmtest::ScratchDir("cli-save-demo");
    const fs::path store = home / "outlook.ost";
    const std::string make = ShellQuote(BRIGHTMEND_MAKE_DEMO_STORE) + " " + ShellQuote(store.string()) + " >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    ExpectCleanSaveOfEveryItem(store, home);
}

// Saves every folder, checks the output with `brightmend-cli check` and
// has tools/compare_saved_store.py read source and output with pypff and
// readpst; skipped when those readers are missing.
void ExpectReadBackLikeTheSource(const fs::path& store, const fs::path& home) {
    const SaveCliResult r = RunSaveCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "completed");
    EXPECT_EQ(j["failedItems"], 0);
    ASSERT_EQ(j["outputStores"].size(), 1u);
    const std::string output = j["outputStores"][0].get<std::string>();

    const SaveCliResult check = RunSaveCli({"check", output}, home);
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find(": 0 error(s)"), std::string::npos) << check.out;

    const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const fs::path report = home / "compare.txt";
    const std::string command = python + " " + ShellQuote(BRIGHTMEND_SOURCE_DIR "/tools/compare_saved_store.py") +
                                " " + ShellQuote(store.string()) + " " + ShellQuote(output) + " >" +
                                ShellQuote(report.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::string text = bmtest::ReadTextFile(report);
    if (code == 77) GTEST_SKIP() << text;
    EXPECT_EQ(code, 0) << text;
    EXPECT_NE(text.find("pypff: ok"), std::string::npos) << text;
    EXPECT_NE(text.find("readpst: ok"), std::string::npos) << text;
}

class CliSaveReadBack : public ::testing::TestWithParam<const char*> {};

TEST_P(CliSaveReadBack, SaveAllReadsBackWithTheSourcesFoldersItemsSubjectsAndAttachments) {
    BM_REQUIRE_STORE(store, GetParam());
    std::string name = GetParam();
    std::replace(name.begin(), name.end(), '.', '-');
    ExpectReadBackLikeTheSource(store, bmtest::ScratchDir("cli-save-readback-" + name));
}

INSTANTIATE_TEST_SUITE_P(SharedStores, CliSaveReadBack,
                         ::testing::Values("ansi-sample.pst", "unicode-sample.pst", "unicode-submessage.pst",
                                           "unicode-dist-list.pst", "unicode-enron.pst", "unicode-sample.ost",
                                           "4k-sample.ost"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

TEST(CliSave, SaveAllOfTheDemoStoreReadsBackLikeTheSource) {
    const fs::path home = bmtest::ScratchDir("cli-save-demo-readback");
    const fs::path store = home / "outlook.ost";
    const std::string make = ShellQuote(BRIGHTMEND_MAKE_DEMO_STORE) + " " + ShellQuote(store.string()) + " >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    ExpectReadBackLikeTheSource(store, home);
}

TEST(CliSave, SaveAllOfASharedStoreGivesACleanStoreWithEveryItem) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    ExpectCleanSaveOfEveryItem(store, bmtest::ScratchDir("cli-save-all"));
}

}  // namespace
}  // namespace bm
