// A save that runs out of room leaves no partial file under the normal .pst
// name, and says so; text that holds terminal control bytes (subjects and
// folder names of a store) is never printed raw by `list` or `analyze` nor
// written raw into a text report, while the JSON keeps it exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "output/pst/store_writer.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using namespace bmtest::cli_names;

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
    // The store the full disk cut short is of no use: it is removed under
    // every name rather than left filling the disk, and the message says so.
    for (const auto& entry : fs::directory_iterator(home / "Repair")) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.ends_with(".pst") || name.ends_with(".partial") || name.ends_with(".incomplete")) << name;
    }
    EXPECT_TRUE(result["outputStores"].empty()) << result["outputStores"];
    EXPECT_NE(result["message"].get<std::string>().find("was removed"), std::string::npos) << result["message"];
}

// The file in `dir` whose name ends with `suffix`; empty when none does.
fs::path FileEndingWith(const fs::path& dir, const std::string& suffix) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return e.path();
    }
    return {};
}

TEST(CliHostileOutput, TextOutputAndTextReportsHoldNoTerminalControlBytesAndJsonKeepsThem) {
    const fs::path home = bmtest::ScratchDir("cli-escapes");
    const fs::path store = home / "escapes.ost";
    {
        auto writer = pst::PstStore::Create(store, {});
        const auto folder = writer->CreateFolder(writer->ipmSubtree(), "Box\x1b]0;owned\x07");
        writer->CreateFolder(folder, "Sub\x1b[31mred\xc2\x9b" "2J");
        writer->AddMessage(folder, bmtest::MessageOf("IPM.Note", "red \x1b[31malert\x1b[0m \xc2\x9b" "2J done"));
        writer->Finish();
    }
    const auto save = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all"}, home);
    ASSERT_EQ(save.exitCode, 0) << save.err;
    const fs::path reportText = FileEndingWith(home / "Repair", " report.txt");
    const fs::path reportJson = FileEndingWith(home / "Repair", " report.json");
    ASSERT_FALSE(reportText.empty());
    ASSERT_FALSE(reportJson.empty());

    struct Text {
        const char* what;
        std::string text;
        const char* readable;  // what the escaped bytes said, still there to read
    };
    const auto list = RunCli({"-q", "list", store.string()}, home);
    const auto analyze = RunCli({"-q", "analyze", store.string()}, home);
    ASSERT_EQ(list.exitCode, 0) << list.err;
    ASSERT_EQ(analyze.exitCode, 0) << analyze.err;
    for (const Text& t : {Text{"list", list.out, "alert"}, Text{"analyze", analyze.out, "owned"},
                          Text{"report.txt", bmtest::ReadTextFile(reportText), "owned"}}) {
        SCOPED_TRACE(t.what);
        EXPECT_EQ(t.text.find('\x1b'), std::string::npos) << t.text;
        EXPECT_EQ(t.text.find('\x07'), std::string::npos) << t.text;
        EXPECT_EQ(t.text.find("\xc2\x9b"), std::string::npos) << t.text;
        EXPECT_NE(t.text.find(t.readable), std::string::npos) << t.text;
        EXPECT_NE(t.text.find("Box\\x1b]0;owned\\x07"), std::string::npos) << t.text;
    }

    // The JSON keeps the names as they are (escaped by JSON itself).
    const auto listJson = RunCli({"-q", "list", "--json", store.string()}, home);
    ASSERT_EQ(listJson.exitCode, 0) << listJson.err;
    EXPECT_NE(listJson.out.find("\\u001b[31malert"), std::string::npos) << listJson.out;
    const auto analyzeJson = RunCli({"-q", "analyze", "--json", store.string()}, home);
    ASSERT_EQ(analyzeJson.exitCode, 0) << analyzeJson.err;
    const std::string box = "Personal Folders\\Box\x1b]0;owned\x07\\";
    const std::string sub = box + "Sub\x1b[31mred\xc2\x9b" "2J\\";
    const json analyzed = json::parse(analyzeJson.out);
    EXPECT_NE(std::find(analyzed["tree"].begin(), analyzed["tree"].end(), sub), analyzed["tree"].end())
        << analyzeJson.out;
    const json report = json::parse(bmtest::ReadTextFile(reportJson));
    bool exact = false;
    for (const json& f : report["reconciliation"]["folders"]) exact = exact || f["path"] == box;
    EXPECT_TRUE(exact) << report.dump();
}

}  // namespace
}  // namespace bm
