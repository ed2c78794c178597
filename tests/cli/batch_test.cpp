// brightmend-cli save --batch: every store of a folder or a list saved into
// its own output (one or several at once, or a shard of them), a store that
// fails reported while the run goes on, one summary, exit 0 only when every
// store was saved whole, and a stop that ends the save under way and starts
// no other.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "support/inbox_store.h"
#include "support/test_paths.h"

namespace bmtest {
namespace {

using namespace cli_names;

// Store file name -> its entry in the summary.
std::map<std::string, json> EntriesByName(const json& summary) {
    std::map<std::string, json> out;
    for (const json& e : summary["stores"]) out[fs::path(e["store"].get<std::string>()).filename().string()] = e;
    return out;
}

TEST(CliBatch, EveryStoreOfAFolderOrAListIsSavedAndAFailureDoesNotStopTheRest) {
    BM_REQUIRE_STORE(ost, "unicode-sample.ost");
    BM_REQUIRE_STORE(pst, "ansi-sample.pst");
    const fs::path home = ScratchDir("cli-batch");
    const fs::path in = home / "in";
    fs::create_directories(in / "sub");
    fs::copy_file(ost, in / "unicode-sample.ost");
    fs::copy_file(pst, in / "sub" / "ansi-sample.pst");
    WriteTextFile(in / "broken.ost", std::string(5000, 'x'));
    ASSERT_EQ(::mkfifo((in / "pipe.ost").c_str(), 0600), 0);
    WriteTextFile(in / "notes.txt", "not a store");
    const fs::path out = home / "out";
    fs::create_directories(out);

    const CliResult folder = RunCli({"-q", "save", "--batch", in.string(), "--to", out.string(), "--all", "--json"}, home, 300);
    EXPECT_EQ(folder.exitCode, 3) << folder.out << folder.err;
    const json summary = json::parse(folder.out);
    EXPECT_EQ(summary["schema"], "brightmend.batch/1");
    EXPECT_EQ(summary["outcome"], "partial");
    EXPECT_EQ(summary["storesFound"], 4);
    EXPECT_EQ(summary["storesWhole"], 2);
    const auto entries = EntriesByName(summary);
    ASSERT_EQ(entries.size(), 4u);
    for (const char* failed : {"broken.ost", "pipe.ost"}) {
        EXPECT_EQ(entries.at(failed)["outcome"], "failed") << failed;
        EXPECT_EQ(entries.at(failed)["exitCode"], 1) << failed;
        EXPECT_FALSE(entries.at(failed)["message"].get<std::string>().empty()) << failed;
    }
    for (const char* saved : {"unicode-sample.ost", "ansi-sample.pst"}) {
        const json& e = entries.at(saved);
        EXPECT_EQ(e["outcome"], "completed") << saved;
        EXPECT_EQ(e["save"]["schema"], "brightmend.save/2");
        ASSERT_EQ(e["save"]["outputStores"].size(), 1u) << saved;
        const fs::path store = e["save"]["outputStores"][0].get<std::string>();
        EXPECT_EQ(store.parent_path(), out / "Repair");
        ExpectStrictlyClean(store);
    }

    // A list names the stores itself; comments and empty lines are skipped.
    const fs::path list = home / "stores.txt";
    WriteTextFile(list, "# the good ones\n" + (in / "unicode-sample.ost").string() + "\n\n" +
                            (in / "sub" / "ansi-sample.pst").string() + "\n");
    const CliResult listed = RunCli({"-q", "save", "--batch", list.string(), "--to", out.string(), "--all"}, home, 300);
    EXPECT_EQ(listed.exitCode, 0) << listed.out << listed.err;
    EXPECT_NE(listed.out.find("2 of 2 stores saved whole"), std::string::npos) << listed.out;

    // Two at once give the same summary, in the batch's order.
    const CliResult together =
        RunCli({"-q", "save", "--batch", in.string(), "--to", out.string(), "--all", "--json", "--jobs", "2"}, home, 300);
    EXPECT_EQ(together.exitCode, 3) << together.err;
    const json both = json::parse(together.out);
    ASSERT_EQ(both["stores"].size(), summary["stores"].size());
    for (std::size_t i = 0; i < both["stores"].size(); ++i) {
        EXPECT_EQ(both["stores"][i]["store"], summary["stores"][i]["store"]);
        EXPECT_EQ(both["stores"][i]["outcome"], summary["stores"][i]["outcome"]);
    }

    // Shards K/N of one batch take every store exactly once between them,
    // and batch-summary merges their summaries into the batch's own.
    std::vector<std::string> sharded;
    const fs::path summaries = home / "summaries";
    fs::create_directories(summaries);
    WriteTextFile(summaries / "other.json", "{\"schema\": \"brightmend.save/2\"}");  // passed over
    for (const char* shard : {"1/3", "2/3", "3/3"}) {
        const CliResult part = RunCli(
            {"-q", "save", "--batch", in.string(), "--to", out.string(), "--all", "--json", "--shard", shard}, home, 300);
        const json j = json::parse(part.out);
        EXPECT_EQ(j["shard"], shard);
        for (const json& e : j["stores"]) sharded.push_back(e["store"]);
        WriteTextFile(summaries / ("shard-" + std::string(1, shard[0]) + ".json"), part.out);
    }
    std::vector<std::string> all;
    for (const json& e : summary["stores"]) all.push_back(e["store"]);
    std::vector<std::string> sorted = sharded;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, all);

