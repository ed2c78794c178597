// What brightmend-cli save says and leaves behind when it does not save
// everything: nothing saved of what was there, a run killed with SIGKILL,
// a file-size limit (standing in for a full disk), and what a listing
// stopped by a signal says.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "engine/engine_test_helpers.h"
#include "output/pst/store_writer.h"
#include "store/nid_types.h"
#include "store/store.h"
#include "support/inbox_store.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using namespace bmtest::cli_names;

using bmtest::WriteInbox;

// Every file in `dir` (none when it is not there).
std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    return names;
}

TEST(CliVerdict, ASaveThatSavesNothingOfWhatWasThereFailsAndSaysSo) {
    const fs::path home = bmtest::ScratchDir("cli-verdict-none-saved");
    const fs::path store = WriteInbox(home / "one.ost", 1, 0);
    // The one mail's data block is overwritten: the index still names the
    // mail, but it cannot be read.
    {
        StoreFile s;
        StoreReader reader;
        ASSERT_EQ(OpenStore(s, store, StoreOpenMode::SharedRead), 0);
        BuildIndexes(s, reader);
        const BlockEntry* block = nullptr;
        for (const NodeEntry& node : s.forest.records())
            if (NidTypeOf(node.nid) == kNidTypeNormalMessage) block = node.dataBlock();
        ASSERT_NE(block, nullptr);
        const std::uint64_t offset = block->offset();
        const std::uint32_t size = block->size();
        ReleaseStore(s);
        std::fstream f(store, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(offset));
        f.write(std::string(size, '\xA5').data(), size);
    }
    const std::string headline = "0 of 1 item was saved; 1 could not be recovered \u2014 see the report";
    const CliResult r = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "failed");
    EXPECT_EQ(j["message"], headline);
    EXPECT_EQ(j["itemsSaved"], 0);
    EXPECT_EQ(j["itemsNotRecovered"], 1);
    const json report = json::parse(bmtest::ReadTextFile(j["reportJson"].get<std::string>()));
    EXPECT_EQ(report["outcome"], "failed");
    EXPECT_EQ(report["message"], headline);
    EXPECT_NE(bmtest::ReadTextFile(j["report"].get<std::string>()).find("Outcome: failed\n" + headline + "\n"),
              std::string::npos);

    // The text result's last line says the same, never "completed successfully".
    const CliResult t = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all"}, home);
    EXPECT_EQ(t.exitCode, 1) << t.err;
    EXPECT_TRUE(t.out.ends_with(headline + "\n")) << t.out;
    EXPECT_EQ(t.out.find("successfully"), std::string::npos) << t.out;
}

TEST(CliVerdict, ASaveKilledWithSigkillLeavesNothingUnderTheStoresNameAndGoesOnFromItsJournal) {
    const fs::path home = bmtest::ScratchDir("cli-verdict-sigkill");
    const fs::path store = WriteInbox(home / "big.ost", 3000, 16 * 1024);
    const fs::path output = home / "out" / "saved.pst";
    fs::create_directories(output.parent_path());
    const pid_t pid = bmtest::SpawnCli({"-q", "save", store.string(), "--output", output.string(), "--all"}, home);
    ASSERT_GT(pid, 0);
    // Its journal is begun as soon as its store is.
    ASSERT_TRUE(bmtest::WaitForFileEndingIn(output.parent_path(), ".pst.journal", std::chrono::seconds(60)));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the save ended before it could be killed";
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_FALSE(fs::exists(fs::symlink_status(output))) << "a store under its name after a kill";
    const fs::path partial = output.string() + ".partial";
    ASSERT_TRUE(fs::exists(partial));
    // The left-over is never taken for a store.
    for (const char* command : {"list", "analyze"}) {
        const CliResult r = RunCli({"-q", command, partial.string()}, home);
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_NE(r.err.find("was still writing"), std::string::npos) << command << ": " << r.err;
    }
    // Its name is not taken again while it is there.
    const CliResult again = RunCli({"-q", "save", store.string(), "--output", output.string(), "--all"}, home);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_NE(RunCli({"-q", "list", partial.string()}, home).err.find("save --resume"), std::string::npos);

    // The save goes on from its journal, as it was asked, into its store;
    // nothing else may be asked with it.
    const CliResult mixed = RunCli({"-q", "save", "--resume", output.parent_path().string(), "--all"}, home);
    EXPECT_EQ(mixed.exitCode, 2) << mixed.err;
    const CliResult resumed = RunCli({"-q", "save", "--resume", output.parent_path().string(), "--json"}, home);
    ASSERT_EQ(resumed.exitCode, 0) << resumed.out << resumed.err;
    const json j = json::parse(resumed.out);
    EXPECT_EQ(j["outcome"], "completed");
    EXPECT_EQ(j["itemsSaved"], 3000);
    ASSERT_EQ(j["outputStores"].size(), 1u);
    EXPECT_EQ(j["outputStores"][0], output.string());
    bmtest::ExpectStrictlyClean(output);
    const json report = json::parse(bmtest::ReadTextFile(j["reportJson"].get<std::string>()));
    EXPECT_NE(report["resumed"].get<std::string>().find("saved.pst.journal"), std::string::npos) << report["resumed"];
    EXPECT_FALSE(fs::exists(partial));
    EXPECT_FALSE(fs::exists(output.string() + ".journal"));
    const CliResult nothing = RunCli({"-q", "save", "--resume", output.parent_path().string()}, home);
    EXPECT_EQ(nothing.exitCode, 1);
    EXPECT_NE(nothing.err.find("no save that was cut off"), std::string::npos) << nothing.err;
}

