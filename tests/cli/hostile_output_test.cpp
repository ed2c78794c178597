// A save that runs out of room leaves no partial file under the normal .pst
// name, and says so; text that holds terminal control bytes (subjects and
// folder names of a store) is never printed raw by `list`.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "output/pst/store_writer.h"
#include "support/test_paths.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using bmtest::RunCli;
using bmtest::ShellQuote;
using nlohmann::json;

TEST(CliHostileOutput, ASaveThatRunsOutOfRoomLeavesNoStoreUnderTheNormalName) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    const fs::path home = bmtest::ScratchDir("cli-full-disk");
    // The file size limit stands in for a full disk: writes past it fail
    // (EFBIG) the way they fail with ENOSPC.
    const std::string command = "trap '' XFSZ; ulimit -f 1000; exec " + ShellQuote(BRIGHTMEND_CLI) +
                                " -q save " + ShellQuote(store.string()) + " --to " + ShellQuote(home.string()) +
                                " --all --json >" + ShellQuote((home / "out.json").string()) + " 2>/dev/null";
    const int status = std::system(("sh -c " + ShellQuote(command)).c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const json result = json::parse(bmtest::ReadTextFile(home / "out.json"));
    EXPECT_EQ(result["outcome"], "failed");
    for (const auto& entry : fs::directory_iterator(home / "Repair"))
        EXPECT_NE(entry.path().extension(), ".pst") << entry.path();
    ASSERT_EQ(result["outputStores"].size(), 1u);
    const fs::path named = result["outputStores"][0].get<std::string>();
    EXPECT_EQ(named.extension(), ".incomplete");
    EXPECT_TRUE(fs::exists(named)) << "the JSON names the file as it is now";
}

TEST(CliHostileOutput, ListPrintsNoTerminalControlBytes) {
    const fs::path home = bmtest::ScratchDir("cli-escapes");
    const fs::path store = home / "escapes.ost";
    {
        auto writer = pst::PstStore::Create(store, {});
        const auto folder = writer->CreateFolder(writer->ipmSubtree(), "Box\x1b]0;owned\x07");
        writer->AddMessage(folder, bmtest::MessageOf("IPM.Note", "red \x1b[31malert\x1b[0m \xc2\x9b" "2J done"));
        writer->Finish();
    }
    const auto r = RunCli({"-q", "list", store.string()}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x07'), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\xc2\x9b"), std::string::npos) << r.out;
    // What the bytes said is still there to read.
    EXPECT_NE(r.out.find("alert"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("owned"), std::string::npos) << r.out;
    // The JSON keeps the text as it is (escaped by JSON itself).
    const auto j = RunCli({"-q", "list", "--json", store.string()}, home);
    ASSERT_EQ(j.exitCode, 0) << j.err;
    EXPECT_NE(j.out.find("\\u001b[31malert"), std::string::npos) << j.out;
}

}  // namespace
}  // namespace bm
