// brightmend-cli run as a program: exit codes, messages, progress, and the
// analyze/list results over the shared stores compared with what libpff
// (pypff) finds. The expected numbers are written by
// tools/expected_folder_counts.py into tests/cli/data/.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/analysis_run.h"
#include "engine/file_finder.h"
#include "engine/log_texts.h"
#include "cli/cli_runner.h"
#include "engine/engine_test_helpers.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using namespace bmtest::cli_names;

json LoadExpected(const std::string& store) {
    std::string name = store;
    for (char& c : name)
        if (c == '.') c = '_';
    std::ifstream in(std::string(BRIGHTMEND_CLI_DATA) + "/" + name + ".json");
    return in ? json::parse(in) : json();
}

TEST(CliBasics, VersionAndHelpSucceed) {
    const fs::path home = bmtest::ScratchDir("cli-version");
    const CliResult version = RunCli({"--version"}, home);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_NE(version.out.find("brightmend-cli "), std::string::npos);
    const CliResult help = RunCli({"--help"}, home);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"analyze", "list", "search", "info"}) EXPECT_NE(help.out.find(command), std::string::npos);
    // The exit codes are listed, each with its meaning.
    for (const char* code : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  130 "})
        EXPECT_NE(help.out.find(code), std::string::npos) << code;
}

TEST(CliBasics, UsageErrorsFailWithAMessage) {
    const fs::path home = bmtest::ScratchDir("cli-usage");
    const CliResult none = RunCli({}, home);
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_FALSE(none.err.empty());
    const CliResult missing = RunCli({"analyze", (home / "missing.ost").string()}, home);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("missing.ost"), std::string::npos);
}

TEST(CliAnalyze, AStoreInUseFailsWithTheToolsMessage) {
    BM_REQUIRE_STORE(store, "unicode-sample.pst");
    const fs::path home = bmtest::ScratchDir("cli-in-use");
    const fs::path copy = home / "copy.pst";
    fs::copy_file(store, copy);
    const int fd = ::open(copy.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const CliResult r = RunCli({"analyze", "--json", copy.string()}, home);
    ::close(fd);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(std::string(kSourceFileInUse)), std::string::npos);
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "failed");
    EXPECT_EQ(j["message"], kSourceFileInUse);
}

TEST(CliAnalyze, AFileThatIsNoStoreFailsAsHighlyCorrupted) {
    const fs::path home = bmtest::ScratchDir("cli-garbage");
    bmtest::WriteTextFile(home / "junk.ost", std::string(2048, 'j'));
    const CliResult r = RunCli({"-q", "analyze", (home / "junk.ost").string()}, home);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "brightmend-cli: " + std::string(kFileHighlyCorrupted) + "\n");
}

TEST(CliAnalyze, ProgressIsPlainLinesOffATerminalAndNothingWhenQuiet) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    const fs::path home = bmtest::ScratchDir("cli-progress");
    const CliResult loud = RunCli({"analyze", store.string()}, home);
    EXPECT_EQ(loud.exitCode, 0);
    EXPECT_NE(loud.err.find("Analysing: 100%"), std::string::npos);
    EXPECT_EQ(loud.err.find('\r'), std::string::npos);
    const CliResult quiet = RunCli({"analyze", "--quiet", store.string()}, home);
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(quiet.out, loud.out);
    // The text form ends with the twelve summary lines.
    EXPECT_NE(quiet.out.find("Deleted Items    6\nInbox    66\nOutbox    0\n"), std::string::npos);
}

TEST(CliAnalyze, TheRunIsRecordedInTheActivityLog) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    const fs::path home = bmtest::ScratchDir("cli-log");
    ASSERT_EQ(RunCli({"-q", "analyze", store.string()}, home).exitCode, 0);
    const std::string log = bmtest::ReadTextFile(home / "data" / "brightmend" / std::string(kActivityLogFileName));
    EXPECT_EQ(log.rfind("\r\n" + std::string(kLogBannerStart), 0), 0u);
    EXPECT_NE(log.find("Select Source Path: " + store.string()), std::string::npos);
    EXPECT_NE(log.find("\r\nStep2: Analysis OST File\r\nDeleted Items    6\r\nInbox    66\r\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(home / "data" / "brightmend" / "completed.html"));
}

class CliStores : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        store_ = bmtest::SharedStore(GetParam());
        if (store_.empty()) GTEST_SKIP() << "shared store " << GetParam() << " not present";
        expected_ = LoadExpected(GetParam());
        ASSERT_FALSE(expected_.is_null()) << "no expected data for " << GetParam();
        home_ = bmtest::ScratchDir(std::string("cli-store-") + GetParam());
    }
    fs::path store_;
    fs::path home_;
    json expected_;
};