    const CliResult merged = RunCli({"-q", "batch-summary", summaries.string(), "--json"}, home);
    EXPECT_EQ(merged.exitCode, 3) << merged.err;
    const json m = json::parse(merged.out);
    EXPECT_EQ(m["schema"], "brightmend.batch/1");
    EXPECT_EQ(m["outcome"], "partial");
    EXPECT_EQ(m["storesFound"], 4);
    EXPECT_EQ(m["storesWhole"], 2);
    EXPECT_TRUE(m["shardsMissing"].empty());
    std::vector<std::string> order;
    for (const json& e : m["stores"]) order.push_back(e["store"]);
    EXPECT_EQ(order, all);  // the batch's order, not the shards'
    // A shard left out is named; the same one twice counts once.
    const CliResult some = RunCli({"-q", "batch-summary", (summaries / "shard-1.json").string(),
                                   (summaries / "shard-2.json").string(), (summaries / "shard-1.json").string(),
                                   "--json"}, home);
    EXPECT_EQ(some.exitCode, 3) << some.err;
    const json s = json::parse(some.out);
    EXPECT_EQ(s["shardsMissing"], json::array({"3/3"}));
    EXPECT_EQ(s["stores"].size(), 3u);
    const CliResult wrong = RunCli({"-q", "batch-summary", (summaries / "other.json").string()}, home);
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("not a batch summary"), std::string::npos) << wrong.err;
}

