// brightmend-cli save run as a program: a whole store saved into a new
// .pst, the output checked by the store checker and analysed again, and a
// save without a selection refused.
#include <gtest/gtest.h>

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

TEST(CliSave, SaveAllOfTheDemoStoreGivesACleanStoreWithEveryItem) {
    const fs::path home = bmtest::ScratchDir("cli-save-demo");
    const fs::path store = home / "outlook.ost";
    const std::string make = ShellQuote(BRIGHTMEND_MAKE_DEMO_STORE) + " " + ShellQuote(store.string()) + " >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    ExpectCleanSaveOfEveryItem(store, home);
}

TEST(CliSave, SaveAllOfASharedStoreGivesACleanStoreWithEveryItem) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    ExpectCleanSaveOfEveryItem(store, bmtest::ScratchDir("cli-save-all"));
}

}  // namespace
}  // namespace bm