TEST_P(CliStores, AnalyzeCompletesWithTheMailFoldersAndCountsLibpffImplies) {
    const CliResult r = RunCli({"-q", "analyze", "--json", store_.string()}, home_);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "completed");
    EXPECT_EQ(j["message"], "");
    EXPECT_EQ(j["store"], store_.string());
    EXPECT_GT(j["formatVersion"].get<int>(), 0);
    // The same mail folders in the same order. Counts: the expected ones
    // follow the tool's rules, including an item of another class taken
    // for a contact because it carries a contact property of its own
    // (tools/expected_folder_counts.py), and must be equal.
    const json& got = j["mailFolders"];
    const json& want = expected_["mailFolders"];
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i]["path"], want[i]["path"]);
        EXPECT_EQ(got[i]["nid"], want[i]["nid"]);
        EXPECT_EQ(got[i]["messageCount"], want[i]["messageCount"]) << got[i]["path"];
    }
    // The JSON keys are camelCase names of the summary's labels.
    const json& counts = j["counts"];
    const std::pair<const char*, const char*> keys[] = {
        {"contacts", "Contacts Items"}, {"calendar", "Calendar"},   {"tasks", "Tasks"},
        {"notes", "Notes"},             {"journal", "Journal"},     {"inbox", "Inbox"},
        {"outbox", "Outbox"},           {"drafts", "Drafts"},       {"sentItems", "Sent Items"},
        {"deletedItems", "Deleted Items"}, {"junkEmail", "Junk E-mails"}, {"syncIssues", "Sync Issues"}};
    EXPECT_EQ(counts.size(), std::size(keys));
    for (const auto& [key, label] : keys) {
        ASSERT_TRUE(counts.contains(key)) << key;
        EXPECT_EQ(counts[key], expected_["counts"][label]) << key;
    }
    // Every folder below the root is in the tree, in the walk's order.
    std::vector<std::string> tree;
    for (const json& f : expected_["folders"]) tree.push_back(f["path"]);
    tree.erase(tree.begin());
    EXPECT_EQ(j["tree"].get<std::vector<std::string>>(), tree);
    EXPECT_EQ(j["contacts"], counts["contacts"]);
    EXPECT_EQ(j["calendar"], counts["calendar"]);
}

TEST_P(CliStores, ListHasEveryFolderWithTheItemsLibpffFinds) {
    const CliResult r = RunCli({"-q", "list", "--json", store_.string()}, home_);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "completed");
    std::map<std::uint32_t, std::pair<std::string, std::size_t>> got, want;
    std::size_t items = 0;
    for (const json& f : j["folders"]) {
        got[f["nid"]] = {f["path"], f["items"].size()};
        items += f["items"].size();
        for (const json& item : f["items"]) {
            ASSERT_TRUE(item.contains("messageClass")) << item.dump();
            EXPECT_TRUE(item["attachments"].is_array());
        }
    }
    for (const json& f : expected_["folders"]) want[f["nid"]] = {f["path"], f["items"].get<std::size_t>()};
    EXPECT_EQ(got, want);
    EXPECT_EQ(j["summary"]["folders"], expected_["folders"].size());
    EXPECT_EQ(j["summary"]["items"], items);
    EXPECT_EQ(j["summary"]["unreadableItems"], 0);
}

TEST_P(CliStores, ListOfOneFolderHasOnlyThatFolder) {
    const json& last = expected_["folders"].back();
    const CliResult r = RunCli({"-q", "list", "--json", "--folder", last["path"], store_.string()}, home_);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j["folders"].size(), 1u);
    EXPECT_EQ(j["folders"][0]["path"], last["path"]);
    EXPECT_EQ(j["folders"][0]["items"].size(), last["items"].get<std::size_t>());
    // The path may be given without its final backslash.
    std::string bare = last["path"];
    bare.pop_back();
    const CliResult again = RunCli({"-q", "list", "--json", "--folder", bare, store_.string()}, home_);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(json::parse(again.out)["folders"], j["folders"]);
}