TEST(CliBatch, AnExportBatchExportsEveryStoreIntoAFolderOfItsOwn) {
    const fs::path home = ScratchDir("cli-batch-export");
    const fs::path in = home / "in";
    fs::create_directories(in);
    WriteInbox(in / "a.ost", 3, 0);
    WriteInbox(in / "b.pst", 2, 100);
    WriteTextFile(in / "c.ost", std::string(3000, 'x'));
    const fs::path out = home / "out";
    fs::create_directories(out);
    const CliResult r = RunCli({"-q", "export", "--batch", in.string(), "--to", out.string(), "--format", "eml",
                                "--all", "--json", "--jobs", "2"}, home, 300);
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    const json summary = json::parse(r.out);
    EXPECT_EQ(summary["command"], "export");
    EXPECT_EQ(summary["storesFound"], 3);
    EXPECT_EQ(summary["storesWhole"], 2);
    const auto entries = EntriesByName(summary);
    EXPECT_EQ(entries.at("c.ost")["outcome"], "failed");
    for (const auto& [name, messages] : {std::pair{"a.ost", 3}, std::pair{"b.pst", 2}}) {
        const json& e = entries.at(name)["export"];
        EXPECT_EQ(e["schema"], "brightmend.export/1") << name;
        EXPECT_EQ(e["written"]["messages"], messages) << name;
        const fs::path folder = e["folder"].get<std::string>();
        EXPECT_EQ(folder.parent_path(), out / "Export") << name;
        EXPECT_TRUE(fs::is_directory(folder / "Mail" / "Inbox")) << name;
    }
    // Its shards merge as a save batch's do.
    for (const char* shard : {"1/2", "2/2"}) {
        const CliResult part = RunCli({"-q", "export", "--batch", in.string(), "--to", out.string(), "--format",
                                       "mbox", "--all", "--json", "--shard", shard}, home, 300);
        WriteTextFile(home / ("shard-" + std::string(1, shard[0]) + ".json"), part.out);
    }
    const CliResult merged = RunCli({"-q", "batch-summary", (home / "shard-1.json").string(),
                                     (home / "shard-2.json").string(), "--json"}, home);
    const json m = json::parse(merged.out);
    EXPECT_EQ(m["command"], "export");
    EXPECT_EQ(m["storesFound"], 3);
    EXPECT_EQ(m["storesWhole"], 2);
    // Without a format there is nothing to export to.
    EXPECT_EQ(RunCli({"-q", "export", "--batch", in.string(), "--to", out.string(), "--all"}, home).exitCode, 2);
}

TEST(CliBatch, ABatchThatCannotRunIsRefusedWithItsExitCode) {
    BM_REQUIRE_STORE(ost, "unicode-sample.ost");
    const fs::path home = ScratchDir("cli-batch-refused");
    const fs::path empty = home / "empty";
    fs::create_directories(empty);
    const struct {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
    } cases[] = {
        {"a store beside --batch", {"save", ost.string(), "--batch", empty.string(), "--to", home.string(), "--all"}, 2},
        {"no --to", {"save", "--batch", empty.string(), "--all"}, 2},
        {"no folders", {"save", "--batch", empty.string(), "--to", home.string()}, 2},
        {"no store and no batch", {"save", "--to", home.string(), "--all"}, 2},
        {"no such folder or list", {"save", "--batch", (home / "none").string(), "--to", home.string(), "--all"}, 1},
        {"a folder without stores", {"save", "--batch", empty.string(), "--to", home.string(), "--all"}, 1},
        {"a shard past its count", {"save", "--batch", empty.string(), "--to", home.string(), "--all", "--shard", "4/3"}, 2},
        {"a shard that is no fraction", {"save", "--batch", empty.string(), "--to", home.string(), "--all", "--shard", "2"}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunRefused(c.args, home, c.exitCode);
    }
    EXPECT_FALSE(fs::exists(home / "Repair"));
}

TEST(CliBatch, SigtermEndsTheSaveUnderWayAndStartsNoOther) {
    const fs::path home = ScratchDir("cli-batch-sigterm");
    const fs::path in = home / "in";
    fs::create_directories(in);
    WriteInbox(in / "a.ost", 3000, 16 * 1024);
    fs::copy_file(in / "a.ost", in / "b.ost");
    const fs::path out = home / "out";
    fs::create_directories(out);
    const pid_t pid = SpawnCli({"-q", "save", "--batch", in.string(), "--to", out.string(), "--all", "--json"}, home);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForFileEndingIn(out / "Repair", ".pst.partial", std::chrono::seconds(60)));
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << ReadTextFile(home / "stderr.txt");
    const json summary = json::parse(ReadTextFile(home / "stdout.txt"));
    EXPECT_EQ(summary["outcome"], "aborted");
    ASSERT_EQ(summary["stores"].size(), 1u);
    EXPECT_EQ(summary["stores"][0]["outcome"], "aborted");
    EXPECT_EQ(summary["stores"][0]["exitCode"], 130);
    // The stopped save closed its store; the other was never begun.
    ASSERT_EQ(summary["stores"][0]["save"]["outputStores"].size(), 1u);
    ExpectStrictlyClean(summary["stores"][0]["save"]["outputStores"][0].get<std::string>());
}

}  // namespace
}  // namespace bmtest