TEST(CliVerdict, AFileSizeLimitFailsTheSaveCleanlyAndLeavesNeitherAPartialStoreNorAnEmptyReport) {
    const fs::path home = bmtest::ScratchDir("cli-verdict-file-size");
    const fs::path store = WriteInbox(home / "big.ost", 60, 64 * 1024);
    // 2 MiB for every file the save writes, in a shell of its own: the
    // store passes it, the small report and log do not.
    const std::string command = "(ulimit -f 2048; BRIGHTMEND_CONFIG=" + ShellQuote((home / "brightmend.conf").string()) +
                                " XDG_DATA_HOME=" + ShellQuote((home / "data").string()) + " " +
                                ShellQuote(BRIGHTMEND_CLI) + " -q save " + ShellQuote(store.string()) + " --to " +
                                ShellQuote(home.string()) + " --all --json 2>" +
                                ShellQuote((home / "stderr.txt").string()) + ")";
    const bmtest::Shell r = bmtest::RunShell(command, home / "stdout.txt");
    // Not ended by SIGXFSZ (128 + 25): the write fails and the run cleans up.
    EXPECT_EQ(r.code, 1) << r.text << bmtest::ReadTextFile(home / "stderr.txt");
    const json j = json::parse(r.text);
    EXPECT_EQ(j["outcome"], "failed");
    EXPECT_NE(j["message"].get<std::string>().find("File too large"), std::string::npos) << j["message"];
    EXPECT_NE(j["message"].get<std::string>().find("was removed"), std::string::npos) << j["message"];
    EXPECT_TRUE(j["outputStores"].empty());
    for (const std::string& name : FilesIn(home / "Repair")) {
        EXPECT_FALSE(name.ends_with(".pst") || name.ends_with(".partial") || name.ends_with(".incomplete")) << name;
        EXPECT_GT(fs::file_size(home / "Repair" / name), 0u) << name;
    }
}

// A listing stopped by SIGTERM is no analysis the user aborted: it says
// that the listing stopped.
TEST(CliVerdict, AListStoppedBySigtermSaysTheListingStopped) {
    const fs::path home = bmtest::ScratchDir("cli-verdict-list-stopped");
    const fs::path store = WriteInbox(home / "many.ost", 20000, 0);
    const pid_t pid = bmtest::SpawnCli({"-q", "list", store.string()}, home);
    ASSERT_GT(pid, 0);
    // The signal goes once the first folder is listed.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (bmtest::ReadTextFile(home / "stdout.txt").find("(nid 0x") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
        ::usleep(1000);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the listing ended before it could be stopped";
    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::string err = bmtest::ReadTextFile(home / "stderr.txt");
    EXPECT_NE(err.find("Listing stopped before the end of the store"), std::string::npos) << err;
    EXPECT_EQ(err.find("Analysis process aborted by user"), std::string::npos) << err;
}

}  // namespace
}  // namespace bm