INSTANTIATE_TEST_SUITE_P(Shared, CliStores,
                         ::testing::ValuesIn(bmtest::kSharedStoreNames),
                         [](const auto& info) { return bmtest::StoreTestName(info.param); });

TEST(CliList, ItemsCarryTheirFieldsAndIsoTimes) {
    BM_REQUIRE_STORE(store, "unicode-enron.pst");
    const fs::path home = bmtest::ScratchDir("cli-list-fields");
    const CliResult r = RunCli({"-q", "list", "--json", store.string()}, home);
    ASSERT_EQ(r.exitCode, 0);
    const json j = json::parse(r.out);
    EXPECT_EQ(j["formatVersion"], 23);
    std::size_t withTime = 0, withAttachments = 0;
    for (const json& f : j["folders"])
        for (const json& item : f["items"]) {
            for (const char* key : {"nid", "messageClass", "subject", "senderName", "senderAddress", "displayTo",
                                    "displayCc", "deliveryTime", "submitTime", "bodyLength", "hasHtml", "hasRtf",
                                    "attachments"})
                EXPECT_TRUE(item.contains(key)) << key;
            if (item["deliveryTime"].is_string()) {
                const std::string t = item["deliveryTime"];
                EXPECT_EQ(t.size(), 20u) << t;
                EXPECT_EQ(t.back(), 'Z');
                ++withTime;
            }
            withAttachments += item["attachments"].empty() ? 0 : 1;
        }
    EXPECT_GT(withTime, 0u);
    EXPECT_GT(withAttachments, 0u);
}

TEST(CliSearch, FoundFilesArePrintedWithTheirFourColumns) {
    const fs::path home = bmtest::ScratchDir("cli-search");
    fs::create_directories(home / "tree" / "sub");
    bmtest::WriteTextFile(home / "tree" / "sub" / "Mail.OST", std::string(20480, 'm'));
    bmtest::WriteTextFile(home / "tree" / "top.ost", "t");
    bmtest::WriteTextFile(home / "tree" / "other.pst", "p");
    const CliResult all = RunCli({"search", (home / "tree").string()}, home);
    ASSERT_EQ(all.exitCode, 0);
    const std::string base = (home / "tree").string() + "/";
    const std::string row1 = "Mail.OST\t" + base + "sub/Mail.OST\t20 KB\t";
    const std::string row2 = "top.ost\t" + base + "top.ost\t1 B\t";
    EXPECT_EQ(all.out.rfind(row1, 0), 0u) << all.out;
    EXPECT_NE(all.out.find("\n" + row2), std::string::npos) << all.out;
    EXPECT_NE(all.err.find("2 items found"), std::string::npos);
    const CliResult flat = RunCli({"-q", "search", "--no-subdirs", (home / "tree").string()}, home);
    EXPECT_EQ(flat.exitCode, 0);
    EXPECT_EQ(flat.out.rfind(row2, 0), 0u);
    EXPECT_EQ(flat.out.find("Mail.OST"), std::string::npos);
    EXPECT_EQ(flat.err, "");
}

TEST(CliSearch, AnInvalidDirectoryFailsWithTheSearchPagesMessage) {
    const fs::path home = bmtest::ScratchDir("cli-search-bad");
    const CliResult r = RunCli({"search", (home / "nowhere").string()}, home);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(std::string(kSearchInvalidDirectory)), std::string::npos);
}

TEST(CliInfo, InfoShowsLayoutEncodingAndTableSizes) {
    BM_REQUIRE_STORE(store, "4k-sample.ost");
    const fs::path home = bmtest::ScratchDir("cli-info");
    const CliResult r = RunCli({"info", store.string()}, home);
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("format version       36"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("header crypt method  0 (none)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("block entries"), std::string::npos);
    EXPECT_NE(r.out.find("node records"), std::string::npos);
}

TEST(CliInfo, AFileOfNoKnownLayoutIsShownAndFails) {
    const fs::path home = bmtest::ScratchDir("cli-info-none");
    const fs::path file = home / "notes.ost";
    std::ofstream(file) << std::string(2048, 'x');
    const CliResult r = RunCli({"info", file.string()}, home);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("file size            2048"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("is no store layout this tool reads"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace bm
